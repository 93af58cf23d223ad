#!/usr/bin/env bash
# Builds everything and runs every test, then the Qt-free tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
(cd build && ctest --output-on-failure -j2)
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRISKO_WITH_QT=OFF \
    -DBRISKO_SANITIZE=ON -DBRISKO_BENCH=OFF > /dev/null
ninja -C build-asan
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j2)
# The Windows program, cross-built and tested under Wine.
bash scripts/test-windows.sh
