// System libraries the static Qt links for features the program uses rarely
// or never, loaded at their first use instead of at start: the file dialogs
// of the Common Dialog library (which loads the print spooler with it: under
// Wine that alone took 160 to 250 ms of every start), Direct3D 11 and DXGI
// (for Qt's GPU rendering, which a widgets program drawn in software does not
// use), the network shares of netapi32 and the multimedia timers and sounds
// of winmm (for timers finer than the default and for accessibility sounds).
//
// Each function below takes the place of the import library's entry for the
// static Qt, under the same linker name, and calls the real function, found
// the first time in the system folder only. If that fails (it does not on a
// Windows that runs Qt 6), the call fails as the function reports failure.
#ifdef _WIN32
#include <windows.h>
// After windows.h, which they need.
#include <commdlg.h>
#include <d3d11.h>
#include <dxgi1_2.h>
#include <lm.h>
#include <mmsystem.h>

namespace {

HMODULE systemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

template <class Fn>
Fn resolve(HMODULE library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

HMODULE comdlg32() {
    static HMODULE h = systemLibrary(L"comdlg32.dll");
    return h;
}
HMODULE d3d11() {
    static HMODULE h = systemLibrary(L"d3d11.dll");
    return h;
}
HMODULE dxgi() {
    static HMODULE h = systemLibrary(L"dxgi.dll");
    return h;
}
HMODULE winmm() {
    static HMODULE h = systemLibrary(L"winmm.dll");
    return h;
}
HMODULE netapi32() {
    static HMODULE h = systemLibrary(L"netapi32.dll");
    return h;
}

using FileNameFn = BOOL(WINAPI*)(LPOPENFILENAMEW);

BOOL WINAPI lazyGetOpenFileNameW(LPOPENFILENAMEW ofn) {
    static const auto fn = resolve<FileNameFn>(comdlg32(), "GetOpenFileNameW");
    return fn ? fn(ofn) : FALSE;
}

BOOL WINAPI lazyGetSaveFileNameW(LPOPENFILENAMEW ofn) {
    static const auto fn = resolve<FileNameFn>(comdlg32(), "GetSaveFileNameW");
    return fn ? fn(ofn) : FALSE;
}

MMRESULT WINAPI lazyTimeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback,
                                 DWORD_PTR user, UINT event) {
    static const auto fn = resolve<decltype(&timeSetEvent)>(winmm(), "timeSetEvent");
    return fn ? fn(delay, resolution, callback, user, event) : 0;
}

MMRESULT WINAPI lazyTimeKillEvent(UINT id) {
    static const auto fn = resolve<decltype(&timeKillEvent)>(winmm(), "timeKillEvent");
    return fn ? fn(id) : MMSYSERR_INVALPARAM;
}

BOOL WINAPI lazyPlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags) {
    static const auto fn = resolve<decltype(&PlaySoundW)>(winmm(), "PlaySoundW");
    return fn ? fn(sound, module, flags) : FALSE;
}

}  // namespace

// Qt calls these through the import's address slot (__imp_NAME).
#ifdef _WIN64
#define BRISKO_IMPORT_SLOT(name, argBytes) "__imp_" #name
#else
#define BRISKO_IMPORT_SLOT(name, argBytes) "__imp__" #name "@" #argBytes
#endif
extern "C" FileNameFn const briskoGetOpenFileNameW __asm__(
    BRISKO_IMPORT_SLOT(GetOpenFileNameW, 4)) = lazyGetOpenFileNameW;
extern "C" FileNameFn const briskoGetSaveFileNameW __asm__(
    BRISKO_IMPORT_SLOT(GetSaveFileNameW, 4)) = lazyGetSaveFileNameW;
extern "C" decltype(&timeSetEvent)
    const briskoTimeSetEvent __asm__(BRISKO_IMPORT_SLOT(timeSetEvent, 20)) = lazyTimeSetEvent;
extern "C" decltype(&timeKillEvent)
    const briskoTimeKillEvent __asm__(BRISKO_IMPORT_SLOT(timeKillEvent, 4)) = lazyTimeKillEvent;
extern "C" decltype(&PlaySoundW)
    const briskoPlaySoundW __asm__(BRISKO_IMPORT_SLOT(PlaySoundW, 12)) = lazyPlaySoundW;

// The others are called directly.
extern "C" HRESULT WINAPI D3D11CreateDevice(IDXGIAdapter* adapter, D3D_DRIVER_TYPE driverType,
                                            HMODULE software, UINT flags,
                                            const D3D_FEATURE_LEVEL* featureLevels, UINT levels,
                                            UINT sdkVersion, ID3D11Device** device,
                                            D3D_FEATURE_LEVEL* featureLevel,
                                            ID3D11DeviceContext** context) {
    using Fn = decltype(&D3D11CreateDevice);
    static const auto fn = resolve<Fn>(d3d11(), "D3D11CreateDevice");
    if (!fn) return E_NOTIMPL;
    return fn(adapter, driverType, software, flags, featureLevels, levels, sdkVersion, device,
              featureLevel, context);
}

extern "C" HRESULT WINAPI CreateDXGIFactory1(REFIID riid, void** factory) {
    using Fn = decltype(&CreateDXGIFactory1);
    static const auto fn = resolve<Fn>(dxgi(), "CreateDXGIFactory1");
    return fn ? fn(riid, factory) : E_NOTIMPL;
}

extern "C" HRESULT WINAPI CreateDXGIFactory2(UINT flags, REFIID riid, void** factory) {
    using Fn = decltype(&CreateDXGIFactory2);
    static const auto fn = resolve<Fn>(dxgi(), "CreateDXGIFactory2");
    return fn ? fn(flags, riid, factory) : E_NOTIMPL;
}

extern "C" NET_API_STATUS NET_API_FUNCTION NetShareEnum(LMSTR server, DWORD level, LPBYTE* buffer,
                                                        DWORD maxLength, LPDWORD entriesRead,
                                                        LPDWORD totalEntries,
                                                        LPDWORD resumeHandle) {
    using Fn = decltype(&NetShareEnum);
    static const auto fn = resolve<Fn>(netapi32(), "NetShareEnum");
    if (!fn) return ERROR_PROC_NOT_FOUND;
    return fn(server, level, buffer, maxLength, entriesRead, totalEntries, resumeHandle);
}

extern "C" NET_API_STATUS NET_API_FUNCTION NetApiBufferFree(LPVOID buffer) {
    using Fn = decltype(&NetApiBufferFree);
    static const auto fn = resolve<Fn>(netapi32(), "NetApiBufferFree");
    return fn ? fn(buffer) : ERROR_PROC_NOT_FOUND;
}
#endif
