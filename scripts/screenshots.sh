#!/bin/sh
# The README's screenshots: each pane of the desktop program on the demo
# machine, drawn on a private X display with a window manager.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (writes docs/screenshots/*.png)
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
mkdir -p "$root/docs/screenshots"
BRISKO_SCREENSHOT_DIR="$root/docs/screenshots" \
    "$root/tests/ui/with_openbox.sh" "$build/tests/ui_main_window_test" screenshotsOfEveryPane
ls "$root/docs/screenshots"
