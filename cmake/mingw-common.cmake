# Cross build for Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread and std::jthread need). Included by mingw-i686.cmake and
# mingw-x86_64.cmake with BRISKO_MINGW_TRIPLE set.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 5.1)

set(CMAKE_C_COMPILER ${BRISKO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRISKO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${BRISKO_MINGW_TRIPLE}-windres)

# Headers and libraries come from the MinGW sysroot only; host programs
# (wine, ccache) are still found on the host.
# BRISKO_QT_MINGW: the static Qt of scripts/build-qt-windows.sh, when the
# desktop program is built too.
set(CMAKE_FIND_ROOT_PATH /usr/${BRISKO_MINGW_TRIPLE} ${BRISKO_QT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: no MinGW runtime DLLs to ship beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine.
find_program(BRISKO_WINE NAMES wine)
if(BRISKO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${BRISKO_WINE})
endif()
