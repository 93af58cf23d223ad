#!/usr/bin/env bash
# Builds the static Qt that brisko-cleaner.exe links against: Debian's
# qt6-base source (with Debian's patches) cross-compiled with MinGW-w64 for
# 32-bit Windows, only Core, Gui, Widgets and the Windows platform plugin.
# The host tools (moc, rcc, uic) come from the host's qt6-base-dev, which is
# the same Qt version. Installs into $BRISKO_QT_MINGW and leaves a stamp file
# there, so a second run does nothing. Takes an hour or more on two cores.
#
#   scripts/build-qt-windows.sh            build (or reuse) the Qt
#   BRISKO_QT_MINGW=DIR scripts/...        install somewhere else
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
version=6.4.2
debver=6.4.2+dfsg-10
prefix=${BRISKO_QT_MINGW:-$HOME/.cache/brisko/qt-$version-mingw-i686}
work=${BRISKO_QT_WORK:-$HOME/.cache/brisko/qt-$version-mingw-i686-build}
stamp=$prefix/brisko-qt.stamp
# The stamp records what was built: change this line to force a rebuild.
stamp_text="qt6-base $debver static i686-w64-mingw32 core-gui-widgets 1"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$stamp_text" ]; then
    echo "Qt for MinGW already built in $prefix"
    exit 0
fi

# Build dependencies: the cross compiler and tools of the Windows build, the
# host Qt for moc/rcc/uic, and dpkg-dev to unpack the Debian source package.
mapfile -t pkgs < <(grep -v '^#' scripts/packages-windows.txt)
# libwine-dev: Wine's wintab.h (see below).
pkgs+=(qt6-base-dev qt6-base-dev-tools dpkg-dev cmake ninja-build perl libwine-dev)
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update
    apt-get install -y "${missing[@]}"
fi

host_ver=$(dpkg-query -W -f='${Version}' qt6-base-dev)
if [ "${host_ver%%+*}" != "$version" ]; then
    echo "The host's qt6-base-dev is $host_ver; its tools must be Qt $version" >&2
    exit 1
fi

# The source package, from the deb-src twin of the Debian sources.
src=$work/qt6-base
if [ ! -f "$src/CMakeLists.txt" ]; then
    mkdir -p "$work/dl"
    if [ ! -f "$work/dl/qt6-base_$debver.dsc" ]; then
        if [ ! -f /etc/apt/sources.list.d/debian-src.sources ] &&
            ! grep -qs '^Types:.*deb-src' /etc/apt/sources.list.d/debian.sources; then
            sed 's/^Types: *deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
                > /etc/apt/sources.list.d/debian-src.sources
            apt-get update
        fi
        (cd "$work/dl" && apt-get source --download-only "qt6-base=$debver")
    fi
    rm -rf "$src"
    # dpkg-source applies Debian's patch series (security fixes and build
    # fixes; none of them is specific to Linux in a way that matters here).
    dpkg-source -x "$work/dl/qt6-base_$debver.dsc" "$src"
fi

# The +dfsg source drops Qt's copy of the Wintab headers, which the Windows
# platform plugin includes for tablet input: the interface comes from Wine's
# headers, wrapped for MinGW's, and pktdef.h is ours (scripts/qt-windows).
wintab=$src/src/3rdparty/wintab
if [ ! -f "$wintab/wine_wintab.h" ]; then
    mkdir -p "$wintab"
    cp /usr/include/wine/wine/windows/wintab.h "$wintab/wine_wintab.h"
    cp "$root/scripts/qt-windows/wintab.h" "$root/scripts/qt-windows/pktdef.h" "$wintab/"
fi

# Two of Qt's feature conditions do not hold without OpenGL and Direct2D.
# Without OpenGL the configuration still turns "dynamicgl" on, and the Windows
# platform plugin then reaches for OpenGL classes that are not built.
sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$src/src/plugins/platforms/windows/qwindowswindow.cpp"
# Likewise the DirectWrite font database is built only with Direct2D (which is
# off), but the plugin offers it whenever DirectWrite 3 is there.
sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"

# Only what the program uses. The bundled copies of zlib, libpng, PCRE2,
# FreeType and HarfBuzz that the +dfsg source keeps are used; everything that
# would reach for a system library of the host is off.
features=(
    network sql dbus opengl printsupport testlib concurrent xml
    vulkan zstd icu glib jpeg gif ico direct2d androiddeployqt
    fontconfig eglfs linuxfb xcb evdev libinput tslib
    system_zlib system_png system_pcre2 system_freetype system_harfbuzz
    system_doubleconversion system_jpeg
)
flags=()
for f in "${features[@]}"; do flags+=("-DFEATURE_$f=OFF"); done

build=$work/build
start=$(date +%s)
cmake -S "$src" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF \
    -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF \
    -DFEATURE_widgets=ON -DFEATURE_gui=ON \
    -DFEATURE_freetype=ON -DFEATURE_harfbuzz=ON -DFEATURE_png=ON \
    -DFEATURE_pcre2=ON -DFEATURE_regularexpression=ON \
    "${flags[@]}"
cmake --build "$build" --parallel "${JOBS:-2}"
cmake --install "$build"
echo "$stamp_text" > "$stamp"
echo "Qt for MinGW built in $(( ($(date +%s) - start) / 60 )) min into $prefix"
