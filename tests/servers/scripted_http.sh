#!/bin/bash
# Starts or stops the scripted HTTP server of the client's tests on loopback
# ($CV_SCRIPTED_HTTP_PORT, and for redirects to another site also on
# $CV_SCRIPTED_HTTP_ALT_ADDR and on port $CV_SCRIPTED_HTTP_ALT_PORT).
# Usage: scripted_http.sh start|stop
set -u
source "$(dirname "$0")/../../scripts/env.sh"
dir="$CV_SRV_DIR/scripted_http"
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
    nohup python3 "$(dirname "$0")/scripted_http.py" "$CV_SCRIPTED_HTTP_PORT" "$pidfile" \
      "$CV_SCRIPTED_HTTP_ALT_ADDR:$CV_SCRIPTED_HTTP_PORT" "127.0.0.1:$CV_SCRIPTED_HTTP_ALT_PORT" \
      </dev/null >"$dir/log" 2>&1 &
    for _ in $(seq 100); do
      if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $CV_SCRIPTED_HTTP_PORT), 1).close()" 2>/dev/null; then
        exit 0
      fi
      sleep 0.1
    done
    echo "scripted HTTP server did not start:"; cat "$dir/log"; exit 1 ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
