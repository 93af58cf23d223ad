#!/usr/bin/env bash
# brisko-setup.exe under Wine, silent both ways: the install puts the files,
# the Start menu entry and the Uninstall entry in place and the installed
# program starts; the uninstall takes all of them away and nothing else.
# Run by scripts/test-windows.sh inside its prefix ($WINEPREFIX).
# Usage: installer_test.sh WINDOWS_BUILD_DIR
set -euo pipefail
win=$(cd "$1" && pwd)
: "${WINEPREFIX:?the Wine prefix to use}"
drive_c=$WINEPREFIX/drive_c
work=$(mktemp -d /tmp/brisko-installer.XXXXXX)
trap 'rm -rf "$work"' EXIT
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisko Cleaner'
failed=0
check() {
    if eval "$2"; then echo "ok:   $1"; else echo "FAIL: $1"; failed=1; fi
}
# Every file of drive C: but the volatile ones Wine itself touches.
snapshot() {
    (cd "$drive_c" && find . -path ./windows/temp -prune -o -path './users/*/Temp' -prune \
        -o -path './users/*/AppData/Local/Temp' -prune -o -print | sort) > "$1"
}
regvalue() {
    wine reg query "$key" /v "$1" /reg:32 2> /dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
uninstall_keys() {
    wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /reg:32 2> /dev/null |
        tr -d '\r' | sort
}

snapshot "$work/before"
uninstall_keys > "$work/keys.before"
wine "$win/brisko-setup.exe" /S
wineserver -w

dir=$(regvalue InstallLocation)
host_dir=$drive_c/${dir#C:\\}
host_dir=${host_dir//\\//}
check "the Uninstall entry names the install folder ($dir)" '[ -n "$dir" ]'
check "the folder is under Program Files" '[[ "$dir" == "C:\\Program Files"*"\\Brisko Cleaner" ]]'
for f in brisko-cleaner.exe brisko.exe apls.dat uninstall.exe; do
    check "$f is installed" '[ -f "$host_dir/$f" ]'
done
lnk="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Brisko Cleaner/Brisko Cleaner.lnk"
check "the Start menu entry is there" '[ -f "$lnk" ]'
check "DisplayName" '[ "$(regvalue DisplayName)" = "Brisko Cleaner" ]'
check "DisplayVersion" '[ -n "$(regvalue DisplayVersion)" ]'
check "Publisher" '[ "$(regvalue Publisher)" = "Brisko Software" ]'
check "UninstallString" '[ "$(regvalue UninstallString)" = "\"$dir\\uninstall.exe\"" ]'

# The installed program starts and does its work ("/Regscan" ends by itself).
rm -f "$drive_c/brisko-installed.ini"
wine "$host_dir/brisko-cleaner.exe" /Regscan 'C:\brisko-installed.ini' > /dev/null 2>&1 || true
check "the installed brisko-cleaner.exe starts and writes its report" \
    'tr -d "\r" < "$drive_c/brisko-installed.ini" | grep -q "^\[Scan Result\]"'
check "the installed brisko.exe answers" 'wine "$host_dir/brisko.exe" --help > /dev/null 2>&1'
rm -f "$drive_c/brisko-installed.ini"

wine "$host_dir/uninstall.exe" /S
wineserver -w
snapshot "$work/after"
uninstall_keys > "$work/keys.after"
check "the uninstall removes the install folder" '[ ! -e "$host_dir" ]'
check "the uninstall removes the Start menu entry" '[ ! -e "$(dirname "$lnk")" ]'
check "the uninstall removes the Uninstall entry" 'diff -q "$work/keys.before" "$work/keys.after" > /dev/null'
# Nothing that was there before is gone; what is new is the program's own
# settings in the user's AppData, which are the user's to keep.
comm -23 "$work/before" "$work/after" > "$work/gone"
comm -13 "$work/before" "$work/after" | grep -v '^\./users/[^/]*/AppData/Roaming/Brisko' > "$work/left" || true
check "nothing else was removed" '[ ! -s "$work/gone" ]'
check "nothing was left behind" '[ ! -s "$work/left" ]'
[ -s "$work/gone" ] && head -20 "$work/gone"
[ -s "$work/left" ] && head -20 "$work/left"
exit $failed
