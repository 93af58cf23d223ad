#!/usr/bin/env bash
# Installs what the project needs (Debian 12, as root) and builds it into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t pkgs < scripts/packages.txt
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y "${missing[@]}"
fi
# BRISKO_BENCH=OFF leaves the benchmarks out (the test run does not need them).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISKO_BENCH="${BRISKO_BENCH:-ON}" > /dev/null
ninja -C build
