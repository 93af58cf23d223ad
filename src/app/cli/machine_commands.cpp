// brisko info, demo-machine, restart.
#include <iostream>

#include "app/cli/commands.h"
#include "core/machine/image/demo_machine.h"
#include "core/machine/image/image_machine.h"
#include "core/machine/image/image_registry.h"
#include "core/startup.h"

namespace brisko::cli {

namespace {
const char* kindName(DriveKind k) {
    switch (k) {
        case DriveKind::Fixed:
            return "fixed";
        case DriveKind::Removable:
            return "removable";
        case DriveKind::CdRom:
            return "cdrom";
        case DriveKind::Remote:
            return "remote";
        case DriveKind::RamDisk:
            return "ramdisk";
        case DriveKind::NoRootDir:
            return "absent";
        default:
            return "unknown";
    }
}

int runInfo(CliContext& ctx) {
    auto& m = ctx.machine();
    auto v = m.version();
    auto user = m.currentUser();
    nlohmann::json j;
    j["machine"] = m.folder().string();
    j["windowsVersion"] =
        std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
    j["productName"] = v.productName;
    j["servicePack"] = v.servicePack;
    j["platform"] = v.platform == OsVersion::NT ? "NT" : "9x";
    j["windowsVersionCode"] = WindowsVersionCode(v);
    j["isWow64"] = m.isWow64();
    j["administrator"] = m.isAdministrator();
    j["drives"] = nlohmann::json::array();
    for (const auto& d : m.files().drives())
        j["drives"].push_back({{"letter", std::string(1, d.letter)},
                               {"kind", kindName(d.kind)},
                               {"device", d.device},
                               {"hostPath", d.hostPath},
                               {"mediaPresent", d.mediaPresent}});
    j["hives"] = nlohmann::json::array();
    auto hives = m.imageRegistry().hiveStatus();
    for (const auto& h : hives) j["hives"].push_back(hiveStateJson(h));
    j["user"] = {{"name", user.name}, {"sid", user.sid}, {"profile", user.profile}};
    j["specialFolders"] = nlohmann::json::object();
    for (int csidl : kCsidlList)
        j["specialFolders"][std::to_string(csidl)] = m.specialFolder(csidl);
    j["tempPath"] = m.tempPath();
    j["windowsDirectory"] = m.windowsDirectory();
    j["systemDirectory"] = m.systemDirectory();
    j["programFolder"] = m.programFolder();
    if (ctx.json) {
        ctx.printJson(j);
        return kExitOk;
    }
    std::cout << "Machine:        " << m.folder().string() << "\n"
              << "Windows:        " << v.productName << (v.servicePack.empty() ? "" : " ")
              << v.servicePack << " (" << j["windowsVersion"].get<std::string>() << ", "
              << j["platform"].get<std::string>() << ", " << (m.isWow64() ? "64-bit" : "32-bit")
              << ", version code " << j["windowsVersionCode"].get<int>() << ")\n"
              << "User:           " << user.name << " (" << user.sid << ")"
              << (m.isAdministrator() ? ", administrator" : "") << "\n"
              << "Profile:        " << user.profile << "\n"
              << "Windows folder: " << m.windowsDirectory() << "\n"
              << "Temp folder:    " << m.tempPath() << "\n"
              << "Program folder: " << m.programFolder() << "\n\nDrives:\n";
    for (const auto& d : j["drives"])
        std::cout << "  " << d["letter"].get<std::string>() << ":  " << d["kind"].get<std::string>()
                  << "  " << d["device"].get<std::string>() << "  "
                  << d["hostPath"].get<std::string>() << "\n";
    std::cout << "\nHives:\n";
    for (const auto& h : hives)
        std::cout << "  " << h.mount.mountPath << "  " << h.mount.windowsFile << "  "
                  << hiveStateText(h) << "\n";
    std::cout << "\nSpecial folders (CSIDL):\n";
    for (int csidl : kCsidlList)
        std::cout << "  " << (csidl < 10 ? " " : "") << csidl << "  " << m.specialFolder(csidl)
                  << "\n";
    for (const auto& w : m.warnings()) std::cout << "\nWarning: " << w << "\n";
    return kExitOk;
}

int runDemoMachine(CliContext& ctx, const std::string& dir) {
    createDemoMachine(dir);
    ImageMachine check(dir);  // proves the result opens
    if (ctx.json) {
        ctx.printJson({{"machine", check.folder().string()}, {"user", check.currentUser().name}});
    } else {
        std::cout << "Demo machine written to " << check.folder().string() << "\n"
                  << "Open it with: brisko --machine " << dir << " info\n";
    }
    return kExitOk;
}

int runRestart(CliContext& ctx) {
    auto& m = ctx.machine();
    auto& reg = m.imageRegistry();
    size_t hives = reg.pendingReplacements().size();
    bool ok = m.restart();
    if (ctx.json) {
        ctx.printJson({{"restarted", ok}, {"hivesReplaced", hives}});
    } else {
        std::cout << (ok ? "The machine was restarted: pending deletions and hive replacements "
                           "were carried out.\n"
                         : "The restart did not complete: some pending operations failed.\n");
    }
    return ok ? kExitOk : kExitFailure;
}
}  // namespace

void addMachineCommands(CLI::App& app, CliContext& ctx) {
    auto* info = app.add_subcommand("info",
                                    "Show the machine: Windows version, drives, hives, "
                                    "user and special folders");
    setRunner(info, [&ctx] { return runInfo(ctx); });

    auto* demo = app.add_subcommand("demo-machine", "Create the demo Windows 7 machine in DIR");
    static std::string demoDir;
    demo->add_option("DIR", demoDir, "Folder to create (must be empty or absent)")->required();
    setRunner(demo, [&ctx] { return runDemoMachine(ctx, demoDir); });

    auto* restart = app.add_subcommand(
        "restart",
        "Restart the machine: carry out deletions and hive replacements that wait "
        "for the next start");
    setRunner(restart, [&ctx] { return runRestart(ctx); });
}

}  // namespace brisko::cli
