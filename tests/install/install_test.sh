#!/bin/bash
# Installs the build into a temporary prefix and runs the installed programs
# from there: brisko --help, and brisko info on a demo machine without an
# apls.dat of its own, which must find the installed one. Also checks that the
# hand-written pages and the bash completion name what the programs accept.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/brisko share/brisko/apls.dat share/man/man1/brisko.1 \
         share/bash-completion/completions/brisko; do
    [[ -f $prefix/$f ]] || fail "$f is not installed"
done
if [[ -x $build/brisko-cleaner ]]; then
    for f in bin/brisko-cleaner share/applications/brisko-cleaner.desktop \
             share/man/man1/brisko-cleaner.1 share/icons/hicolor/scalable/apps/brisko-cleaner.svg; do
        [[ -f $prefix/$f ]] || fail "$f is not installed"
    done
    for n in 16 22 24 32 48 64 128 256; do
        [[ -f $prefix/share/icons/hicolor/${n}x${n}/apps/brisko-cleaner.png ]] || fail "no ${n}px icon"
    done
    # Every switch the usage names is in the manual page.
    usage=$("$prefix/bin/brisko-cleaner" --machine 2>&1 || true)
    for sw in $(grep -oE '(--|/)[A-Za-z]+' <<<"$usage" | sort -u); do
        grep -qF -- "${sw//-/\\-}" "$prefix/share/man/man1/brisko-cleaner.1" ||
            fail "brisko-cleaner.1 does not describe $sw"
    done
fi

help=$("$prefix/bin/brisko" --help)
grep -q '^Usage: brisko' <<<"$help" || fail "brisko --help: $help"
grep -qF 'demo\-machine' "$prefix/share/man/man1/brisko.1" || fail "brisko.1 lacks the subcommands"
# The completion offers exactly the subcommands --help lists.
listed=$(sed -n '/^Subcommands:/,$p' <<<"$help" | grep -oE '^  [a-z][a-z-]*' | sort | xargs)
offered=$(grep -oE 'commands="[^"]*"' "$source/data/completion/brisko" | cut -d'"' -f2 | tr ' ' '\n' | sort | xargs)
[[ $listed == "$offered" ]] || fail "completion offers '$offered', --help lists '$listed'"

"$prefix/bin/brisko" demo-machine "$tmp/machine" >/dev/null
rm "$tmp/machine/Program Files/Brisko Cleaner/apls.dat"
info=$(HOME=$tmp "$prefix/bin/brisko" --machine "$tmp/machine" info)
line=$(grep '^apls.dat:' <<<"$info") || fail "no apls.dat line in: $info"
[[ $line == *"$prefix/share/brisko/apls.dat (the installed data folder)"* ]] ||
    fail "the installed apls.dat was not found: $line"
echo "installed into $prefix: brisko --help and brisko info work, $line"
