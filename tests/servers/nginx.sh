#!/bin/bash
# Starts or stops nginx on loopback ($CV_HTTP_PORT) serving $CV_WWW_DIR, with
# a configuration of our own in $CV_SRV_DIR/nginx. Usage: nginx.sh start|stop
set -u
source "$(dirname "$0")/../../scripts/env.sh"
dir="$CV_SRV_DIR/nginx"
conf="$dir/nginx.conf"

stop() {
  if [ -f "$dir/nginx.pid" ]; then
    pid="$(cat "$dir/nginx.pid")"
    kill -QUIT "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    rm -f "$dir/nginx.pid"
  fi
}

case "${1:-}" in
  start)
    stop
    mkdir -p "$dir/tmp" "$CV_WWW_DIR"
    # Workers may run as an unprivileged user: they must be able to read the
    # document root.
    chmod a+rx "$CV_SRV_DIR" "$CV_WWW_DIR" 2>/dev/null
    user_line=""
    [ "$(id -u)" = 0 ] && user_line="user root;"
    cat >"$conf" <<CONF
$user_line
worker_processes 1;
daemon on;
pid $dir/nginx.pid;
error_log $dir/error.log warn;
events { worker_connections 256; }
http {
  access_log $dir/access.log;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  default_type application/octet-stream;
  sendfile on;
  server {
    listen 127.0.0.1:$CV_HTTP_PORT;
    server_name localhost;
    root $CV_WWW_DIR;
    autoindex off;
    location /auth/ {
      auth_basic "test";
      auth_basic_user_file $dir/htpasswd;
    }
    # The same files over a slow line: 32 KB/s per request.
    location /slow/ {
      alias $CV_WWW_DIR/;
      limit_rate 32k;
    }
  }
}
CONF
    # Site credentials for the tests of Basic authentication: siteuser/sitepass.
    printf 'siteuser:%s\n' "$(openssl passwd -apr1 sitepass 2>/dev/null || python3 -c 'import crypt;print(crypt.crypt("sitepass","ab"))')" >"$dir/htpasswd"
    if ! nginx -c "$conf" -p "$dir" -e "$dir/error.log" 2>"$dir/start.log"; then
      echo "nginx did not start:"; cat "$dir/start.log" "$dir/error.log" 2>/dev/null; exit 1
    fi
    for _ in $(seq 100); do [ -f "$dir/nginx.pid" ] && exit 0; sleep 0.1; done
    echo "nginx wrote no pid file"; exit 1 ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
