#!/usr/bin/env bash
# Cross-builds the Windows program with MinGW-w64 (Debian 12, as root for the
# installs): build-windows/brisko.exe and the Windows test programs, 32-bit as
# the program ships. ARCH=x86_64 builds the 64-bit form into build-windows-x64/.
# The desktop program build-windows/brisko-cleaner.exe is built too whenever
# the static Qt of scripts/build-qt-windows.sh is there; --gui builds that Qt
# first (an hour or more). Other arguments go to ninja.
# Nothing is downloaded except Debian packages and, for SQLite, the
# better-sqlite3 package of the npm registry, which carries the amalgamation.
set -euo pipefail
cd "$(dirname "$0")/.."
ARCH=${ARCH:-i686}
case "$ARCH" in
    i686) dir=build-windows; triple=i686-w64-mingw32 ;;
    x86_64) dir=build-windows-x64; triple=x86_64-w64-mingw32 ;;
    *) echo "ARCH must be i686 or x86_64" >&2; exit 2 ;;
esac
sqlite_pkg=better-sqlite3@12.11.1
qt=${BRISKO_QT_MINGW:-$HOME/.cache/brisko/qt-6.4.2-mingw-i686}
gui=0
targets=()
for a in "$@"; do
    case "$a" in
        --gui) gui=1 ;;
        *) targets+=("$a") ;;
    esac
done
if [ $gui = 1 ]; then
    [ "$ARCH" = i686 ] || { echo "--gui: the desktop program is built for i686 only" >&2; exit 2; }
    BRISKO_QT_MINGW=$qt bash scripts/build-qt-windows.sh
fi
qt_args=(-DBRISKO_WITH_QT=OFF)
if [ "$ARCH" = i686 ] && [ -f "$qt/brisko-qt.stamp" ]; then
    qt_args=(-DBRISKO_WITH_QT=ON -DBRISKO_QT_MINGW="$qt" -DCMAKE_PREFIX_PATH="$qt"
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
fi

mapfile -t pkgs < <(grep -v '^#' scripts/packages-windows.txt)
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
command -v npm > /dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    # wine32 is an i386 package.
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update
    apt-get install -y "${missing[@]}"
fi

# The SQLite amalgamation, taken once from the npm package and kept.
deps=$PWD/$dir/_deps
if [ ! -f "$deps/sqlite3/sqlite3.c" ]; then
    mkdir -p "$deps/npm"
    (cd "$deps/npm" && npm pack --silent "$sqlite_pkg" > /dev/null)
    tar -xzf "$deps"/npm/better-sqlite3-*.tgz -C "$deps/npm" package/deps/sqlite3
    rm -rf "$deps/sqlite3"
    mv "$deps/npm/package/deps/sqlite3" "$deps/sqlite3"
    rm -rf "$deps/npm"
fi

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-$ARCH.cmake" \
    "${qt_args[@]}" -DBRISKO_SQLITE_SOURCE_DIR="$deps/sqlite3" "${launcher[@]}" > /dev/null
ninja -C "$dir" -j"${JOBS:-2}" "${targets[@]}"
echo "Built $dir/brisko.exe ($triple)"
if [ "${qt_args[0]}" = -DBRISKO_WITH_QT=ON ]; then
    echo "Built $dir/brisko-cleaner.exe with the Qt in $qt"
else
    echo "Not built: brisko-cleaner.exe (no Qt for MinGW in $qt; scripts/build-windows.sh --gui builds it)"
fi
