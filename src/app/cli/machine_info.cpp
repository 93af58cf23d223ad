#include "app/cli/machine_info.h"

#include <iostream>
#include <string>

#include "cleaner/clean_context.h"
#include "cleaner/program_lists.h"
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

// "C:\Program Files\Brisko Cleaner\apls.dat (the machine's program folder)"
std::string listText(const nlohmann::json& list) {
    const std::string path = list["path"], origin = list["origin"];
    return path.empty() ? origin : path + " (" + origin + ")";
}
}  // namespace

nlohmann::json machineInfoJson(Machine& m, bool withHostPaths) {
    auto v = m.version();
    auto user = m.currentUser();
    nlohmann::json j;
    j["windowsVersion"] =
        std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.build);
    j["productName"] = v.productName;
    j["servicePack"] = v.servicePack;
    j["platform"] = v.platform == OsVersion::NT ? "NT" : "9x";
    j["windowsVersionCode"] = WindowsVersionCode(v);
    j["isWow64"] = m.isWow64();
    j["administrator"] = m.isAdministrator();
    j["drives"] = nlohmann::json::array();
    for (const auto& d : m.files().drives()) {
        nlohmann::json drive = {{"letter", std::string(1, d.letter)},
                                {"kind", kindName(d.kind)},
                                {"device", d.device},
                                {"mediaPresent", d.mediaPresent}};
        if (withHostPaths) drive["hostPath"] = d.hostPath;
        j["drives"].push_back(std::move(drive));
    }
    j["user"] = {{"name", user.name}, {"sid", user.sid}, {"profile", user.profile}};
    j["specialFolders"] = nlohmann::json::object();
    for (int csidl : kCsidlList)
        j["specialFolders"][std::to_string(csidl)] = m.specialFolder(csidl);
    j["tempPath"] = m.tempPath();
    j["windowsDirectory"] = m.windowsDirectory();
    j["systemDirectory"] = m.systemDirectory();
    j["programFolder"] = m.programFolder();
    const ProgramList apps = loadProgramList(m, kAppsDataFile);
    j["applicationList"] = {{"origin", listOriginText(apps.origin)}, {"path", apps.where}};
    return j;
}

void printMachineInfo(const nlohmann::json& j, std::string_view machineName) {
    auto text = [&j](const char* key) { return j[key].get<std::string>(); };
    const auto& user = j["user"];
    const std::string servicePack = text("servicePack");
    std::cout << "Machine:        " << machineName << "\n"
              << "Windows:        " << text("productName") << (servicePack.empty() ? "" : " ")
              << servicePack << " (" << text("windowsVersion") << ", " << text("platform") << ", "
              << (j["isWow64"].get<bool>() ? "64-bit" : "32-bit") << ", version code "
              << j["windowsVersionCode"].get<int>() << ")\n"
              << "User:           " << user["name"].get<std::string>() << " ("
              << user["sid"].get<std::string>() << ")"
              << (j["administrator"].get<bool>() ? ", administrator" : "") << "\n"
              << "Profile:        " << user["profile"].get<std::string>() << "\n"
              << "Windows folder: " << text("windowsDirectory") << "\n"
              << "Temp folder:    " << text("tempPath") << "\n"
              << "Program folder: " << text("programFolder") << "\n"
              << "apls.dat:       " << listText(j["applicationList"]) << "\n\nDrives:\n";
    // An image names the host folder of each drive; the running Windows says
    // which drives have no medium.
    for (const auto& d : j["drives"]) {
        std::cout << "  " << d["letter"].get<std::string>() << ":  " << d["kind"].get<std::string>()
                  << "  " << d["device"].get<std::string>();
        if (d.contains("hostPath"))
            std::cout << "  " << d["hostPath"].get<std::string>();
        else if (!d["mediaPresent"].get<bool>())
            std::cout << "  (no medium)";
        std::cout << "\n";
    }
}

void printSpecialFolders(const nlohmann::json& j) {
    std::cout << "\nSpecial folders (CSIDL):\n";
    for (int csidl : kCsidlList)
        std::cout << "  " << (csidl < 10 ? " " : "") << csidl << "  "
                  << j["specialFolders"][std::to_string(csidl)].get<std::string>() << "\n";
}

}  // namespace brisko::cli
