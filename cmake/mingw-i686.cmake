# 32-bit Windows, as the program ships: on 64-bit Windows it runs under WOW64
# and sees the redirected system32 and registry.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(BRISKO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
