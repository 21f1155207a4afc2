#!/bin/bash
# FTP throughput: the same 256 MiB file from the same vsftpd (passive mode),
# fetched by the FTP transport under Wine and by curl, each twice; prints
# the times and the ratio of the best throughputs (goal: 0.6 or better).
# Needs the Windows tree built (scripts/build win). Not part of scripts/test.
set -euo pipefail
source "$(dirname "$0")/../../scripts/env.sh"

EXE="$CV_WIN_TREE/bin/ftp_throughput.exe"
[ -f "$EXE" ] || cmake --build "$CV_WIN_TREE" --target ftp_throughput >/dev/null
WORK="$BUILD_DIR/bench-ftp"
mkdir -p "$WORK"

started_servers=
started_xvfb=
cleanup() {
  rm -f "$WORK/curl.bin" "$WORK/transport.bin"
  [ -n "$started_servers" ] && bash "$CV_ROOT/tests/servers/vsftpd.sh" stop >/dev/null 2>&1
  [ -n "$started_xvfb" ] && kill "$started_xvfb" 2>/dev/null
  return 0
}
trap cleanup EXIT

if ! (exec 3<>"/dev/tcp/$CV_FTP_ADDR/21") 2>/dev/null; then
  bash "$CV_ROOT/tests/servers/vsftpd.sh" start >/dev/null
  started_servers=1
fi
if ! xdpyinfo -display "$DISPLAY" >/dev/null 2>&1; then
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  started_xvfb=$!
  for _ in $(seq 100); do xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && break; sleep 0.1; done
fi
[ -f "$WINEPREFIX/system.reg" ] || "$CV_WINE" wineboot -i >/dev/null 2>&1 </dev/null
"$WINESERVER" -p >/dev/null 2>&1 </dev/null || true

FILE="$CV_FTP_DIR/bench256.bin"
SIZE=$((256 * 1024 * 1024))
if [ ! -f "$FILE" ] || [ "$(stat -c %s "$FILE")" != "$SIZE" ]; then
  head -c "$SIZE" /dev/urandom >"$FILE"
  chmod 644 "$FILE"
fi

best_curl=
best_transport=
for round in 1 2; do
  t=$(curl -s --disable-epsv -o "$WORK/curl.bin" -w '%{time_total}' "ftp://$CV_FTP_ADDR/bench256.bin")
  cmp -s "$FILE" "$WORK/curl.bin" || { echo "curl's copy differs"; exit 1; }
  echo "round $round curl:      total $t s"
  best_curl=$(python3 -c "import sys; a=[float(x) for x in sys.argv[1:] if x]; print(min(a))" $t $best_curl)

  out=$("$CV_ROOT/scripts/wine-run" "$EXE" "$CV_FTP_ADDR" bench256.bin "$(cv_winpath "$WORK/transport.bin")")
  cmp -s "$FILE" "$WORK/transport.bin" || { echo "the transport's copy differs: $out"; exit 1; }
  t=$(printf '%s\n' "$out" | sed -n 's/^total_seconds=//p' | tr -d '\r')
  echo "round $round transport: $(printf '%s\n' "$out" | head -1 | tr -d '\r')"
  best_transport=$(python3 -c "import sys; a=[float(x) for x in sys.argv[1:] if x]; print(min(a))" $t $best_transport)
done

python3 - "$best_curl" "$best_transport" "$SIZE" <<'PY'
import sys
curl, transport, size = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
mib = size / 1048576
print("best curl:      %.3f s  (%.1f MiB/s)" % (curl, mib / curl))
print("best transport: %.3f s  (%.1f MiB/s)" % (transport, mib / transport))
print("ratio of throughputs (transport / curl): %.2f  (goal >= 0.60)" % (curl / transport))
PY
