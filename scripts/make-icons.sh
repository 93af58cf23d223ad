#!/bin/bash
# Makes the hicolor PNGs of the program's icon from data/icons/brisko-cleaner.svg
# (rsvg-convert, Debian's librsvg2-bin). Run after changing the SVG and commit
# the PNGs: the build installs them as they are.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for n in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${n}x${n}/apps"
    rsvg-convert -w "$n" -h "$n" brisko-cleaner.svg -o "hicolor/${n}x${n}/apps/brisko-cleaner.png"
done
