#pragma once
// The Boss Key capture box: typing writes nothing; every key press shows the
// modifiers held and the key's name ("Ctrl  Alt  F5") and records the key.
// Tab and Shift+Tab without Ctrl or Alt still move the focus, so the dialog
// can be used from the keyboard.
#include <QLineEdit>
#include <string>

namespace brisko {

// The Windows virtual-key code of a Qt key event (0 when it has none).
unsigned windowsVirtualKey(int qtKey, Qt::KeyboardModifiers modifiers);

class HotkeyEdit final : public QLineEdit {
    Q_OBJECT

  public:
    explicit HotkeyEdit(QWidget* parent = nullptr);

    // What the last key press recorded.
    const std::string& keyName() const { return keyName_; }
    unsigned keyCode() const { return keyCode_; }
    void setKey(const std::string& name, unsigned code) {
        keyName_ = name;
        keyCode_ = code;
    }
    // One key-down as the Windows box sees it: the modifiers and the virtual key.
    void keyDown(bool ctrl, bool shift, bool alt, unsigned virtualKey);

  signals:
    void keyCaptured();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

  private:
    std::string keyName_;
    unsigned keyCode_ = 0;
};

}  // namespace brisko
