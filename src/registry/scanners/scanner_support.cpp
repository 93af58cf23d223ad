#include "registry/scanners/scanner_support.h"

#include "base/text.h"
#include "core/machine/machine.h"

namespace brisko::scan {

std::unique_ptr<KeyHandle> openRead(ScanContext& ctx, RootKey root, std::string_view path) {
    return ctx.registry().openKey(root, path, KeyAccess::Read);
}

std::unique_ptr<KeyHandle> openChild(KeyHandle& parent, std::string_view name) {
    return parent.openSubkey(name, KeyAccess::Read);
}

bool hasSubkey(KeyHandle& key) {
    bool lent = false;
    key.forEachSubkey(KeyAccess::Read, [&](std::string_view, KeyHandle&) {
        lent = true;
        return false;
    });
    // What cannot be opened (too deep, a link to nowhere) is listed all the same.
    return lent || !key.subkeyNames().empty();
}

std::optional<std::string> stringOf(const RegValue& v) {
    if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return std::nullopt;
    return utf16leToUtf8(v.data);
}

std::optional<std::string> stringOf(const std::optional<RegValue>& v) {
    return v ? stringOf(*v) : std::nullopt;
}

std::optional<std::string> readString(KeyHandle& key, std::string_view name) {
    return stringOf(key.value(name));
}

void addValueRow(ScanContext& ctx, std::string_view problem, std::string_view keyPath,
                 std::string_view valueName, std::string_view data) {
    if (valueName.find('\\') == std::string_view::npos)
        ctx.AddProblem(problem, data, std::string(keyPath) + "\\" + std::string(valueName),
                       pkValue);
    else
        ctx.AddProblem(problem, valueName, keyPath, pkDataValue);
}

void NameSet::add(std::string_view name) {
    std::string up = upperCase(name);
    if (set_.insert(up).second) names_.push_back(std::move(up));
}

bool NameSet::contains(std::string_view name) const {
    return set_.count(upperCase(name)) > 0;
}

bool NameSet::anyContains(std::string_view part) const {
    if (part.empty()) return !names_.empty();
    std::string up = upperCase(part);
    if (set_.count(up)) return true;
    for (const auto& n : names_)
        if (n.size() > up.size() && n.find(up) != std::string::npos) return true;
    return false;
}

}  // namespace brisko::scan
