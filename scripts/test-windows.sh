#!/usr/bin/env bash
# Builds the Windows program and its tests (scripts/build-windows.sh) and runs
# them under Wine in a throwaway prefix: a 64-bit Wine, so that the 32-bit
# program meets WOW64's file-system and registry redirection as it does on
# 64-bit Windows. The prefix has drive C: only; Wine's Z: (the host's root) is
# replaced by D:, the build folder alone, so that nothing the tests or the
# program do can reach another host file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build-windows.sh
command -v xvfb-run > /dev/null || apt-get install -y xvfb xauth
command -v openbox > /dev/null || apt-get install -y openbox

prefix_dir=$(mktemp -d /tmp/brisko-wine.XXXXXX)
export WINEPREFIX=$prefix_dir/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    wineserver -k 2> /dev/null || true
    rm -rf "$prefix_dir"
}
trap cleanup EXIT
wineboot -i > /dev/null 2>&1
wineserver -w
rm -f "$WINEPREFIX/dosdevices/z:"
ln -s "$PWD/build-windows" "$WINEPREFIX/dosdevices/d:"
# Wine links the user's Desktop, Documents and the like to the host's home
# folders; here they are folders of the prefix.
find "$WINEPREFIX/drive_c/users" -type l | while read -r link; do
    rm "$link" && mkdir -p "$link"
done

# Window tests need a display; Wine draws into Xvfb's.
xvfb-run -a ctest --test-dir build-windows --output-on-failure

# The same machine on both backends, when the Linux build is there.
if [ -d build ]; then
    ninja -C build brisko reg_to_machine > /dev/null
    bash tests/windows/cross/cross_backend.sh build build-windows
fi

# The desktop program and its installer, when the Qt for MinGW was there to
# build it (scripts/build-qt-windows.sh; never built here: it takes an hour).
if [ -f build-windows/brisko-cleaner.exe ] && grep -q '^BRISKO_WITH_QT:BOOL=ON' build-windows/CMakeCache.txt; then
    bash installer/build-installer.sh build-windows
    # A fresh start of Wine's own processes on the new display.
    wineserver -k 2> /dev/null || true
    gui_failed=0
    tests/ui/with_openbox.sh env -u QT_QPA_PLATFORM bash tests/windows/gui/gui_tests.sh \
        build-windows || gui_failed=1
    wineserver -w
    bash tests/windows/installer/installer_test.sh build-windows || gui_failed=1
    [ $gui_failed = 0 ] || { echo "FAILED: the desktop program's or the installer's tests"; exit 1; }
else
    echo "SKIPPED: brisko-cleaner.exe and brisko-setup.exe (no Qt for MinGW in" \
        "${BRISKO_QT_MINGW:-$HOME/.cache/brisko/qt-6.4.2-mingw-i686}; scripts/build-windows.sh --gui builds it)"
fi
