#!/bin/bash
# Starts or stops nginx on loopback ($CV_HTTP_PORT) serving $CV_WWW_DIR, with
# a configuration of our own in $CV_SRV_DIR/nginx. Usage: nginx.sh start|stop
set -u
source "$(dirname "$0")/../../scripts/env.sh"
dir="$CV_SRV_DIR/nginx"
conf="$dir/nginx.conf"

source "$(dirname "$0")/nginx-common.bash"

case "${1:-}" in
  start)
    nginx_stop
    mkdir -p "$dir/tmp" "$CV_WWW_DIR"
    # Workers may run as an unprivileged user: they must be able to read the
    # document root.
    chmod a+rx "$CV_SRV_DIR" "$CV_WWW_DIR" 2>/dev/null
    {
      nginx_conf_head
      cat <<CONF
  server {
    listen 127.0.0.1:$CV_HTTP_PORT;
    server_name localhost;
    root $CV_WWW_DIR;
    autoindex off;
    # Redirects as real servers send them: relative Locations (a folder
    # asked for without its "/" gets one too), 307 and 308 for moved files.
    absolute_redirect off;
    location ~ ^/moved307/(.*)$ {
      return 307 /\$1;
    }
    location ~ ^/moved308/(.*)$ {
      return 308 /\$1;
    }
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
    } >"$conf"
    # Site credentials for the tests of Basic authentication: siteuser/sitepass.
    printf 'siteuser:%s\n' "$(openssl passwd -apr1 sitepass 2>/dev/null || python3 -c 'import crypt;print(crypt.crypt("sitepass","ab"))')" >"$dir/htpasswd"
    nginx_launch nginx ;;
  stop) nginx_stop ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
