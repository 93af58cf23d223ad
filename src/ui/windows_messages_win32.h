#pragma once
// How Windows and other programs reach the main window (Windows build only):
// - the Boss Key: RegisterHotKey without a window posts WM_HOTKEY to the UI
//   thread's queue with the key's atom; it reaches the window with our id.
// - WM_SHOW_MAIN from another program, which finds the running window by its
//   class name "Brisko Cleaner Made by Brisko Software". Qt names its own
//   window classes, so a hidden window of that class stands for the main
//   window and passes the request on.
#include <QAbstractNativeEventFilter>
#include <cstdint>

namespace brisko {

class HotkeyService;
class MessageTarget;

class WindowsMessageBridge final : public QAbstractNativeEventFilter {
  public:
    // Installs itself on the application; the target must outlive it.
    WindowsMessageBridge(MessageTarget& target, HotkeyService* hotkeys);
    ~WindowsMessageBridge() override;
    WindowsMessageBridge(const WindowsMessageBridge&) = delete;
    WindowsMessageBridge& operator=(const WindowsMessageBridge&) = delete;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // The window that carries the class name (null when it could not be made).
    void* classWindow() const { return classWindow_; }
    // Handles one message meant for the main window; false when it is none of ours.
    bool deliver(uint32_t msg, uintptr_t wParam);

  private:
    MessageTarget& target_;
    HotkeyService* hotkeys_;
    void* classWindow_ = nullptr;
};

}  // namespace brisko
