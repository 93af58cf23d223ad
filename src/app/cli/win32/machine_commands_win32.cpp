// brisko info on the running Windows. The image commands (demo-machine,
// restart of an image, hive check) belong to the Linux build; on Windows the
// system loads and checks its own hives.
#include <iostream>

#include "app/cli/commands.h"
#include "app/cli/defrag_commands.h"
#include "core/startup.h"
#include "tools/restore_point.h"

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
    j["machine"] = "this computer";
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
                               {"mediaPresent", d.mediaPresent}});
    j["hives"] = nlohmann::json::array();
    auto hives = m.registry().hiveList();
    for (const auto& h : hives) j["hives"].push_back({{"key", h.keyPath}, {"file", h.filePath}});
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
    std::cout << "Machine:        this computer\n"
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
                  << "  " << d["device"].get<std::string>()
                  << (d["mediaPresent"].get<bool>() ? "" : "  (no medium)") << "\n";
    std::cout << "\nHives:\n";
    for (const auto& h : hives) std::cout << "  " << h.keyPath << "  " << h.filePath << "\n";
    std::cout << "\nSpecial folders (CSIDL):\n";
    for (int csidl : kCsidlList)
        std::cout << "  " << (csidl < 10 ? " " : "") << csidl << "  " << m.specialFolder(csidl)
                  << "\n";
    return kExitOk;
}
}  // namespace

void addMachineCommands(CLI::App& app, CliContext& ctx) {
    auto* info = app.add_subcommand("info",
                                    "Show this computer: Windows version, drives, hives, "
                                    "user and special folders");
    setRunner(info, [&ctx] { return runInfo(ctx); });
}

void addHiveCommands(CLI::App&, CliContext&) {}

// Windows keeps its restore points itself: they are listed and rolled back in
// its own System Restore.
void addRestorePointCommands(CLI::App& app, CliContext& ctx) {
    auto* rp = app.add_subcommand("restore-point", "Make a System Restore point");
    rp->require_subcommand(1);
    auto* create = rp->add_subcommand("create", "Make a restore point now");
    setRunner(create, [&ctx] {
        std::string why;
        if (!CreateRestorePoint(ctx.machine(), &why))
            throw CliError{kExitFailure, "The restore point could not be created" +
                                             (why.empty() ? std::string(".") : ": " + why)};
        if (ctx.json)
            ctx.printJson({{"created", true}});
        else
            std::cout << "The restore point was created.\n";
        return kExitOk;
    });
}

}  // namespace brisko::cli
