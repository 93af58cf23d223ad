#include "core/messages.h"

namespace brisko {

int defaultAnswer(unsigned flags) {
    bool second = flags & MB_DEFBUTTON2;
    switch (flags & 0xf) {
        case MB_OKCANCEL:
            return second ? IDCANCEL : IDOK;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            return second ? IDNO : IDYES;
        default:
            return IDOK;
    }
}

int DefaultPrompter::ask(std::string_view text, unsigned flags) {
    lastText = std::string(text);
    return defaultAnswer(flags);
}

}  // namespace brisko
