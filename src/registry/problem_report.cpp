#include "registry/problem_report.h"

#include "base/text.h"
#include "core/machine/registry_key.h"
#include "core/machine/registry_view.h"

namespace brisko {

std::string problemReportText(const std::vector<RegistryProblem>& rows) {
    std::string out;
    for (const auto& r : rows)
        out += r.problem + "  ^^^  " + r.data + "  ^^^  " + r.keyPath + "\r\n";
    return out;
}

std::string saveAsTextName(std::string_view typed) {
    std::string name(typed);
    if (extractFileExt(name) != ".txt") name += ".txt";
    return name;
}

std::string fullBackupName(std::string_view typed) {
    std::string name(typed);
    if (upperCase(extractFileExt(name)) != ".REG") name += ".reg";
    return name;
}

std::string regeditTargetPath(const RegistryProblem& row) {
    switch (row.kind) {
        case pkValue: {
            size_t last = row.keyPath.rfind('\\');
            return last == std::string::npos ? std::string() : row.keyPath.substr(0, last);
        }
        case pkDataSubkey:
            return row.keyPath + "\\" + row.data;
        case pkFile:
            return {};
        default:
            return row.keyPath;
    }
}

std::string rowValueName(const RegistryProblem& row) {
    switch (row.kind) {
        case pkValue: {
            size_t last = row.keyPath.rfind('\\');
            return last == std::string::npos ? std::string() : row.keyPath.substr(last + 1);
        }
        case pkDataValue:
            return row.data;
        case pkRot13Value:
            return Rot13(row.data);
        default:
            return {};
    }
}

std::optional<RegeditTarget> findRegeditTarget(RegistryApi& registry, RegistryView view,
                                               std::string_view path) {
    if (upperCase(path).find("HK") == std::string::npos) return std::nullopt;
    std::string sub;
    auto root = parseRoot(path, &sub);
    if (!root) return std::nullopt;
    while (!sub.empty() && sub.back() == '\\') sub.pop_back();
    auto shown = [&](std::string_view logical) {
        std::string physical = physicalSubPath(registry, view, *root, logical);
        std::string full(rootName(*root));
        return physical.empty() ? full : full + "\\" + physical;
    };
    if (registry.openKeyInView(view, *root, sub, KeyAccess::Read))
        return RegeditTarget{*root, shown(sub), {}};
    size_t last = sub.rfind('\\');
    std::string key = last == std::string::npos ? std::string() : sub.substr(0, last);
    std::string value = last == std::string::npos ? sub : sub.substr(last + 1);
    auto k = registry.openKeyInView(view, *root, key, KeyAccess::Read);
    if (k && k->value(value)) return RegeditTarget{*root, shown(key), value};
    return std::nullopt;
}

bool rememberRegeditKey(RegistryApi& registry, int osMajor, std::string_view fullKey) {
    RegistryKey k(registry, RootKey::CurrentUser);
    if (!k.openKey(kRegeditAppletKey, true)) return false;
    std::string shown = (osMajor >= 6 ? "Computer\\" : "My Computer\\") + std::string(fullKey);
    return k.writeString("LastKey", shown);
}

}  // namespace brisko
