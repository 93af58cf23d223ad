#include "base/reg_tree.h"

#include "base/text.h"

namespace brisko {

RegTreeKey* RegTreeKey::child(std::string_view childName, bool create) {
    for (auto& k : subkeys)
        if (equalsNoCase(k->name, childName)) return k.get();
    if (!create) return nullptr;
    auto k = std::make_unique<RegTreeKey>();
    k->name = std::string(childName);
    subkeys.push_back(std::move(k));
    return subkeys.back().get();
}

RegTreeKey* RegTreeKey::find(std::string_view path, bool create) {
    RegTreeKey* k = this;
    for (const auto& part : split(path, '\\')) {
        if (part.empty()) continue;
        k = k->child(part, create);
        if (!k) return nullptr;
    }
    return k;
}

bool RegTreeKey::removeChild(std::string_view childName) {
    for (auto it = subkeys.begin(); it != subkeys.end(); ++it) {
        if (equalsNoCase((*it)->name, childName)) {
            subkeys.erase(it);
            return true;
        }
    }
    return false;
}

RegValue* RegTreeKey::findValue(std::string_view valueName) {
    for (auto& v : values)
        if (equalsNoCase(v.name, valueName)) return &v;
    return nullptr;
}

void RegTreeKey::setValue(std::string_view valueName, uint32_t type, std::vector<uint8_t> data) {
    if (auto* v = findValue(valueName)) {
        v->type = type;
        v->data = std::move(data);
        return;
    }
    values.push_back(RegValue{std::string(valueName), type, std::move(data)});
}

bool RegTreeKey::removeValue(std::string_view valueName) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (equalsNoCase(it->name, valueName)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

size_t RegTreeKey::countKeys() const {
    size_t n = 1;
    for (const auto& k : subkeys) n += k->countKeys();
    return n;
}

}  // namespace brisko
