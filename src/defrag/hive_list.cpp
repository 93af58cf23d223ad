#include "defrag/hive_list.h"

#include "base/text.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {
// The n-th backslash (1-based), or npos.
size_t nthBackslash(std::string_view s, int n) {
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] == '\\' && --n == 0) return i;
    return std::string_view::npos;
}

std::string mapToFixedDrive(FileApi& files, std::string_view path) {
    for (const auto& d : files.drives()) {
        std::string root{d.letter, ':', '\\'};
        if (files.driveType(root) != DriveKind::Fixed) continue;
        std::string device = files.queryDosDevice(std::string{d.letter, ':'});
        if (device.empty()) continue;
        // The whole device name: \Device\HarddiskVolume1 is not the start of
        // \Device\HarddiskVolume10.
        size_t at = findNoCase(path, device);
        while (at != std::string_view::npos && at + device.size() < path.size() &&
               path[at + device.size()] != '\\') {
            size_t next = findNoCase(path.substr(at + 1), device);
            at = next == std::string_view::npos ? next : at + 1 + next;
        }
        if (at == std::string_view::npos) continue;
        return std::string{d.letter, ':'} + std::string(path.substr(at + device.size()));
    }
    return {};
}

std::string mapToDriveLetter(FileApi& files, std::string_view ntPath) {
    std::string path(ntPath);
    if (!path.starts_with("\\") && startsWithNoCase(path, "Device")) path = "\\" + path;
    std::string device, tail;
    if (findNoCase(path, "Device\\HarddiskVolume") != std::string::npos) {
        size_t cut = nthBackslash(path, 3);
        if (cut == std::string::npos) return {};
        device = path.substr(0, cut);
        tail = path.substr(cut);
    } else if (findNoCase(path, "Device\\Harddisk") != std::string::npos) {
        size_t cut = nthBackslash(path, 4);
        if (cut == std::string::npos) return {};
        device = path.substr(0, cut);
        tail = path.substr(cut);
    } else {
        return {};
    }
    for (char c = 'a'; c <= 'z'; ++c) {
        std::string answer = files.queryDosDevice(std::string{c, ':'});
        if (answer.empty()) continue;
        if (equalsNoCase(device, answer) || equalsNoCase(device, "\\" + answer))
            return std::string{c, ':'} + tail;
    }
    return {};
}
}  // namespace

std::string RedirectSystem32(FileApi& files, std::string_view path) {
    size_t at = findNoCase(path, "system32");
    if (at == std::string_view::npos) return std::string(path);
    std::string redirected =
        std::string(path.substr(0, at)) + "sysnative" + std::string(path.substr(at + 8));
    return files.fileExists(redirected) ? redirected : std::string(path);
}

std::string MapHiveFilePath(FileApi& files, std::string_view ntPath, bool isWow64) {
    if (findNoCase(ntPath, "Device\\Harddisk") != std::string_view::npos) {
        std::string first = mapToFixedDrive(files, ntPath);
        if (!first.empty()) {
            if (isWow64) first = RedirectSystem32(files, first);
            if (files.fileExists(first)) return first;
        }
    }
    std::string second = mapToDriveLetter(files, ntPath);
    if (second.empty()) return {};
    if (isWow64) second = RedirectSystem32(files, second);
    return files.fileExists(second) ? second : std::string{};
}

std::vector<HiveEntry> BuildHiveList(Machine& machine, bool isWow64) {
    std::vector<HiveEntry> out;
    RegistryKey key(machine.registry(), RootKey::LocalMachine);
    if (!key.openKey("SYSTEM\\CurrentControlSet\\Control\\hivelist")) return out;
    for (const auto& name : key.valueNames()) {
        auto type = key.dataType(name);
        if (!type || (*type != REG_SZ && *type != REG_EXPAND_SZ)) continue;
        auto data = key.readString(name);
        if (!data || data->empty()) continue;  // volatile hives have no file
        std::string file = MapHiveFilePath(machine.files(), *data, isWow64);
        if (file.empty()) continue;
        out.push_back({name, file});
    }
    return out;
}

}  // namespace brisko
