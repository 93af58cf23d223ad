#include "core/machine/registry_api.h"

namespace brisko {

// What every backend can do: list, then read or open by name.

void KeyHandle::forEachValue(const std::function<bool(const RegValue&)>& f) {
    for (const auto& name : valueNames())
        if (auto v = value(name))
            if (!f(*v)) return;
}

void KeyHandle::forEachSubkey(KeyAccess access,
                              const std::function<bool(std::string_view, KeyHandle&)>& f) {
    for (const auto& name : subkeyNames())
        if (auto sub = openSubkey(name, access))
            if (!f(name, *sub)) return;
}

}  // namespace brisko
