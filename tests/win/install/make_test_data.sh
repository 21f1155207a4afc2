#!/bin/bash
# Makes the archives the install action tests unpack: a cabinet holding the
# stand-in setup program as setup.exe (with gcab), and a ZIP of data files
# (with Python's zipfile). Usage: make_test_data.sh DATA_DIR BIN_DIR
set -euo pipefail
data="$1"
bin="$2"
rm -rf "$data"
mkdir -p "$data/pkg"
cp "$bin/cv_fake_setup.exe" "$data/pkg/setup.exe"
echo "read me" >"$data/pkg/readme.txt"
(cd "$data/pkg" && gcab -c -z "$data/setup.cab" setup.exe readme.txt)
python3 - "$data/data.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("table.dat", b"client data\r\n")
    z.writestr("maps/level1.map", b"map one\r\n")
PY
printf 'not an archive\r\n' >"$data/broken.cab"
