#!/bin/bash
# cvpack built for Linux and for Windows must write byte-identical packages
# from the same files and list each other's packages alike.
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
echo "cvpack native and windows agree"
exit 0
