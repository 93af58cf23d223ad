#include "core/machine/image/machine_ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "base/text.h"
#include "base/unique_fd.h"
#include "core/ini_file.h"
#include "core/machine/image/beneath_open.h"

namespace brisko {

namespace {

// A description of a few drives; anything this large is not one.
constexpr off_t kMaxMachineIniBytes = 1 << 20;

[[noreturn]] void refuse(const std::string& why) {
    throw std::runtime_error("machine.ini " + why + "; the machine is not opened.");
}

// The text of folder/machine.ini; nullopt when there is none. Only a regular
// file inside the machine folder is read: a link that leads out, a pipe or a
// device in its place is refused without being opened for reading.
std::optional<std::string> readMachineIniText(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstatat(dir.fd, "machine.ini", &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    std::string rel = "machine.ini";
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        auto root = fs::canonical(folder, ec);
        auto target = ec ? fs::path() : fs::canonical(folder / rel, ec);
        if (ec) refuse("is a link that leads nowhere");
        auto relative = target.lexically_relative(root);
        if (relative.empty() || *relative.begin() == "..")
            refuse("is a link that leads out of the machine folder");
        rel = relative.string();
    }
    UniqueFd fd(image::openBeneath(dir.fd, rel, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.fd < 0) refuse("cannot be opened");
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode)) refuse("is not a regular file");
    if (st.st_size > kMaxMachineIniBytes) refuse("is larger than 1 MB");
    std::string text(size_t(st.st_size), '\0');
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = ::read(fd.fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) refuse("cannot be read");
        if (n == 0) break;
        got += size_t(n);
    }
    text.resize(got);
    return text;
}

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
    throw std::runtime_error(std::string("machine.ini: drive ") + letter + ": unknown kind \"" + s +
                             "\" (fixed, removable, cdrom, absent, remote, ramdisk)");
}
}  // namespace

MachineIni readMachineIni(const std::filesystem::path& folder) {
    MachineIni result;
    auto text = readMachineIniText(folder);
    if (!text) return result;
    IniFile ini(*text);
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
            device = d.kind == DriveKind::CdRom
                         ? "\\Device\\CdRom0"
                         : "\\Device\\HarddiskVolume" + std::to_string(volume);
        }
        if (d.kind != DriveKind::CdRom) ++volume;
        d.device = device;
        d.volumeLabel = ini.readString(name, "Label");
        d.mediaPresent = d.kind != DriveKind::NoRootDir &&
                         yes(ini.readString(name, "Media", "1")) && !d.hostPath.empty();
        result.drives.push_back(d);
    }
    return result;
}

}  // namespace brisko
