#!/bin/bash
# vsftpd for the tests, on loopback only: one instance on $CV_FTP_ADDR with
# anonymous login (root $CV_FTP_DIR), a user login and passive mode, and one
# on $CV_FTP_ACTIVE_ADDR with passive mode switched off. Both on port 21.
# The user login is a local system account made here when it is missing
# (home "/", no shell use); its password is set on every start.
# Usage: vsftpd.sh start|stop
set -uo pipefail
source "$(dirname "$0")/../../scripts/env.sh"

DIR="$CV_SRV_DIR/vsftpd"
FTP_USER="${CV_FTP_USER:-cvftp}"
FTP_PASSWORD="${CV_FTP_PASSWORD:-cvftp-pass}"

write_config() { # name, address, pasv_enable
  cat >"$DIR/$1.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=$2
listen_port=21
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$CV_FTP_DIR
ftp_username=ftp
nopriv_user=nobody
local_enable=YES
local_root=$CV_FTP_DIR
chroot_local_user=YES
allow_writeable_chroot=YES
write_enable=NO
pam_service_name=vsftpd
userlist_enable=NO
pasv_enable=$3
port_enable=YES
connect_from_port_20=NO
secure_chroot_dir=$DIR/empty
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
xferlog_enable=NO
syslog_enable=NO
vsftpd_log_file=$DIR/$1.log
dual_log_enable=NO
hide_ids=YES
max_clients=0
max_per_ip=0
idle_session_timeout=600
data_connection_timeout=300
CONF
}

ensure_user() {
  if ! id "$FTP_USER" >/dev/null 2>&1; then
    useradd -M -d / -s /bin/sh "$FTP_USER" >/dev/null 2>&1 || true
  fi
  id "$FTP_USER" >/dev/null 2>&1 || { echo "cannot create user $FTP_USER"; return 1; }
  # Another checkout may hold the password file's lock for a moment.
  for _ in 1 2 3 4 5; do
    echo "$FTP_USER:$FTP_PASSWORD" | chpasswd 2>/dev/null && return 0
    sleep 0.2
  done
  echo "cannot set the password of $FTP_USER"; return 1
}

wait_port() { # address
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/$1/21") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  return 1
}

start_one() { # name, address, pasv_enable
  write_config "$1" "$2" "$3"
  setsid /usr/sbin/vsftpd "$DIR/$1.conf" >"$DIR/$1.out" 2>&1 </dev/null &
  echo $! >"$DIR/$1.pid"
  if ! wait_port "$2"; then
    echo "vsftpd $1 did not come up on $2:21"; cat "$DIR/$1.out"; return 1
  fi
}

stop_one() { # name
  local pidfile="$DIR/$1.pid"
  [ -f "$pidfile" ] || return 0
  local pid; pid="$(cat "$pidfile")"
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null &&
     grep -q vsftpd "/proc/$pid/cmdline" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -f "$pidfile"
}

case "${1:-}" in
  start)
    stop_one passive; stop_one active
    mkdir -p "$DIR/empty" "$CV_FTP_DIR"
    chmod 755 "$DIR/empty" "$CV_FTP_DIR"
    echo "hello from vsftpd" >"$CV_FTP_DIR/hello.txt"
    chmod 644 "$CV_FTP_DIR/hello.txt"
    ensure_user || exit 1
    start_one passive "$CV_FTP_ADDR" YES || exit 1
    start_one active "$CV_FTP_ACTIVE_ADDR" NO || exit 1
    ;;
  stop)
    stop_one passive; stop_one active ;;
  *) echo "usage: $0 start|stop" >&2; exit 2 ;;
esac
