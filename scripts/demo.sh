#!/usr/bin/env bash
# Builds the program, creates the demo machine on first use and starts Brisko
# Cleaner on it (the desktop program where there is a display, else the CLI).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
./build/brisko info
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec ./build/brisko-cleaner "$@"
fi
echo
echo "No display: showing the command-line tool instead. Run ./build/brisko --help for every command."
