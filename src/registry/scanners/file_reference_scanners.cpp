// Sections whose entries name files: shared DLLs, App Paths, fonts, help
// files, startup programs, uninstall entries, services and installer data.
#include "base/text.h"
#include "core/machine/machine.h"
#include "registry/path_checks.h"
#include "registry/scanners/scanner_support.h"
#include "registry/scanners/scanners.h"
#include "registry/section_tree.h"

namespace brisko {

using namespace scan;

namespace {
constexpr std::string_view kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string join(std::string_view a, std::string_view b) {
    std::string s(a);
    s += b;
    return s;
}
}  // namespace

void scanSharedDlls(ScanContext& ctx) {
    constexpr std::string_view key = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    PathChecks checks(ctx);
    const std::string keyPath = join(kHKLM, key);
    const auto problem = sectionProblemText(kSecSharedDlls);
    ctx.showKey(keyPath);
    k->forEachValue([&](const RegValue& v) {
        if (ctx.terminated()) return false;
        if (v.type != REG_DWORD) return true;
        // A count too short to read is no count; the path alone decides then.
        uint32_t count = 1;
        if (v.data.size() >= 4) count = le32(v.data.data());
        if (count == 0 || checks.IsMissingFile(v.name, "", false))
            ctx.AddProblem(problem, v.name, keyPath, pkDataValue);
        return true;
    });
}

void scanSoftwareLocations(ScanContext& ctx) {
    constexpr std::string_view key = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecSoftwareLocations);
    k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        // Only programs: "winword.exe" or a bare name, not "foo.dll".
        if (name.find('.') != std::string::npos && !endsWithNoCase(name, ".exe")) return true;
        const std::string keyPath = join(kHKLM, key) + "\\" + std::string(name);
        ctx.showKey(keyPath);
        auto program = readString(sub, "");
        if (!program) {
            if (isEmptyKey(sub, ctx.stopToken())) ctx.AddProblem(problem, "", keyPath, pkKey);
            return true;
        }
        if (checks.IsMissingFile(*program, name, true) ||
            (program->empty() && CountValues(sub, true, true, 1, ctx.stopToken()) <= 1))
            ctx.AddProblem(problem, *program, keyPath, pkKey);
        return true;
    });
}

void scanFonts(ScanContext& ctx) {
    const int v = ctx.windowsVersionCode;
    const std::string_view key = (v == 1 || v == 3 || v == 8)
                                     ? "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts"
                                     : "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    // Most fonts are named by their bare file name in the Fonts folder.
    NameSet installed;
    std::string folder = ctx.machine.specialFolder(CSIDL_FONTS);
    if (!folder.empty()) {
        std::string listPath = folder.size() > 3 ? excludeTrailingBackslash(folder) : folder;
        if (auto entries = ctx.machine.files().findFiles(listPath, "*"))
            for (const auto& e : *entries)
                if (!e.isDirectory()) installed.add(e.name);
    }
    PathChecks checks(ctx);
    const std::string keyPath = join(kHKLM, key);
    const auto problem = sectionProblemText(kSecFonts);
    ctx.showKey(keyPath);
    k->forEachValue([&](const RegValue& v) {
        if (ctx.terminated()) return false;
        auto file = stringOf(v);
        if (!file || installed.contains(*file)) return true;
        if (checks.IsMissingFile(*file, "", false))
            addValueRow(ctx, problem, keyPath, v.name, *file);
        return true;
    });
}

void scanHelpFiles(ScanContext& ctx) {
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecHelpFiles);
    for (std::string_view key :
         {"Software\\Microsoft\\Windows\\Help", "Software\\Microsoft\\Windows\\Html Help"}) {
        auto k = openRead(ctx, RootKey::LocalMachine, key);
        if (!k) continue;
        const std::string keyPath = join(kHKLM, key);
        ctx.showKey(keyPath);
        // Value name: the help file; data: the folder that holds it.
        k->forEachValue([&](const RegValue& v) {
            if (ctx.terminated()) return false;
            auto folder = stringOf(v);
            if (!folder) return true;
            std::string full =
                folder->empty() ? v.name : includeTrailingBackslash(*folder) + v.name;
            if (checks.IsMissingFile(full, "", false))
                addValueRow(ctx, problem, keyPath, v.name, full);
            return true;
        });
        if (ctx.terminated()) return;
    }
}

void scanStartupPrograms(ScanContext& ctx) {
    struct RunKey {
        RootKey root;
        std::string_view rootText;
        std::string_view path;
    };
    static constexpr RunKey kRunKeys[] = {
        {RootKey::CurrentUser, kHKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {RootKey::CurrentUser, kHKCU, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
        {RootKey::LocalMachine, kHKLM, "Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {RootKey::LocalMachine, kHKLM, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    };
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecStartupPrograms);
    for (const auto& run : kRunKeys) {
        auto k = openRead(ctx, run.root, run.path);
        if (!k) continue;
        const std::string keyPath = join(run.rootText, run.path);
        ctx.showKey(keyPath);
        k->forEachValue([&](const RegValue& v) {
            if (ctx.terminated()) return false;
            auto command = stringOf(v);
            if (!command) return true;  // a number or binary data is not a command line
            if (command->empty() || *command == "\"\"" || checks.IsMissingFile(*command, "", false))
                addValueRow(ctx, problem, keyPath, v.name, *command);
            return true;
        });
        if (ctx.terminated()) return;
    }
    // Entries the system configuration tool has switched off.
    constexpr std::string_view disabled = "Software\\Microsoft\\Shared Tools\\MSConfig\\startupreg";
    auto k = openRead(ctx, RootKey::LocalMachine, disabled);
    if (!k) return;
    k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        const std::string keyPath = join(kHKLM, disabled) + "\\" + std::string(name);
        ctx.showKey(keyPath);
        auto command = readString(sub, "command");
        if (command && checks.IsMissingFile(*command, "", false))
            ctx.AddProblem(problem, *command, keyPath, pkKey);
        return true;
    });
}

void scanAddRemovePrograms(ScanContext& ctx) {
    constexpr std::string_view key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    const std::string keyPath = join(kHKLM, key);
    const auto problem = sectionProblemText(kSecAddRemovePrograms);
    k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        if (!name.empty() && name.front() == '{') return true;  // Windows Installer products
        ctx.showKey(keyPath + "\\" + std::string(name));
        bool uninstallable = false;
        for (const auto& value : sub.valueNames()) {
            // Value names are case-insensitive: "uninstallstring" is the
            // uninstall command all the same.
            if (findNoCase(value, "UninstallString") != std::string::npos ||
                equalsNoCase(value, "SystemComponent")) {
                uninstallable = true;
                break;
            }
        }
        if (!uninstallable) ctx.AddProblem(problem, name, keyPath, pkDataSubkey);
        return true;
    });
}

void scanWindowsServices(ScanContext& ctx) {
    constexpr std::string_view key = "SYSTEM\\CurrentControlSet\\Services";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecWindowsServices);
    k->forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& sub) {
        if (ctx.terminated()) return false;
        if (upperCase(name).find("SLSVC") != std::string::npos) return true;
        const std::string keyPath = join(kHKLM, key) + "\\" + std::string(name);
        ctx.showKey(keyPath);
        auto image = readString(sub, "ImagePath");
        if (image && checks.IsMissingFile(*image, "", true))
            ctx.AddProblem(problem, *image, keyPath + "\\ImagePath", pkValue);
        return true;
    });
}

void scanInstaller(ScanContext& ctx) {
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecInstaller);
    ScanKeyTree(checks, RootKey::LocalMachine, kUninstall, problem, ".exe", kSecInstaller);
    if (ctx.terminated()) return;

    constexpr std::string_view folders =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
    if (auto k = openRead(ctx, RootKey::LocalMachine, folders)) {
        const std::string keyPath = join(kHKLM, folders);
        ctx.showKey(keyPath);
        for (const auto& name : k->valueNames()) {
            if (ctx.terminated()) return;
            if (checks.IsMissingFile(name, "", true))
                ctx.AddProblem(problem, name, keyPath, pkDataValue);
        }
    }

    // The Add/Remove Programs cache keeps entries of programs long gone.
    NameSet installed;
    if (auto k = openRead(ctx, RootKey::LocalMachine, kUninstall))
        for (const auto& name : k->subkeyNames()) installed.add(name);
    constexpr std::string_view cache =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache";
    if (auto k = openRead(ctx, RootKey::LocalMachine, cache)) {
        const std::string keyPath = join(kHKLM, cache);
        ctx.showKey(keyPath);
        for (const auto& name : k->subkeyNames()) {
            if (ctx.terminated()) return;
            if (!installed.contains(name)) ctx.AddProblem(problem, name, keyPath, pkDataSubkey);
        }
    }
}

void addFileReferenceScanners(ScannerTable& table) {
    table.add(kSecSharedDlls, scanSharedDlls);
    table.add(kSecSoftwareLocations, scanSoftwareLocations);
    table.add(kSecStartMenu, scanStartMenu);
    table.add(kSecFonts, scanFonts);
    table.add(kSecHelpFiles, scanHelpFiles);
    table.add(kSecStartupPrograms, scanStartupPrograms);
    table.add(kSecAddRemovePrograms, scanAddRemovePrograms);
    table.add(kSecWindowsServices, scanWindowsServices);
    table.add(kSecShortcuts, scanShortcuts);
    table.add(kSecInstaller, scanInstaller);
    table.add(kSecApplications, scanApplications);
    table.add(kSecMruLists, scanMruLists);
}

}  // namespace brisko
