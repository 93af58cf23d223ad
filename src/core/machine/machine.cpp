#include "core/machine/machine.h"

#include "base/text.h"

namespace brisko {

std::vector<WindowRef> Machine::findWindows(std::string_view className) {
    std::vector<WindowRef> found;
    for (auto& w : topLevelWindows())
        if (equalsNoCase(w.className, className)) found.push_back(w);
    return found;
}

}  // namespace brisko
