#!/usr/bin/env bash
# The same machine on both backends: a small machine (cross_machine.reg and a
# few files) goes into the Wine prefix in $WINEPREFIX, the prefix's registry is
# exported and written with a copy of its drive C: into an image folder, and
# then `brisko test`, `brisko regscan` and `brisko reg export` must give the
# same output on the running (Wine) Windows and on the image.
# Usage: cross_backend.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
linux=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
: "${WINEPREFIX:?the Wine prefix to use}"
drive_c=$WINEPREFIX/drive_c
work=$(mktemp -d /tmp/brisko-cross.XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work" "$drive_c/brisko-cross"' EXIT

winexe() { wine "$win/brisko.exe" "$@"; }
imgexe() { "$linux/brisko" --machine "$work/image" "$@"; }

# The machine: registry entries, temporary files, a recent document.
mkdir -p "$drive_c/brisko-cross"
cp "$here/cross_machine.reg" "$drive_c/brisko-cross/"
winexe reg import 'C:\brisko-cross\cross_machine.reg' > /dev/null
user=$(winexe info --json | tr -d '\r' | sed -n 's/.*"name": "\(.*\)",*$/\1/p' | head -1)
sid=$(winexe info --json | tr -d '\r' | sed -n 's/.*"sid": "\(.*\)",*$/\1/p' | head -1)
profile=$drive_c/users/$user
mkdir -p "$profile/Temp/sub" "$profile/AppData/Roaming/Microsoft/Windows/Recent"
printf 'temporary' > "$profile/Temp/a.tmp"
printf 'more temporary data' > "$profile/Temp/sub/b.tmp"
printf 'shortcut' > "$profile/AppData/Roaming/Microsoft/Windows/Recent/notes.lnk"

# Its image: every hive exported, drive C: copied (hard links: nothing here writes).
for key in 'HKEY_LOCAL_MACHINE\SOFTWARE' 'HKEY_LOCAL_MACHINE\SYSTEM' 'HKEY_USERS\.DEFAULT' \
    'HKEY_CURRENT_USER'; do
    name=$(echo "$key" | tr '\\.' '__')
    winexe reg export "$key" "C:\\brisko-cross\\$name.reg" > /dev/null
done
cp -al "$drive_c" "$work/image"
"$linux/tests/reg_to_machine" "$work/image" "$user" "$sid" "$drive_c"/brisko-cross/HKEY_*.reg

failed=0
same() {
    local what=$1
    shift
    if diff -u "$work/wine.$what" "$work/image.$what" > "$work/diff.$what"; then
        echo "same on both backends: $what ($(wc -l < "$work/wine.$what") lines)"
    else
        echo "DIFFERENT on the backends: $what"
        head -40 "$work/diff.$what"
        failed=1
    fi
}
# Windows line ends and the machine's own name aside, the outputs must agree.
winexe test Windows Advanced | tr -d '\r' > "$work/wine.test"
imgexe test Windows Advanced > "$work/image.test"
same test
winexe regscan | tr -d '\r' | sort > "$work/wine.regscan"
imgexe regscan | sort > "$work/image.regscan"
same regscan
winexe reg export 'HKEY_CURRENT_USER\Software\BriskoCross' 'C:\brisko-cross\out.reg' > /dev/null
imgexe reg export 'HKEY_CURRENT_USER\Software\BriskoCross' "$work/image.export" > /dev/null
cp "$drive_c/brisko-cross/out.reg" "$work/wine.export"
same export
exit $failed
