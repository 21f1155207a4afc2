#!/bin/bash
# cvpack built for Linux and for Windows must write byte-identical packages
# and part layouts from the same files, list each other's packages alike,
# print the same fingerprints and check setup descriptions alike; only the
# Windows build checks https sites (through the system's TLS).
# Usage: cvpack_cross.sh NATIVE_CVPACK WINDOWS_CVPACK WINE_RUN
set -u
native="$1" windows="$2" winerun="$3"
if [ ! -x "$native" ]; then
  echo "native cvpack not built ($native); build the native tree first"
  exit 77
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/cvpack-cross.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fail() { echo "FAIL: $*"; exit 1; }

head -c 7000 /dev/urandom >base.exe
printf '[defs]\r\ncomponents=a\r\n' >setup.inf
mkdir -p d
head -c 9000 /dev/urandom >d/x.bin
: >empty
records=(setup.inf=setup.inf 'sub\dir\x.bin=d/x.bin' second.inf=setup.inf e=empty)

"$native" pack n.exe base.exe "${records[@]}" || fail "native pack"
"$winerun" "$windows" pack w.exe base.exe "${records[@]}" || fail "windows pack"
cmp n.exe w.exe || fail "the two tools wrote different packages"

"$native" list w.exe >nl.txt || fail "native list"
"$winerun" "$windows" list n.exe | tr -d '\r' >wl.txt || fail "windows list"
printf 'setup.inf\t22\nsub\\dir\\x.bin\t9000\nsecond.inf\t22\ne\t0\n' >expected.txt
cmp expected.txt nl.txt || { cat nl.txt; fail "native list output"; }
cmp expected.txt wl.txt || { cat wl.txt; fail "windows list output"; }

# Both refuse the same bad input and leave the output alone.
cp n.exe keep.exe
"$native" pack keep.exe base.exe a=missing >/dev/null 2>&1 && fail "native accepted a missing file"
"$winerun" "$windows" pack keep.exe base.exe a=missing >/dev/null 2>&1 && fail "windows accepted a missing file"
"$winerun" "$windows" pack keep.exe base.exe '..\up=setup.inf' >/dev/null 2>&1 && fail "windows accepted an unsafe name"
cmp n.exe keep.exe || fail "a failed run changed its output"
"$winerun" "$windows" list base.exe >/dev/null 2>&1 && fail "windows listed a file without package"
# Part layouts, the fingerprints to pin, and the findings of a check.
head -c 70000 /dev/urandom >data.bin
"$native" split data.bin ns --part-size 30000 >npin.txt || fail "native split"
"$winerun" "$windows" split data.bin ws --part-size 30000 | tr -d '\r' >wpin.txt || fail "windows split"
diff -r ns ws || fail "the two tools wrote different part layouts"
cmp npin.txt wpin.txt || fail "split printed different fingerprints"
grep -q '^\[sha256\]$' ns/pkginfo.txt || fail "no [sha256] section in the part list"
"$native" pin data.bin setup.inf >np.txt || fail "native pin"
"$winerun" "$windows" pin data.bin setup.inf | tr -d '\r' >wp.txt || fail "windows pin"
cmp np.txt wp.txt || fail "pin printed different lines"
pin="$(cut -d= -f2 npin.txt)"
printf '[defs]\r\ncomponents=w\r\n[w]\r\nname=w\r\nProtocol=HTTP\r\nProtcol=http\r\nsha256=abc\r\n' >bad.inf
"$native" check bad.inf >nc.txt
[ $? = 1 ] || fail "native check passed a faulty setup"
"$winerun" "$windows" check bad.inf | tr -d '\r' >wc.txt
[ "${PIPESTATUS[0]}" = 1 ] || fail "windows check passed a faulty setup"
cmp nc.txt wc.txt || { cat nc.txt wc.txt; fail "the checks found different things"; }
grep -q '^bad.inf: 3 problems$' nc.txt || { cat nc.txt; fail "check output"; }

# Online over https: the part list from the tier's TLS nginx, pinned.
if [ -z "${CV_WWW_DIR:-}" ] || [ -z "${CV_HTTPS_PORT:-}" ] || [ ! -d "$CV_WWW_DIR" ]; then
  [ "${CV_TEST_TIER:-}" = 1 ] && fail "the TLS nginx of the test tier is missing"
  echo "cvpack native and windows agree (https check skipped: run it inside its tier)"
  exit 0
fi
site="cvpack-cross-$$"
mkdir -p "$CV_WWW_DIR/$site" && cp -r ns "$CV_WWW_DIR/$site/q" || fail "cannot publish the part list"
trap 'rm -rf "$work" "$CV_WWW_DIR/$site"' EXIT
printf '[defs]\r\ncomponents=w\r\n[w]\r\nname=w\r\nProtocol=http\r\nsite=https://localhost:%s/%s\r\nsourceDir=q\r\nfiles=d.bin\r\nsha256=%s\r\n' \
  "$CV_HTTPS_PORT" "$site" "$pin" >https.inf
"$winerun" "$windows" check https.inf --online | tr -d '\r' >wo.txt
[ "${PIPESTATUS[0]}" = 0 ] || { cat wo.txt; fail "windows check --online over https"; }
grep -q "pkginfo.txt reached: .*, as pinned$" wo.txt || { cat wo.txt; fail "windows check --online output"; }
"$native" check https.inf --online >no.txt || { cat no.txt; fail "native check --online over https"; }
grep -q "not checked: this build of cvpack has no TLS" no.txt || { cat no.txt; fail "native check --online output"; }
cat wo.txt no.txt
echo "cvpack native and windows agree"
exit 0
