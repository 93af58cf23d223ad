#include "tools/startup_list.h"

#include "base/text.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {

constexpr std::string_view kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kPoliciesRun =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run";
constexpr std::string_view kRunOnce = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr std::string_view kRunServices =
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
// Where 64-bit Windows keeps the machine's run entries of 32-bit programs.
constexpr std::string_view kRun32 =
    "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view kRunOnce32 =
    "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

constexpr std::string_view kHKCU = "HKEY_CURRENT_USER";
constexpr std::string_view kHKLM = "HKEY_LOCAL_MACHINE";

}  // namespace

void ListRegistryStartup(Machine& machine, std::string_view rootName, std::string_view keyPath,
                         std::vector<StartupEntry>& out) {
    std::string root = upperCase(rootName);
    auto parsed = parseRoot(root);
    // Only the five full root names; abbreviations are not names of a location.
    if (!parsed || std::string(brisko::rootName(*parsed)) != root) return;
    auto key = machine.registry().openKey(*parsed, keyPath, KeyAccess::Read);
    if (!key) return;
    std::string location = root + "\\" + std::string(keyPath);
    for (const std::string& name : key->valueNames()) {
        auto v = key->value(name);
        if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) continue;
        out.push_back({name, decodeRegString(*v).value_or(std::string()), location});
    }
}

void ListStartupFolder(Machine& machine, int csidl, std::string_view location,
                       std::vector<StartupEntry>& out) {
    std::string folder = machine.specialFolder(csidl);
    if (folder.empty()) return;
    folder = includeTrailingBackslash(folder);
    auto entries = machine.files().findFiles(folder, "*");
    if (!entries) return;
    for (const FileEntry& e : *entries) {
        if (e.isDirectory() || lowerCase(extractFileExt(e.name)) != ".lnk") continue;
        std::string target = machine.shortcutTarget(folder + e.name);
        if (target.empty()) continue;
        out.push_back({e.name, target, std::string(location)});
    }
}

std::vector<StartupEntry> ListStartupEntries(Machine& machine, int windowsVersionCode) {
    std::vector<StartupEntry> rows;
    for (std::string_view path : {kRun, kPoliciesRun, kRunOnce}) {
        ListRegistryStartup(machine, kHKCU, path, rows);
        ListRegistryStartup(machine, kHKLM, path, rows);
    }
    if ((windowsVersionCode >= 1 && windowsVersionCode <= 4) || windowsVersionCode == 8) {
        ListRegistryStartup(machine, kHKCU, kRunServices, rows);
        ListRegistryStartup(machine, kHKLM, kRunServices, rows);
    }
    // A 32-bit program on 64-bit Windows would be shown these in place of the
    // machine's own keys; we show both, each under the path it really has.
    if (machine.isWow64()) {
        ListRegistryStartup(machine, kHKLM, kRun32, rows);
        ListRegistryStartup(machine, kHKLM, kRunOnce32, rows);
    }
    ListStartupFolder(machine, 7, kStartupLocation, rows);
    ListStartupFolder(machine, 24, kCommonStartupLocation, rows);
    return rows;
}

}  // namespace brisko
