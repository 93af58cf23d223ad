// Sections about what the shell remembers: Start Menu order keys, shortcut
// files, "Open with" applications and the MRU and UserAssist lists.
#include <algorithm>
#include <functional>

#include "base/text.h"
#include "core/machine/machine.h"
#include "registry/path_checks.h"
#include "registry/scanners/scanner_support.h"
#include "registry/scanners/scanners.h"
#include "registry/section_tree.h"

namespace brisko {

using namespace scan;

namespace {
// Folders deeper than this cannot be listed through the ANSI file API; the
// bound also ends walks that a folder link leads in circles.
constexpr size_t kMaxPath = 260;
constexpr int kMaxFolderDepth = 64;

std::string listPathOf(const std::string& folder) {
    return folder.size() > 3 ? excludeTrailingBackslash(folder) : folder;
}

// What a folder holds, as one number. A folder link that leads back to one
// of the folders above it (an NTFS junction as a mounted disk shows it) lists
// the same entries, and is not entered again.
uint64_t fingerprint(const std::vector<FileEntry>& entries) {
    uint64_t sum = 0;
    for (const auto& e : entries) {
        uint64_t h = std::hash<std::string>{}(e.name);
        h ^= (e.size + 0x9E3779B97F4A7C15ull) * 0xBF58476D1CE4E5B9ull;
        h ^= uint64_t(e.writeTime) * 0x94D049BB133111EBull + e.attributes;
        sum += h * 0x2545F4914F6CDD1Dull;
    }
    return sum ^ entries.size();
}

void walkShortcuts(ScanContext& ctx, PathChecks& checks, const std::string& folder,
                   std::vector<uint64_t>& above) {
    auto entries = ctx.machine.files().findFiles(listPathOf(folder), "*");
    if (!entries) return;
    const uint64_t print = fingerprint(*entries);
    if (std::find(above.begin(), above.end(), print) != above.end()) return;
    above.push_back(print);
    const auto problem = sectionProblemText(kSecShortcuts);
    for (const auto& e : *entries) {
        if (ctx.terminated()) break;
        if (e.name == "." || e.name == "..") continue;
        std::string path = folder + e.name;
        if (e.isDirectory()) {
            if (path.size() + 1 < kMaxPath && int(above.size()) < kMaxFolderDepth)
                walkShortcuts(ctx, checks, path + "\\", above);
            continue;
        }
        if (lowerCase(extractFileExt(e.name)) != ".lnk") continue;
        ctx.showKey(path);
        std::string target = ResolveShortcut(ctx.machine, path);
        if (target.empty()) continue;
        if (checks.skippedOn64Bit(target)) continue;
        if (!ctx.onCheckedDrive(target)) continue;
        if (ctx.noMediaRule(target) ||
            (checks.IsMissingFile(target, "", false) && !checks.probe().folderExists(target)))
            ctx.AddProblem(problem, target, path, pkFile);
    }
    above.pop_back();
}

void findCommands(KeyHandle& key, std::string& path, const ScanContext& ctx,
                  std::vector<CommandKey>& out) {
    if (ctx.terminated()) return;
    if (auto command = openChild(key, "command")) {
        auto v = command->value("");
        if (!v || v->type == REG_SZ || v->type == REG_EXPAND_SZ) {
            out.push_back({path, v ? utf16leToUtf8(v->data) : std::string(),
                           command->value("DelegateExecute").has_value()});
            return;
        }
    }
    key.forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        const size_t mark = path.size();
        path += '\\';
        path += name;
        findCommands(sub, path, ctx, out);
        path.resize(mark);
        return true;
    });
}
}  // namespace

void scanStartMenu(ScanContext& ctx) {
    // The order keys mirror the sub-folders of both Programs folders.
    NameSet folders;
    for (int csidl : {CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS}) {
        std::string folder = ctx.machine.specialFolder(csidl);
        if (folder.empty()) continue;
        if (auto entries = ctx.machine.files().findFiles(listPathOf(folder), "*"))
            for (const auto& e : *entries)
                if (e.isDirectory() && e.name != "." && e.name != "..") folders.add(e.name);
    }
    const auto problem = sectionProblemText(kSecStartMenu);
    for (std::string_view key :
         {"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start "
          "Menu2\\Programs",
          "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\Programs",
          "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start "
          "Menu\\&Programs"}) {
        auto k = openRead(ctx, RootKey::CurrentUser, key);
        if (!k) continue;
        const std::string keyPath = std::string(kHKCU) + std::string(key);
        ctx.showKey(keyPath);
        for (const auto& name : k->subkeyNames()) {
            if (ctx.terminated()) return;
            if (!folders.contains(name)) ctx.AddProblem(problem, name, keyPath, pkDataSubkey);
        }
    }
}

void scanShortcuts(ScanContext& ctx) {
    Machine& m = ctx.machine;
    const std::string appData = m.specialFolder(CSIDL_APPDATA);
    // Recent and the Start Menu usually lie inside Application Data, which is
    // walked anyway.
    auto insideAppData = [&](const std::string& folder) {
        return !appData.empty() && findNoCase(folder, appData) != std::string::npos;
    };
    std::vector<std::string> folders = {m.specialFolder(CSIDL_COMMON_STARTMENU),
                                        m.specialFolder(CSIDL_COMMON_DESKTOPDIRECTORY), appData};
    for (int csidl : {CSIDL_RECENT, CSIDL_STARTMENU}) {
        std::string folder = m.specialFolder(csidl);
        if (!insideAppData(folder)) folders.push_back(folder);
    }
    folders.push_back(m.specialFolder(CSIDL_DESKTOPDIRECTORY));

    PathChecks checks(ctx);
    for (const auto& folder : folders) {
        if (ctx.terminated()) return;
        std::vector<uint64_t> above;
        if (!folder.empty()) walkShortcuts(ctx, checks, includeTrailingBackslash(folder), above);
    }
}

std::vector<CommandKey> FindCommandKey(KeyHandle& start, std::string_view startPath,
                                       const ScanContext& ctx) {
    std::vector<CommandKey> out;
    std::string path(startPath);
    findCommands(start, path, ctx, out);
    return out;
}

void scanApplications(ScanContext& ctx) {
    constexpr std::string_view key = "Software\\Classes\\Applications";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecApplications);
    k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& app) {
        if (ctx.terminated()) return false;
        const std::string appPath = std::string(key) + "\\" + std::string(name);
        ctx.showKey(std::string(kHKLM) + appPath);
        for (const auto& hit : FindCommandKey(app, appPath, ctx)) {
            // Such a verb is carried out by its handler, not by the command
            // line: deleting the key would break it.
            if (hit.delegated) continue;
            if (hit.command.empty() || checks.IsMissingFile(hit.command, "", false))
                ctx.AddProblem(problem, hit.command, std::string(kHKLM) + hit.path + "\\command",
                               pkKey);
        }
        return true;
    });
}

void scanMruLists(ScanContext& ctx) {
    constexpr std::string_view key =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU";
    const auto problem = sectionProblemText(kSecMruLists);
    PathChecks checks(ctx);
    if (auto k = openRead(ctx, RootKey::CurrentUser, key)) {
        const std::string keyPath = std::string(kHKCU) + std::string(key);
        ctx.showKey(keyPath);
        const std::vector<std::string> types = k->subkeyNames();
        // Names stored without their extension: one of the listed types must fit.
        k->forEachValue([&](const RegValue& v) {
            if (ctx.terminated()) return false;
            auto file = stringOf(v);
            if (!file || !ctx.onCheckedDrive(*file)) return true;
            bool found = false;
            for (const auto& type : types) {
                if (type == "*") continue;
                if (checks.probe().fileExists(*file + "." + type)) {
                    found = true;
                    break;
                }
            }
            if (!found && !checks.probe().throughGuessedAlias(*file))
                addValueRow(ctx, problem, keyPath, v.name, *file);
            return true;
        });
        if (ctx.terminated()) return;
        for (const auto& type : types) {
            if (ctx.terminated()) return;
            ScanKeyTree(checks, RootKey::CurrentUser, std::string(key) + "\\" + type, problem, "",
                        kSecMruLists);
        }
    }

    constexpr std::string_view counts =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist\\"
        "{75048700-EF1F-11D0-9888-006097DEACF9}\\Count";
    auto k = openRead(ctx, RootKey::CurrentUser, counts);
    if (!k) return;
    const std::string keyPath = std::string(kHKCU) + std::string(counts);
    ctx.showKey(keyPath);
    try {
        k->forEachValue([&](const RegValue& v) {
            if (ctx.terminated()) return false;
            if (v.data.size() > 32767) return true;
            std::string decoded = Rot13(v.name);
            bool missing = false;
            size_t colon = decoded.find(':');
            if (decoded.find(".lnk") == std::string::npos && colon != std::string::npos)
                missing =
                    checks.IsMissingFile(std::string_view(decoded).substr(colon + 1), "", true);
            // The run count is the record's second word; shorter data has none,
            // and then the path alone decides.
            bool neverRun = false;
            if (v.data.size() >= 8) {
                neverRun = le32(v.data.data() + 4) == 0;
            }
            if (neverRun || missing) ctx.AddProblem(problem, decoded, keyPath, pkRot13Value);
            return true;
        });
    } catch (const std::exception&) {
        // A list that cannot be read ends this pass only.
    }
}

}  // namespace brisko
