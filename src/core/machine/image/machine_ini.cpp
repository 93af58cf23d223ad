#include "core/machine/image/machine_ini.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/ini_file.h"
#include "core/text.h"

namespace brisko {

namespace {
bool yes(std::string_view v) {
    std::string s = lowerCase(trim(v));
    return s == "1" || s == "yes" || s == "true";
}

std::optional<bool> boolValue(const IniFile& ini, const char* key) {
    if (!ini.valueExists("Machine", key)) return std::nullopt;
    return yes(ini.readString("Machine", key));
}

std::optional<std::string> stringValue(const IniFile& ini, const char* key) {
    std::string v = ini.readString("Machine", key);
    if (v.empty()) return std::nullopt;
    return v;
}

DriveKind parseKind(const std::string& s, char letter) {
    std::string k = lowerCase(s);
    if (k.empty() || k == "fixed") return DriveKind::Fixed;
    if (k == "removable") return DriveKind::Removable;
    if (k == "cdrom" || k == "cd-rom" || k == "cd") return DriveKind::CdRom;
    if (k == "absent" || k == "none") return DriveKind::NoRootDir;
    if (k == "remote" || k == "network") return DriveKind::Remote;
    if (k == "ramdisk") return DriveKind::RamDisk;
    throw std::runtime_error(std::string("machine.ini: drive ") + letter + ": unknown kind \"" +
                             s + "\" (fixed, removable, cdrom, absent, remote, ramdisk)");
}
}  // namespace

MachineIni readMachineIni(const std::filesystem::path& folder) {
    MachineIni result;
    auto file = folder / "machine.ini";
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return result;
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) throw std::runtime_error("machine.ini cannot be read: " + file.string());
    IniFile ini(text.str());
    result.version = stringValue(ini, "Version");
    result.platform = stringValue(ini, "Platform");
    result.is64Bit = boolValue(ini, "Is64Bit");
    result.user = stringValue(ini, "User");
    result.administrator = boolValue(ini, "Administrator");
    result.programFolder = stringValue(ini, "ProgramFolder");

    int volume = 2;
    for (const auto& name : ini.sections()) {
        if (!startsWithNoCase(name, "Drive ") || name.size() != 7) continue;
        char letter = upperCase(name.substr(6))[0];
        if (letter < 'A' || letter > 'Z')
            throw std::runtime_error("machine.ini: [" + name + "] is not a drive letter");
        DriveInfo d;
        d.letter = letter;
        d.kind = parseKind(ini.readString(name, "Kind"), letter);
        d.hostPath = ini.readString(name, "Path");
        std::string device = ini.readString(name, "Device");
        if (device.empty()) {
            device = d.kind == DriveKind::CdRom ? "\\Device\\CdRom0"
                                                : "\\Device\\HarddiskVolume" + std::to_string(volume);
        }
        if (d.kind != DriveKind::CdRom) ++volume;
        d.device = device;
        d.volumeLabel = ini.readString(name, "Label");
        d.mediaPresent = d.kind != DriveKind::NoRootDir && yes(ini.readString(name, "Media", "1")) &&
                         !d.hostPath.empty();
        result.drives.push_back(d);
    }
    return result;
}

}  // namespace brisko
