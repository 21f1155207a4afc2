#!/bin/bash
# Makes the archives the extraction library's tests read: cabinets with
# Debian's gcab, ZIP files with Python's zipfile, then damaged and unsafe
# copies of them. Usage: make_test_data.sh DATA_DIR [BIN_DIR]
set -euo pipefail
exec python3 "$(dirname "$0")/make_archives.py" "$1"
