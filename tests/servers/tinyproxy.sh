#!/bin/bash
# Starts or stops two tinyproxy instances on loopback: one without
# credentials on $CV_PROXY_PORT, one with Basic authentication
# ($CV_PROXY_USER / $CV_PROXY_PASSWORD) on $CV_PROXY_AUTH_PORT.
# Usage: tinyproxy.sh start|stop
set -u
source "$(dirname "$0")/../../scripts/env.sh"
dir="$CV_SRV_DIR/tinyproxy"

stop_one() { # name
  local pidfile="$dir/$1.pid"
  if [ -f "$pidfile" ]; then
    local pid; pid="$(cat "$pidfile")"
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    rm -f "$pidfile"
  fi
}

start_one() { # name port [user password]
  local name="$1" port="$2"
  local conf="$dir/$name.conf"
  {
    [ "$(id -u)" = 0 ] && { echo "User root"; echo "Group root"; }
    echo "Port $port"
    echo "Listen 127.0.0.1"
    echo "Timeout 60"
    echo "MaxClients 64"
    echo "Allow 127.0.0.1"
    echo "LogFile \"$dir/$name.log\""
    echo "LogLevel Info"
    echo "DisableViaHeader Yes"
    # Tunnels only to the TLS test servers.
    for p in "$CV_HTTPS_PORT" "$CV_HTTPS_EXPIRED_PORT" "$CV_HTTPS_WRONG_NAME_PORT" "$CV_HTTPS_UNTRUSTED_PORT" \
             "$CV_HTTPS_LEAF_PORT" "$CV_HTTPS_UNTRUSTED_LEAF_PORT"; do
      echo "ConnectPort $p"
    done
    [ $# -ge 4 ] && echo "BasicAuth $3 $4"
  } >"$conf"
  nohup tinyproxy -d -c "$conf" </dev/null >"$dir/$name.out" 2>&1 &
  echo $! >"$dir/$name.pid"
  for _ in $(seq 100); do
    if python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1).close()" 2>/dev/null; then
      return 0
    fi
    kill -0 "$(cat "$dir/$name.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "tinyproxy $name did not start:"; cat "$dir/$name.out" "$dir/$name.log" 2>/dev/null
  return 1
}

case "${1:-}" in
  start)
    stop_one open; stop_one auth
    mkdir -p "$dir"
    start_one open "$CV_PROXY_PORT" || exit 1
    start_one auth "$CV_PROXY_AUTH_PORT" "$CV_PROXY_USER" "$CV_PROXY_PASSWORD" || exit 1 ;;
  stop) stop_one open; stop_one auth ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
