#include "ui/windows_messages_win32.h"

#include <QCoreApplication>

#include "core/machine/machine.h"
#include "core/messages.h"

// Last: our message and answer names are declared before windows.h turns the
// same names into macros of the same values.
#include <windows.h>

namespace brisko {

namespace {

constexpr wchar_t kClassName[] = L"Brisko Cleaner Made by Brisko Software";
constexpr wchar_t kWindowTitle[] = L"Brisko Cleaner";

LRESULT CALLBACK classWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* bridge = reinterpret_cast<WindowsMessageBridge*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (bridge && bridge->deliver(msg, wParam)) return 0;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

}  // namespace

WindowsMessageBridge::WindowsMessageBridge(MessageTarget& target, HotkeyService* hotkeys)
    : target_(target), hotkeys_(hotkeys) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = classWindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    // A second window in the same process finds the class registered already.
    if (RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
        // Top-level but never shown: FindWindow finds it, the taskbar does not.
        HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, kWindowTitle, WS_POPUP, 0, 0, 0,
                                    0, nullptr, nullptr, instance, nullptr);
        if (hwnd) {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            classWindow_ = hwnd;
        }
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

WindowsMessageBridge::~WindowsMessageBridge() {
    if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
    if (classWindow_) {
        SetWindowLongPtrW(static_cast<HWND>(classWindow_), GWLP_USERDATA, 0);
        DestroyWindow(static_cast<HWND>(classWindow_));
    }
}

bool WindowsMessageBridge::deliver(uint32_t msg, uintptr_t wParam) {
    switch (msg) {
        case WM_SHOW_MAIN:
            target_.post(WM_SHOW_MAIN);
            return true;
        case WM_HOTKEY: {
            // The key's atom becomes our id; another identifier still flips
            // the state, as the window expects of any hot key.
            int id = hotkeys_ ? hotkeys_->idForNative(wParam) : -1;
            target_.post(WM_HOTKEY, id >= 0 ? uintptr_t(id) : wParam);
            return true;
        }
        default:
            return false;
    }
}

bool WindowsMessageBridge::nativeEventFilter(const QByteArray& eventType, void* message,
                                             qintptr* result) {
    if (eventType != "windows_generic_MSG") return false;
    auto* m = static_cast<MSG*>(message);
    // Only what comes to the thread itself: the class window's own messages
    // pass through its window procedure.
    if (m->hwnd || m->message != WM_HOTKEY) return false;
    if (result) *result = 0;
    return deliver(m->message, m->wParam);
}

}  // namespace brisko
