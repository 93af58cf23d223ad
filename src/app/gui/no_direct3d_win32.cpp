// The desktop program draws with Qt's raster engine only: its Qt is built
// without OpenGL. Qt's Windows platform still asks Direct3D 9 for the default
// graphics adapter before it places the first top-level window, to keep OpenGL
// windows off the screen of a second GPU (QTBUG-50371). That answer is of no
// use here, and getting it is expensive: Direct3DCreate9 brings up a whole
// Direct3D runtime (under Wine an OpenGL context, about half a second) before
// the window can show.
//
// Defining the function in the program itself takes the place of d3d9.dll's
// for the static Qt: it reports what Qt expects on a machine without
// Direct3D 9 (no adapter), and Qt places the window where Windows would.
#ifdef _WIN32
#include <windows.h>

struct IDirect3D9;

extern "C" IDirect3D9* WINAPI Direct3DCreate9(UINT /*sdkVersion*/) {
    return nullptr;
}
#endif
