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
    for (const auto& name : k->valueNames()) {
        if (ctx.terminated()) return;
        auto v = k->value(name);
        if (!v || v->type != REG_DWORD) continue;
        // A count too short to read is no count; the path alone decides then.
        uint32_t count = 1;
        if (v->data.size() >= 4) count = le32(v->data.data());
        if (count == 0 || checks.IsMissingFile(name, "", false))
            ctx.AddProblem(problem, name, keyPath, pkDataValue);
    }
}

void scanSoftwareLocations(ScanContext& ctx) {
    constexpr std::string_view key = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecSoftwareLocations);
    for (const auto& name : k->subkeyNames()) {
        if (ctx.terminated()) return;
        // Only programs: "winword.exe" or a bare name, not "foo.dll".
        if (name.find('.') != std::string::npos && !endsWithNoCase(name, ".exe")) continue;
        const std::string keyPath = join(kHKLM, key) + "\\" + name;
        ctx.showKey(keyPath);
        auto sub = openChild(*k, name);
        if (!sub) continue;
        auto program = readString(*sub, "");
        if (!program) {
            if (isEmptyKey(*sub, ctx.stopToken())) ctx.AddProblem(problem, "", keyPath, pkKey);
            continue;
        }
        if (checks.IsMissingFile(*program, name, true) ||
            (program->empty() && CountValues(*sub, true, true, 1, ctx.stopToken()) <= 1))
            ctx.AddProblem(problem, *program, keyPath, pkKey);
    }
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
    for (const auto& name : k->valueNames()) {
        if (ctx.terminated()) return;
        auto file = stringOf(k->value(name));
        if (!file || installed.contains(*file)) continue;
        if (checks.IsMissingFile(*file, "", false)) addValueRow(ctx, problem, keyPath, name, *file);
    }
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
        for (const auto& name : k->valueNames()) {
            if (ctx.terminated()) return;
            auto folder = stringOf(k->value(name));
            if (!folder) continue;
            std::string full = folder->empty() ? name : includeTrailingBackslash(*folder) + name;
            if (checks.IsMissingFile(full, "", false))
                addValueRow(ctx, problem, keyPath, name, full);
        }
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
        for (const auto& name : k->valueNames()) {
            if (ctx.terminated()) return;
            auto command = stringOf(k->value(name));
            if (!command) continue;  // a number or binary data is not a command line
            if (command->empty() || *command == "\"\"" || checks.IsMissingFile(*command, "", false))
                addValueRow(ctx, problem, keyPath, name, *command);
        }
    }
    // Entries the system configuration tool has switched off.
    constexpr std::string_view disabled = "Software\\Microsoft\\Shared Tools\\MSConfig\\startupreg";
    auto k = openRead(ctx, RootKey::LocalMachine, disabled);
    if (!k) return;
    for (const auto& name : k->subkeyNames()) {
        if (ctx.terminated()) return;
        const std::string keyPath = join(kHKLM, disabled) + "\\" + name;
        ctx.showKey(keyPath);
        auto sub = openChild(*k, name);
        if (!sub) continue;
        auto command = readString(*sub, "command");
        if (command && checks.IsMissingFile(*command, "", false))
            ctx.AddProblem(problem, *command, keyPath, pkKey);
    }
}

void scanAddRemovePrograms(ScanContext& ctx) {
    constexpr std::string_view key = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    const std::string keyPath = join(kHKLM, key);
    const auto problem = sectionProblemText(kSecAddRemovePrograms);
    for (const auto& name : k->subkeyNames()) {
        if (ctx.terminated()) return;
        if (!name.empty() && name.front() == '{') continue;  // Windows Installer products
        ctx.showKey(keyPath + "\\" + name);
        auto sub = openChild(*k, name);
        if (!sub) continue;
        bool uninstallable = false;
        for (const auto& value : sub->valueNames()) {
            // Value names are case-insensitive: "uninstallstring" is the
            // uninstall command all the same.
            if (findNoCase(value, "UninstallString") != std::string::npos ||
                equalsNoCase(value, "SystemComponent")) {
                uninstallable = true;
                break;
            }
        }
        if (!uninstallable) ctx.AddProblem(problem, name, keyPath, pkDataSubkey);
    }
}

void scanWindowsServices(ScanContext& ctx) {
    constexpr std::string_view key = "SYSTEM\\CurrentControlSet\\Services";
    auto k = openRead(ctx, RootKey::LocalMachine, key);
    if (!k) return;
    PathChecks checks(ctx);
    const auto problem = sectionProblemText(kSecWindowsServices);
    for (const auto& name : k->subkeyNames()) {
        if (ctx.terminated()) return;
        if (upperCase(name).find("SLSVC") != std::string::npos) continue;
        const std::string keyPath = join(kHKLM, key) + "\\" + name;
        ctx.showKey(keyPath);
        auto sub = openChild(*k, name);
        if (!sub) continue;
        auto image = readString(*sub, "ImagePath");
        if (image && checks.IsMissingFile(*image, "", true))
            ctx.AddProblem(problem, *image, keyPath + "\\ImagePath", pkValue);
    }
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
