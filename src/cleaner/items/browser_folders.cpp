#include "cleaner/items/browser_folders.h"

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/removal.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {

constexpr std::string_view kShellFolders =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string below(const std::string& base, std::string_view rest) {
    if (base.empty()) return {};
    return includeTrailingBackslash(base) + std::string(rest) + "\\";
}

}  // namespace

std::string localAppDataFolder(Machine& machine) {
    std::string value =
        ReadRegString(machine.registry(), RootKey::CurrentUser, kShellFolders, "Local AppData");
    if (value.find('%') != std::string::npos) value = machine.expandEnvironmentStrings(value);
    return value;
}

std::string firefoxProfilesFolder(Machine& machine) {
    return below(AppDataFolder(machine), "Mozilla\\Firefox\\Profiles");
}

std::string firefoxLocalProfilesFolder(Machine& machine) {
    return below(localAppDataFolder(machine), "Mozilla\\Firefox\\Profiles");
}

std::string chromeProfileFolder(Machine& machine) {
    return below(localAppDataFolder(machine), "Google\\Chrome\\User Data\\Default");
}

std::string operaFolder(Machine& machine) {
    return below(AppDataFolder(machine), "Opera");
}

std::string operaLocalFolder(Machine& machine) {
    return below(localAppDataFolder(machine), "Opera");
}

std::vector<std::string> subfoldersOf(Machine& machine, const std::string& folder) {
    std::vector<std::string> out;
    if (folder.empty()) return out;
    auto entries = machine.files().findFiles(folder, "*");
    if (!entries) return out;
    const std::string base = includeTrailingBackslash(folder);
    for (const auto& e : *entries) {
        if (!e.isDirectory() || e.isLink() || e.name == "." || e.name == "..") continue;
        out.push_back(base + e.name + "\\");
    }
    return out;
}

std::string netscapeProfileFolder(CleanContext& ctx) {
    const std::string profiles = below(AppDataFolder(ctx.machine), "Netscape\\NSB\\Profiles");
    if (profiles.empty()) return {};
    auto& files = ctx.machine.files();
    if (files.directoryExists(profiles + "pbzik8cu.default"))
        return profiles + "pbzik8cu.default\\";
    auto entries = files.findFiles(profiles, "*");
    if (!entries) return {};
    std::string last;
    for (const auto& e : *entries) {
        if (ctx.stopRequested()) break;
        if (!e.isDirectory() || e.isLink() || e.name == "." || e.name == "..") continue;
        const std::string path = profiles + e.name + "\\";
        if (path.find(".default") != std::string::npos) return path;
        last = path;
    }
    return last;
}

}  // namespace brisko
