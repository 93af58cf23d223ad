// Sections that walk registry structure: the four "Files and Folders" hive
// walks, sound events, and the three empty-key sections.
#include <span>

#include "base/text.h"
#include "registry/path_checks.h"
#include "registry/scanners/scanner_support.h"
#include "registry/scanners/scanners.h"
#include "registry/section_tree.h"

namespace brisko {

using namespace scan;

namespace {
// Empty keys that mean something to their owners (a mount point, a printer,
// a Windows setting whose presence is the setting).
constexpr std::string_view kProtectedAlways[] = {
    "KasperskyLab\\protected",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints2",
    "Microsoft\\Protected Storage System Provider",
    "Software\\Microsoft\\DirectInput",
    "Printers",
    "Software\\Microsoft\\Multimedia\\Audio Compression Manager",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\5.0\\Cache",
    "Software\\Microsoft\\Windows NT\\CurrentVersion",
    "S-1-5-19_Classes",
    "S-1-5-20_Classes",
    "Microsoft\\SystemCertificates",
    "Software\\Classes",
    "Software\\Microsoft\\EventSystem",
    "Software\\Microsoft\\Internet Explorer\\Security",
    "Software\\Microsoft\\SAPI Layer",
    "Software\\Microsoft\\Speech",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\BitBucket",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\RunMRU",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Blocked",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\SessionInfo",
    "Software\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Telephony\\HandoffPriorities",
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Network\\Location Awareness",
    "Keyboard Layout\\Toggle",
    "Software\\Microsoft\\CTF",
    "Windows 3.1 Migration Status",
};
constexpr std::string_view kProtectedWin7[] = {
    "Software\\Microsoft\\MediaPlayer",
    "Software\\Microsoft\\MSF",
    "Software\\Microsoft\\Active Setup\\Installed Components",
    "Software\\Microsoft\\RAS AutoDial",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Action Center\\Checks",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Action Center\\Providers\\EventLog",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Cryptography",
};
constexpr std::string_view kProtectedWin8[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "Software\\Microsoft\\Active Setup\\Installed Components",
    "Software\\Microsoft\\IME\\15.0\\IMESC",
    "Software\\Microsoft\\MediaPlayer",
    "Software\\Microsoft\\MSF",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Action Center\\Checks",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Action Center\\Providers\\EventLog",
    "Software\\Microsoft\\Windows\\CurrentVersion\\AppModel",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\UserAssist",
    "Software\\Microsoft\\Cryptography",
    "Software\\Microsoft\\TabletTip",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer",
};
constexpr std::string_view kEmptyKeysSkips[] = {
    "Software\\Microsoft",
    "Software\\Policies\\Microsoft",
    "Software\\Policies\\Power",
    "AppEvents\\Schemes\\Apps\\Explorer",
    "Control Panel\\Appearance",
    "Control Panel\\Desktop",
    "Control Panel\\Personalization",
    "Keyboard Layout",
};

// Keys Windows keeps even when they hold nothing: programs register
// themselves there at any time and expect to find them. Matched at the end
// of a path, so the 32-bit view's copies under Wow6432Node count too.
constexpr std::string_view kKeptEvenEmpty[] = {
    "Microsoft\\Windows\\CurrentVersion\\Run",
    "Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    "Microsoft\\Windows\\CurrentVersion\\RunServices",
    "Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
    "Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    "Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
    "Microsoft\\Windows NT\\CurrentVersion\\Windows",
};

bool keptEvenEmpty(std::string_view path) {
    for (auto t : kKeptEvenEmpty)
        if (endsWithNoCase(path, t) &&
            (path.size() == t.size() || path[path.size() - t.size() - 1] == '\\'))
            return true;
    return false;
}

// An empty key is a chain of single subkeys ending in a key without values;
// it is reported only when no key of that chain is one Windows keeps.
bool reportableEmpty(KeyHandle& key, std::string_view at, std::stop_token stop) {
    if (!isEmptyKey(key, stop)) return false;
    std::string path(at);
    std::unique_ptr<KeyHandle> owned;
    KeyHandle* k = &key;
    while (k && !stop.stop_requested()) {
        if (keptEvenEmpty(path)) return false;
        auto names = k->subkeyNames();
        if (names.size() != 1) return true;
        path += '\\';
        path += names[0];
        auto next = k->openSubkey(names[0], KeyAccess::Read);
        owned = std::move(next);
        k = owned.get();
    }
    return true;
}

bool containsAny(std::string_view path, std::span<const std::string_view> list) {
    for (auto t : list)
        if (path.find(t) != std::string_view::npos) return true;
    return false;
}

void emptySubkeys(ScanContext& ctx, KeyHandle& key, std::string& full, bool descend,
                  std::string_view problem) {
    key.forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        const size_t mark = full.size();
        full += '\\';
        full += name;
        ctx.showKey(full);
        if (reportableEmpty(sub, full, ctx.stopToken()))
            ctx.AddProblem(problem, name, std::string_view(full).substr(0, mark), pkDataSubkey);
        if (descend) emptySubkeys(ctx, sub, full, descend, problem);
        full.resize(mark);
        return true;
    });
}

// full: "HKEY_USERS\" followed by the path of key.
void emptyUserKeys(ScanContext& ctx, KeyHandle& key, std::string& full) {
    constexpr size_t rootLen = kHKU.size();
    const auto problem = sectionProblemText(kSecEmptyKeys);
    key.forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        if (equalsNoCase(name, ".DEFAULT")) return true;
        const size_t mark = full.size();
        if (full.size() > rootLen) full += '\\';
        full += name;
        std::string_view path = std::string_view(full).substr(rootLen);
        if (!inEmptyKeysSkipList(path)) {
            ctx.showKey(full);
            if (IsReportableEmptyKey(path, ctx.isWin7or8, ctx.isWin8) &&
                reportableEmpty(sub, path, ctx.stopToken()))
                ctx.AddProblem(problem, name, std::string_view(full).substr(0, mark), pkDataSubkey);
            emptyUserKeys(ctx, sub, full);
        }
        full.resize(mark);
        return true;
    });
}

void walkSounds(PathChecks& checks, KeyHandle& key, std::string_view name, std::string& full) {
    ScanContext& ctx = checks.ctx;
    ctx.showKey(full);
    const std::string lower = lowerCase(name);
    if (lower == ".current" || lower == ".default" || lower == "utopia0") {
        if (auto sound = readString(key, ""); sound && checks.IsMissingFile(*sound, "", false))
            ctx.AddProblem(sectionProblemText(kSecSoundAppevents), *sound, full, pkDefaultValue);
    }
    key.forEachSubkey(KeyAccess::Read, [&](std::string_view sub, KeyHandle& child) {
        if (ctx.terminated()) return false;
        const size_t mark = full.size();
        full += '\\';
        full += sub;
        walkSounds(checks, child, sub, full);
        full.resize(mark);
        return true;
    });
}
}  // namespace

bool IsReportableEmptyKey(std::string_view path, bool isWin7or8, bool isWin8) {
    if (containsAny(path, kProtectedAlways)) return false;
    if (isWin7or8 && containsAny(path, kProtectedWin7)) return false;
    if (isWin8 && containsAny(path, kProtectedWin8)) return false;
    // A user's classes hive is the tree "Software\Classes" shows below the
    // user's own key, which is protected above; seen from HKEY_USERS it is
    // "<SID>_Classes" and must be spared the same way.
    std::string_view top = path.substr(0, path.find('\\'));
    return !endsWithNoCase(top, "_Classes");
}

bool inEmptyKeysSkipList(std::string_view path) {
    for (auto t : kEmptyKeysSkips)
        if (findNoCase(path, t) != std::string_view::npos) return true;
    return false;
}

void ScanEmptyKeys(ScanContext& ctx, RootKey root, std::string_view path, int section) {
    auto key = openRead(ctx, root, path);
    if (!key) return;
    std::string full = std::string(rootName(root)) + "\\" + std::string(path);
    emptySubkeys(ctx, *key, full, section == kSecUninstallerEntry, sectionProblemText(section));
}

void ScanEmptyUserKeys(ScanContext& ctx, std::string_view path) {
    auto key = openRead(ctx, RootKey::Users, path);
    if (!key) return;
    std::string full = std::string(kHKU) + std::string(path);
    emptyUserKeys(ctx, *key, full);
}

void ScanSoundTree(PathChecks& checks, RootKey root, std::string_view path) {
    auto key = openRead(checks.ctx, root, path);
    if (!key) return;
    std::string full = std::string(rootName(root)) + "\\" + std::string(path);
    walkSounds(checks, *key, extractFileName(path), full);
}

void scanHive(ScanContext& ctx, int section) {
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(section);
    switch (section) {
        case kSecClassesRoot:
            ScanKeyTree(checks, RootKey::ClassesRoot, "", problem, "", section);
            break;
        case kSecCurrentUser:
            ScanKeyTree(checks, RootKey::CurrentUser, "", problem, "", section);
            break;
        case kSecLocalMachine:
            ScanKeyTree(checks, RootKey::LocalMachine, "Software", problem, "", section);
            break;
        case kSecUsers:
            ScanKeyTree(checks, RootKey::Users, "", problem, "", section);
            break;
        default:
            break;
    }
}

void scanObsoleteSoftware(ScanContext& ctx) {
    ScanEmptyKeys(ctx, RootKey::CurrentUser, "Software", kSecObsoleteSoftware);
    if (!ctx.terminated())
        ScanEmptyKeys(ctx, RootKey::LocalMachine, "Software", kSecObsoleteSoftware);
}

void scanSoundEvents(ScanContext& ctx) {
    PathChecks checks(ctx);
    ScanSoundTree(checks, RootKey::CurrentUser, "AppEvents\\Schemes\\Apps");
}

void scanUninstallerEntries(ScanContext& ctx) {
    ScanEmptyKeys(ctx, RootKey::LocalMachine,
                  "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", kSecUninstallerEntry);
}

void scanEmptyKeys(ScanContext& ctx) {
    ScanEmptyUserKeys(ctx, "");
}

}  // namespace brisko
