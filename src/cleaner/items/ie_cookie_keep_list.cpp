#include "cleaner/items/ie_cookie_keep_list.h"

#include "core/options_edit.h"

namespace brisko {

std::vector<std::string> LoadCookieKeepList(Machine& machine) {
    // The same reader the Options dialog uses, so both see one list.
    return ReadCookieKeepList(machine);
}

bool CookieIsKept(const std::vector<std::string>& keepList, std::string_view fileName,
                  std::string_view host) {
    for (const auto& e : keepList) {
        if (e.find(".txt") != std::string::npos) {
            if (e == fileName) return true;
        } else if (e == host) {
            return true;
        }
    }
    return false;
}

}  // namespace brisko
