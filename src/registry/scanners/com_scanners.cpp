// COM and file-type sections: file extensions, class and interface
// registrations (Custom Controls), type libraries and application
// identifiers (Invalid ActiveX).
#include "base/text.h"
#include "core/machine/machine.h"
#include "registry/path_checks.h"
#include "registry/scanners/scanner_support.h"
#include "registry/scanners/scanners.h"
#include "registry/section_tree.h"

namespace brisko {

using namespace scan;

namespace {
// Subkey names of an HKEY_CLASSES_ROOT key, for the "is it registered" tests.
NameSet classesSubkeys(ScanContext& ctx, std::string_view key) {
    NameSet names;
    if (auto k = openRead(ctx, RootKey::ClassesRoot, key))
        for (const auto& name : k->subkeyNames()) names.add(name);
    return names;
}

void walkClasses(PathChecks& checks, KeyHandle& key, std::string& full) {
    ScanContext& ctx = checks.ctx;
    ctx.showKey(full);
    if (auto server = readString(key, ""); server && checks.IsMissingFile(*server, "", false))
        ctx.AddProblem(sectionProblemText(kSecCustomControls), *server, full, pkKey);
    key.forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        const size_t mark = full.size();
        full += '\\';
        full += name;
        walkClasses(checks, sub, full);
        full.resize(mark);
        return true;
    });
}

// A file-type key that holds nothing: no subkeys and no values, or only an
// empty default value. Keys whose default is a number or binary are left
// alone. Subkeys are looked at first: most keys have some, which settles it.
bool uselessFileType(KeyHandle& key, bool strict) {
    if (hasSubkey(key)) return false;
    std::vector<std::string> values = key.valueNames();
    if (values.empty()) return true;
    if (strict || values.size() != 1 || !values[0].empty()) return false;
    auto def = key.value("");
    return def && (def->type == REG_SZ || def->type == REG_EXPAND_SZ) &&
           utf16leToUtf8(def->data).empty();
}
}  // namespace

void scanFileExtensions(ScanContext& ctx) {
    const auto problem = sectionProblemText(kSecFileExtensions);
    // 64-bit Windows 7 and 8 keep empty default values on purpose.
    const bool strict = ctx.IsWow64 && ctx.isWin7or8;
    constexpr std::string_view classes = "Software\\Classes";
    if (auto k = openRead(ctx, RootKey::LocalMachine, classes)) {
        const std::string keyPath = std::string(kHKLM) + std::string(classes);
        std::string shown;
        k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
            if (ctx.terminated()) return false;
            shown.assign(keyPath).append("\\").append(name);
            ctx.showKey(shown);
            if (uselessFileType(sub, strict)) ctx.AddProblem(problem, name, keyPath, pkDataSubkey);
            return true;
        });
        if (ctx.terminated()) return;
    }

    constexpr std::string_view exts =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts";
    auto k = openRead(ctx, RootKey::CurrentUser, exts);
    if (!k) return;
    const std::string keyPath = std::string(kHKCU) + std::string(exts);
    k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        ctx.showKey(keyPath + "\\" + std::string(name));
        bool useless;
        if (strict)
            useless = sub.valueNames().empty() && sub.subkeyNames().empty();
        else
            useless = isEmptyKey(sub, ctx.stopToken()) && !(ctx.isWin7or8 && name == ".");
        if (useless) ctx.AddProblem(problem, name, keyPath, pkDataSubkey);
        return true;
    });
}

void ScanClsidTree(PathChecks& checks, RootKey root, std::string_view path) {
    auto key = openRead(checks.ctx, root, path);
    if (!key) return;
    std::string full(rootName(root));
    if (!path.empty()) full += "\\" + std::string(path);
    walkClasses(checks, *key, full);
}

void scanCustomControls(ScanContext& ctx) {
    PathChecks checks(ctx);
    // The HKEY_LOCAL_MACHINE walk covers the class keys when it runs too.
    if (!ctx.sectionSelected(kSecLocalMachine))
        ScanClsidTree(checks, RootKey::ClassesRoot, "CLSID");
    if (ctx.terminated()) return;

    // Interfaces whose type library is not registered.
    NameSet typeLibs = classesSubkeys(ctx, "TypeLib");
    auto k = openRead(ctx, RootKey::ClassesRoot, "Interface");
    if (!k) return;
    const auto problem = sectionProblemText(kSecCustomControls);
    std::string keyPath = std::string(kHKCR) + "Interface\\";
    const size_t mark = keyPath.size();
    k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        keyPath.resize(mark);
        keyPath += name;
        ctx.showKey(keyPath);
        auto interfaceName = readString(sub, "");
        if (!interfaceName) return true;
        auto lib = openChild(sub, "TypeLib");
        if (!lib) return true;
        auto libId = readString(*lib, "");
        if (!libId) return true;
        if (libId->empty() || !typeLibs.anyContains(*libId))
            ctx.AddProblem(problem, *libId + " - " + *interfaceName, keyPath, pkKey);
        return true;
    });
}

void scanInvalidActiveX(ScanContext& ctx) {
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecInvalidActiveX);
    if (!ctx.sectionSelected(kSecLocalMachine))
        ScanKeyTree(checks, RootKey::ClassesRoot, "TypeLib", problem, ".dll", kSecInvalidActiveX);
    if (ctx.terminated()) return;

    // Classes naming an application identifier that is not registered.
    NameSet appIds = classesSubkeys(ctx, "AppID");
    auto k = openRead(ctx, RootKey::ClassesRoot, "CLSID");
    if (!k) return;
    std::string keyPath = std::string(kHKCR) + "CLSID\\";
    const size_t mark = keyPath.size();
    k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        keyPath.resize(mark);
        keyPath += name;
        ctx.showKey(keyPath);
        auto appId = readString(sub, "AppID");
        if (!appId || appId->empty()) return true;
        if (appIds.anyContains(*appId) || appIds.anyContains(name)) return true;
        if (auto server = openChild(sub, "InprocServer32")) {
            auto file = readString(*server, "");
            // The accessibility proxy is registered this way by Windows itself.
            if (!file || lowerCase(*file).find("oleacc.dll") != std::string::npos) return true;
        }
        ctx.AddProblem(problem, *appId, keyPath, pkKey);
        return true;
    });
}

void addComScanners(ScannerTable& table) {
    for (int code : {kSecClassesRoot, kSecCurrentUser, kSecLocalMachine, kSecUsers})
        table.add(code, [code](ScanContext& ctx) { scanHive(ctx, code); });
    table.add(kSecObsoleteSoftware, scanObsoleteSoftware);
    table.add(kSecFileExtensions, scanFileExtensions);
    table.add(kSecCustomControls, scanCustomControls);
    table.add(kSecSoundAppevents, scanSoundEvents);
    table.add(kSecInvalidActiveX, scanInvalidActiveX);
    table.add(kSecUninstallerEntry, scanUninstallerEntries);
    table.add(kSecEmptyKeys, scanEmptyKeys);
}

}  // namespace brisko
