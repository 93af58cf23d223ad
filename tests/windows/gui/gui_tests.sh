#!/usr/bin/env bash
# The desktop program under Wine with a real window: run by
# scripts/test-windows.sh inside its Wine prefix ($WINEPREFIX, build folder as
# drive D:) on a display managed by openbox (tests/ui/with_openbox.sh).
#   1. window_test.exe: the window on Wine's registry and files, a Test run,
#      a registry scan of planted problems, the Options dialog, the tray, the
#      Boss Key and a screenshot of each pane (docs/screenshots/windows-*.png);
#   2. window_probe.exe: the program started as a user would ("/Auto"), found
#      by its window class and brought forward with WM_SHOW_MAIN;
#   3. "/Regdefrag" and "/Regscan FILE" say that Wine lists no registry hives
#      and fail; "/Regscan FILE" writes its report all the same.
# Usage: gui_tests.sh WINDOWS_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
win=$(cd "$1" && pwd)
: "${WINEPREFIX:?the Wine prefix to use}"
drive_c=$WINEPREFIX/drive_c
failed=0

# Problems planted in Wine's registry: the machine of the cross-backend test,
# and a Run entry and a class of a program that is not there.
mkdir -p "$drive_c/brisko-gui"
cp "$root/tests/windows/cross/cross_machine.reg" "$here/planted_problems.reg" "$drive_c/brisko-gui/"
wine "$win/brisko.exe" reg import 'C:\brisko-gui\cross_machine.reg' > /dev/null
wine "$win/brisko.exe" reg import 'C:\brisko-gui\planted_problems.reg' > /dev/null

shots=$win/gui-shots
rm -rf "$shots" && mkdir -p "$shots"
echo "== window_test"
wine "$win/tests/windows/window_test.exe" 'D:\gui-shots' | tr -d '\r' || failed=1
if ls "$shots"/windows-*.png > /dev/null 2>&1; then
    cp "$shots"/windows-*.png "$root/docs/screenshots/"
fi

echo "== window_probe show-main"
wine "$win/tests/windows/window_probe.exe" show-main 'D:\brisko-cleaner.exe' | tr -d '\r' || failed=1

# Wine keeps its registry in text files of its own: the hive list is empty,
# RegSaveKey writes Wine's text format and RegReplaceKey does nothing. The
# registry switches say so and fail (docs/windows.md).
no_hives="lists no registry hive files"
echo "== /Regdefrag"
code=0
wine "$win/brisko-cleaner.exe" /Regdefrag 2> "$drive_c/brisko-gui/regdefrag.log" || code=$?
if [ $code = 1 ] && grep -q "$no_hives" "$drive_c/brisko-gui/regdefrag.log"; then
    echo "ok:   /Regdefrag says that Wine lists no hive files and ends with exit code 1"
else
    echo "FAIL: /Regdefrag ended with exit code $code, saying:"
    tr -d '\r' < "$drive_c/brisko-gui/regdefrag.log" | sed 's/^/      /'
    failed=1
fi

echo "== /Regscan FILE"
rm -f "$drive_c/brisko-gui/regscan.ini"
code=0
wine "$win/brisko-cleaner.exe" /Regscan 'C:\brisko-gui\regscan.ini' 2> "$drive_c/brisko-gui/regscan.log" || code=$?
if [ $code = 1 ] && grep -q "$no_hives" "$drive_c/brisko-gui/regscan.log"; then
    echo "ok:   /Regscan says that Wine lists no hive files and ends with exit code 1"
else
    echo "FAIL: /Regscan ended with exit code $code, saying:"
    tr -d '\r' < "$drive_c/brisko-gui/regscan.log" | sed 's/^/      /'
    failed=1
fi
report=$drive_c/brisko-gui/regscan.ini
if [ -f "$report" ] && tr -d '\r' < "$report" | grep -q '^\[Scan Result\]' &&
    tr -d '\r' < "$report" | grep -q '^Time=.' && tr -d '\r' < "$report" | grep -q '^Current Size='; then
    echo "ok:   /Regscan wrote its report:"
    tr -d '\r' < "$report" | sed 's/^/      /'
else
    echo "FAIL: /Regscan wrote no report"
    failed=1
fi
exit $failed
