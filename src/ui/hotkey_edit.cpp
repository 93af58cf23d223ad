#include "ui/hotkey_edit.h"

#include <QKeyEvent>

#include "core/options_edit.h"

namespace brisko {

unsigned windowsVirtualKey(int k, Qt::KeyboardModifiers modifiers) {
    const bool keypad = modifiers & Qt::KeypadModifier;
    if (k >= Qt::Key_0 && k <= Qt::Key_9)
        return keypad ? unsigned(96 + (k - Qt::Key_0)) : unsigned(k);
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return unsigned(k);
    if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return unsigned(112 + (k - Qt::Key_F1));
    switch (k) {
        case Qt::Key_Backspace:
            return 8;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            return 9;
        case Qt::Key_Clear:
            return 12;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return 13;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
        case Qt::Key_Meta:
            return 17;
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
            return 18;
        case Qt::Key_Pause:
            return 19;
        case Qt::Key_CapsLock:
            return 20;
        case Qt::Key_Escape:
            return 27;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return 37;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return 40;
        case Qt::Key_Print:
            return 44;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return 46;
        case Qt::Key_Help:
            return 47;
        case Qt::Key_NumLock:
            return 144;
        case Qt::Key_ScrollLock:
            return 145;
        default:
            break;
    }
    if (keypad) {
        switch (k) {
            case Qt::Key_Asterisk:
                return 106;
            case Qt::Key_Plus:
                return 107;
            case Qt::Key_Minus:
                return 109;
            case Qt::Key_Period:
            case Qt::Key_Comma:
                return 110;
            case Qt::Key_Slash:
                return 111;
            default:
                break;
        }
    }
    return 0;
}

HotkeyEdit::HotkeyEdit(QWidget* parent) : QLineEdit(parent) {
    setContextMenuPolicy(Qt::NoContextMenu);  // no pasting into it either
    setAttribute(Qt::WA_InputMethodEnabled, false);
}

void HotkeyEdit::inputMethodEvent(QInputMethodEvent* event) {
    event->ignore();
}

void HotkeyEdit::keyDown(bool ctrl, bool shift, bool alt, unsigned vk) {
    std::string text;
    if (ctrl) text += "Ctrl  ";
    if (shift) text += "Shift  ";
    if (alt) text += "Alt  ";
    std::string name;
    unsigned code = vk;
    if (vk == 16 || vk == 17 || vk == 18) {
        code = 0;  // a modifier alone: no key yet
    } else {
        name = HotkeyKeyName(vk);
        if (name.empty()) text.clear();  // a key without a name empties the box
    }
    setText(QString::fromUtf8(text + name));
    keyName_ = name;
    keyCode_ = code;
    emit keyCaptured();
}

void HotkeyEdit::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool navigation = (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) &&
                            !(mods & (Qt::ControlModifier | Qt::AltModifier));
    if (navigation) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    // A modifier pressed alone may come without its own flag (X11 reports the
    // state before the press): the key itself says it is held.
    const int k = event->key();
    keyDown((mods & Qt::ControlModifier) || k == Qt::Key_Control || k == Qt::Key_Meta,
            (mods & Qt::ShiftModifier) || k == Qt::Key_Shift,
            (mods & Qt::AltModifier) || k == Qt::Key_Alt || k == Qt::Key_AltGr,
            windowsVirtualKey(k, mods));
    event->accept();
}

}  // namespace brisko
