#!/usr/bin/env bash
# Builds the program, creates the demo machine on first use and starts Brisko
# Cleaner on it: the desktop program where there is a display, else a Test run
# of the cleaner and a registry scan with the command-line tool.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
./build/brisko info
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec ./build/brisko-cleaner "$@"
fi
echo
echo "No display: running the cleaner's Test run and the registry scan with the command-line tool."
echo
./build/brisko test Windows Advanced
echo
./build/brisko regscan
echo
echo "Nothing was changed. 'build/brisko clean' and 'build/brisko --help' show what else it does;"
echo "on a desktop, 'build/brisko-cleaner' opens the window."
