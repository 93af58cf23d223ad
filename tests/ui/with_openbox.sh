#!/bin/sh
# Runs a test program on a private X display (Xvfb) managed by openbox, for
# what only a real window manager shows: frames, placement, minimising.
# Usage: with_openbox.sh PROGRAM [ARGS...]
set -e
command -v Xvfb >/dev/null && command -v openbox >/dev/null || {
    echo "with_openbox.sh: Xvfb and openbox are needed (scripts/packages.txt)" >&2
    exit 1
}
tmp=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" >/dev/null 2>&1 &
xpid=$!
wpid=
trap 'kill $wpid $xpid 2>/dev/null; rm -rf "$tmp"' EXIT
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
DISPLAY=:$(cat "$tmp/display")
export DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
wpid=$!
sleep 1
QT_QPA_PLATFORM=xcb "$@"
