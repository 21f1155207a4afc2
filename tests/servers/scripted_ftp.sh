#!/bin/bash
# The scripted FTP server of the transport tests (scripted_ftp.py) on
# $CV_FTP_SCRIPTED_ADDR port 21, serving $CV_FTP_DIR; command logs go to
# $CV_SRV_DIR/scripted_ftp.
# Usage: scripted_ftp.sh start|stop
set -uo pipefail
source "$(dirname "$0")/../../scripts/env.sh"

DIR="$CV_SRV_DIR/scripted_ftp"
PIDFILE="$DIR/server.pid"
PY=/usr/bin/python3
[ -x "$PY" ] || PY=python3

stop() {
  [ -f "$PIDFILE" ] || return 0
  local pid; pid="$(cat "$PIDFILE")"
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null &&
     grep -q scripted_ftp "/proc/$pid/cmdline" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$PIDFILE"
}

case "${1:-}" in
  start)
    stop
    mkdir -p "$DIR" "$CV_FTP_DIR"
    setsid "$PY" "$(dirname "$0")/scripted_ftp.py" "$CV_FTP_SCRIPTED_ADDR" "$CV_FTP_DIR" "$DIR" \
      >"$DIR/server.out" 2>&1 </dev/null &
    echo $! >"$PIDFILE"
    for _ in $(seq 100); do
      if (exec 3<>"/dev/tcp/$CV_FTP_SCRIPTED_ADDR/21") 2>/dev/null; then exit 0; fi
      sleep 0.1
    done
    echo "scripted FTP server did not come up"; cat "$DIR/server.out"; exit 1 ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
