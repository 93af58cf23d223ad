#!/usr/bin/env bash
# Builds build-windows/brisko-setup.exe with NSIS from the programs that
# scripts/build-windows.sh built (brisko-cleaner.exe needs the Qt for MinGW).
# Usage: installer/build-installer.sh [WINDOWS_BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=$(cd "${1:-$root/build-windows}" && pwd)
command -v makensis > /dev/null || {
    echo "makensis is missing: apt-get install nsis (scripts/packages-windows.txt)" >&2
    exit 1
}
for f in brisko-cleaner.exe brisko.exe; do
    [ -f "$win/$f" ] || { echo "$win/$f is missing: build it first (scripts/build-windows.sh)" >&2; exit 1; }
done
version=$(sed -n 's/^project(BriskoCleaner VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
makensis -V2 -DVERSION="$version" -DBUILD_DIR="$win" -DDATA_DIR="$root/data" \
    -DICON="$root/src/app/gui/win32/brisko-cleaner.ico" -DOUT_FILE="$win/brisko-setup.exe" \
    "$root/installer/brisko.nsi"
echo "Built $win/brisko-setup.exe"
