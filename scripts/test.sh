#!/usr/bin/env bash
# Builds everything and runs every test, then the Qt-free tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
stage() { echo "== $1 (${SECONDS}s since the start)"; }
BRISKO_BENCH=OFF bash scripts/setup.sh
stage "built"
(cd build && ctest --output-on-failure -j2)
stage "tests passed"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRISKO_WITH_QT=OFF \
    -DBRISKO_SANITIZE=ON -DBRISKO_BENCH=OFF > /dev/null
ninja -C build-asan
stage "sanitizer build built"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j2)
stage "sanitizer tests passed"
# The Windows program, cross-built and tested under Wine.
bash scripts/test-windows.sh
stage "Windows tests passed"
