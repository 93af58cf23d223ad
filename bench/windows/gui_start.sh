#!/usr/bin/env bash
# Time to the first painted main window of brisko-cleaner.exe under Wine,
# against `brisko.exe --help` under Wine in the same run (the cost of starting
# any Windows program there), as a ratio; the goal is at most 3. Uses a
# throwaway Wine prefix and a private X display with openbox.
# Usage: bench/windows/gui_start.sh [WINDOWS_BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=$(cd "${1:-$root/build-windows}" && pwd)
runs=${2:-5}
for f in brisko-cleaner.exe brisko.exe tests/windows/window_probe.exe; do
    [ -f "$win/$f" ] || { echo "$win/$f is missing: scripts/build-windows.sh --gui" >&2; exit 1; }
done
prefix_dir=$(mktemp -d /tmp/brisko-bench.XXXXXX)
export WINEPREFIX=$prefix_dir/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2> /dev/null || true; rm -rf "$prefix_dir"' EXIT
wineboot -i > /dev/null 2>&1
wineserver -w
# The programs are copied into the prefix so that both start from drive C:.
mkdir -p "$WINEPREFIX/drive_c/bench"
cp "$win/brisko-cleaner.exe" "$win/brisko.exe" "$win/tests/windows/window_probe.exe" "$WINEPREFIX/drive_c/bench/"
"$root/tests/ui/with_openbox.sh" env -u QT_QPA_PLATFORM wine 'C:\bench\window_probe.exe' bench \
    'C:\bench\brisko-cleaner.exe' 'C:\bench\brisko.exe' "$runs" | tr -d '\r'
