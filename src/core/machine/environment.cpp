#include "core/machine/environment.h"

#include "base/text.h"

namespace brisko {

void Environment::set(std::string_view name, std::string_view value) {
    auto key = upperCase(name);
    vars_[key] = std::string(value);
    names_.emplace(key, std::string(name));
}

void Environment::setDefault(std::string_view name, std::string_view value) {
    if (!has(name)) set(name, value);
}

std::string Environment::get(std::string_view name) const {
    auto it = vars_.find(upperCase(name));
    return it == vars_.end() ? std::string() : expandDepth(it->second, 1);
}

bool Environment::has(std::string_view name) const { return vars_.count(upperCase(name)) > 0; }

std::string Environment::expand(std::string_view s) const { return expandDepth(s, 0); }

std::string Environment::expandDepth(std::string_view s, int depth) const {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        size_t open = s.find('%', i);
        if (open == std::string_view::npos) break;
        size_t close = s.find('%', open + 1);
        if (close == std::string_view::npos) break;
        out.append(s.substr(i, open - i));
        auto name = s.substr(open + 1, close - open - 1);
        auto it = name.empty() ? vars_.end() : vars_.find(upperCase(name));
        if (it == vars_.end()) {
            // Not a variable: keep the first '%' and look again from the second.
            out.push_back('%');
            i = open + 1;
            continue;
        }
        out += depth < 8 ? expandDepth(it->second, depth + 1) : it->second;
        i = close + 1;
    }
    out.append(s.substr(std::min(i, s.size())));
    return out;
}

}  // namespace brisko
