#include "core/machine/image/machine_ini.h"

#include <SimpleIni.h>

#include <stdexcept>

#include "core/text.h"

namespace brisko {

namespace {
std::optional<bool> boolValue(CSimpleIniCaseA& ini, const char* key) {
    const char* v = ini.GetValue("Machine", key, nullptr);
    if (!v) return std::nullopt;
    std::string s = lowerCase(trim(v));
    return s == "1" || s == "yes" || s == "true";
}

std::optional<std::string> stringValue(CSimpleIniCaseA& ini, const char* key) {
    const char* v = ini.GetValue("Machine", key, nullptr);
    if (!v || !*v) return std::nullopt;
    return std::string(trim(v));
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
    CSimpleIniCaseA ini;
    if (ini.LoadFile(file.c_str()) < 0)
        throw std::runtime_error("machine.ini cannot be read: " + file.string());
    result.version = stringValue(ini, "Version");
    result.platform = stringValue(ini, "Platform");
    result.is64Bit = boolValue(ini, "Is64Bit");
    result.user = stringValue(ini, "User");
    result.administrator = boolValue(ini, "Administrator");
    result.programFolder = stringValue(ini, "ProgramFolder");

    CSimpleIniCaseA::TNamesDepend sections;
    ini.GetAllSections(sections);
    sections.sort(CSimpleIniCaseA::Entry::LoadOrder());
    int volume = 2;
    for (const auto& sec : sections) {
        std::string name = sec.pItem;
        if (!startsWithNoCase(name, "Drive ") || name.size() != 7) continue;
        char letter = upperCase(name.substr(6))[0];
        if (letter < 'A' || letter > 'Z')
            throw std::runtime_error("machine.ini: [" + name + "] is not a drive letter");
        DriveInfo d;
        d.letter = letter;
        d.kind = parseKind(ini.GetValue(sec.pItem, "Kind", ""), letter);
        d.hostPath = ini.GetValue(sec.pItem, "Path", "");
        std::string device = ini.GetValue(sec.pItem, "Device", "");
        if (device.empty()) {
            device = d.kind == DriveKind::CdRom ? "\\Device\\CdRom0"
                                                : "\\Device\\HarddiskVolume" + std::to_string(volume);
        }
        if (d.kind != DriveKind::CdRom) ++volume;
        d.device = device;
        d.volumeLabel = ini.GetValue(sec.pItem, "Label", "");
        std::string media = lowerCase(ini.GetValue(sec.pItem, "Media", "1"));
        d.mediaPresent = d.kind != DriveKind::NoRootDir && media != "0" && media != "no" &&
                         media != "false" && !d.hostPath.empty();
        result.drives.push_back(d);
    }
    return result;
}

}  // namespace brisko
