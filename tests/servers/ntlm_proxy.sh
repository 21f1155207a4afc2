#!/bin/bash
# Starts or stops the proxy that demands a login (NTLM only on
# $CV_NTLM_PROXY_PORT; Basic, NTLM and Negotiate on $CV_NEGOTIATE_PROXY_PORT;
# Basic only on $CV_BASIC_PROXY_PORT), checking answers against
# $CV_NTLM_DOMAIN\$CV_NTLM_USER / $CV_NTLM_PASSWORD.
# Its log of logins is $CV_SRV_DIR/ntlm_proxy/log. Usage: ntlm_proxy.sh start|stop
set -u
source "$(dirname "$0")/../../scripts/env.sh"
dir="$CV_SRV_DIR/ntlm_proxy"
pidfile="$dir/pid"

stop() {
  if [ -f "$pidfile" ]; then
    kill "$(cat "$pidfile")" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$(cat "$pidfile")" 2>/dev/null || break; sleep 0.1; done
    rm -f "$pidfile"
  fi
}

case "${1:-}" in
  start)
    stop
    mkdir -p "$dir"
    : >"$dir/log"
    nohup python3 "$(dirname "$0")/ntlm_proxy.py" "$CV_NTLM_PROXY_PORT" "$CV_NEGOTIATE_PROXY_PORT" \
      "$CV_BASIC_PROXY_PORT" "$pidfile" "$dir/log" </dev/null >"$dir/out" 2>&1 &
    for _ in $(seq 100); do
      if python3 -c "import socket; [socket.create_connection(('127.0.0.1', p), 1).close() for p in ($CV_NTLM_PROXY_PORT, $CV_NEGOTIATE_PROXY_PORT, $CV_BASIC_PROXY_PORT)]" 2>/dev/null; then
        exit 0
      fi
      sleep 0.1
    done
    echo "NTLM proxy did not start:"; cat "$dir/out"; exit 1 ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
