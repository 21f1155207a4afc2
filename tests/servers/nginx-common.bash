# What the plain and the TLS nginx of the test tier share: stopping by the
# pid file, the head of the configuration, and starting with a wait for the
# pid file. Sourced by nginx.sh and nginx_tls.sh after they set $dir (the
# server's folder) and $conf (its configuration file).

nginx_stop() {
  if [ -f "$dir/nginx.pid" ]; then
    pid="$(cat "$dir/nginx.pid")"
    kill -QUIT "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    rm -f "$dir/nginx.pid"
  fi
}

# Everything up to the server blocks, which follow inside "http {".
nginx_conf_head() {
  local user_line=""
  # Workers may run as an unprivileged user: root's own runs keep root.
  [ "$(id -u)" = 0 ] && user_line="user root;"
  cat <<CONF
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
CONF
}

# Starts nginx on $conf and ends the script: 0 once its pid file is there.
nginx_launch() { # name for messages
  if ! nginx -c "$conf" -p "$dir" -e "$dir/error.log" 2>"$dir/start.log"; then
    echo "$1 did not start:"; cat "$dir/start.log" "$dir/error.log" 2>/dev/null; exit 1
  fi
  for _ in $(seq 100); do [ -f "$dir/nginx.pid" ] && exit 0; sleep 0.1; done
  echo "$1 wrote no pid file"; exit 1
}
