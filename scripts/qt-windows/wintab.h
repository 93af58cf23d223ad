/* Wine's wintab.h (wine_wintab.h, copied from libwine-dev by
   scripts/build-qt-windows.sh) with the two names it takes from Wine's own
   Windows headers and the API calling-convention name of the Wintab headers. */
#ifndef BRISKO_WINTAB_H
#define BRISKO_WINTAB_H
#include <windows.h>
#ifndef DECL_WINELIB_TYPE_AW
#ifdef UNICODE
#define DECL_WINELIB_TYPE_AW(type) typedef type##W type;
#else
#define DECL_WINELIB_TYPE_AW(type) typedef type##A type;
#endif
#endif
#ifndef API
#define API WINAPI
#endif
#include "wine_wintab.h"
#endif
