#include "tools/startup_delete.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "core/machine/machine.h"
#include "core/machine/registry_key.h"
#include "core/text.h"

namespace brisko {

namespace {

constexpr std::string_view kShortcutFolder = "Startup shortcuts";

// .reg text of one value, as regedit writes it in a version 5 file. Strings
// that would not come back byte for byte are written as hex of their type.
std::string escapeRegText(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

std::string valueLine(const RegValue& v) {
    std::string line = v.name.empty() ? "@" : "\"" + escapeRegText(v.name) + "\"";
    line += '=';
    if (v.type == REG_SZ) {
        std::string text = utf16leToUtf8(v.data);
        if (text.find_first_of("\r\n") == std::string::npos && utf8ToUtf16le(text) == v.data)
            return line + "\"" + escapeRegText(text) + "\"\r\n";
    }
    char head[24];
    std::snprintf(head, sizeof head, "hex(%x):", unsigned(v.type));
    line += head;
    size_t column = line.size();
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < v.data.size(); ++i) {
        line += kDigits[v.data[i] >> 4];
        line += kDigits[v.data[i] & 15];
        if (i + 1 == v.data.size()) break;
        line += ',';
        column += 3;
        if (column >= 77) {
            line += "\\\r\n  ";
            column = 2;
        }
    }
    return line + "\r\n";
}

bool writeAll(FileHandle& f, std::string_view bytes) {
    return f.write(bytes.data(), int64_t(bytes.size())) == int64_t(bytes.size()) && f.flush();
}

// Splits "HKEY_CURRENT_USER\Software\..." into a root and the key path; only the
// five full root names count.
bool splitLocation(std::string_view location, RootKey& root, std::string& rootText,
                   std::string& path) {
    size_t slash = location.find('\\');
    if (slash == std::string_view::npos) return false;
    rootText = upperCase(location.substr(0, slash));
    auto parsed = parseRoot(rootText);
    if (!parsed || std::string(rootName(*parsed)) != rootText) return false;
    root = *parsed;
    path = std::string(location.substr(slash + 1));
    return true;
}

int folderCsidl(std::string_view location) {
    if (location == kStartupLocation) return 7;
    if (location == kCommonStartupLocation) return 24;
    return -1;
}

}  // namespace

std::string StartupBackupStamp() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d_%02d_%02d_%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

StartupBackup::StartupBackup(Machine& machine, std::string backupFolder, std::string stamp)
    : machine_(machine),
      folder_(excludeTrailingBackslash(backupFolder)),
      stamp_(stamp.empty() ? StartupBackupStamp() : std::move(stamp)) {}

bool StartupBackup::ensureFolder(const std::string& folder) {
    if (machine_.files().directoryExists(folder) || machine_.files().forceDirectories(folder))
        return true;
    error_ = "Cannot create " + folder;
    return false;
}

bool StartupBackup::backupValue(std::string_view rootName, std::string_view keyPath,
                                std::string_view valueName) {
    error_.clear();
    auto root = parseRoot(rootName);
    auto key = root ? machine_.registry().openKey(*root, keyPath, KeyAccess::Read) : nullptr;
    auto value = key ? key->value(valueName) : std::nullopt;
    if (!value) {
        error_ = "The value could not be read for its backup.";
        return false;
    }
    if (folder_.empty()) {
        error_ = "No registry backup folder is set (Options, \"Common\").";
        return false;
    }
    if (!ensureFolder(folder_)) return false;
    std::string block = "\r\n[" + upperCase(rootName) + "\\" +
                        excludeTrailingBackslash(std::string(keyPath)) + "]\r\n" +
                        valueLine(*value);
    FileApi& files = machine_.files();
    if (regFile_.empty()) {
        // A new file of its own; a second run in the same second gets "_2".
        for (int n = 1; n < 100 && regFile_.empty(); ++n) {
            std::string name = folder_ + "\\" + stamp_ + "_startup" +
                               (n == 1 ? std::string() : "_" + std::to_string(n)) + ".reg";
            auto f = files.createNewFile(name);
            if (!f) continue;
            std::vector<uint8_t> wide =
                utf8ToUtf16le("Windows Registry Editor Version 5.00\r\n" + block, false);
            std::string bytes("\xFF\xFE", 2);
            bytes.append(reinterpret_cast<const char*>(wide.data()), wide.size());
            if (!writeAll(*f, bytes)) {
                f.reset();
                files.deleteFile(name);
                error_ = "The backup file " + name + " could not be written.";
                return false;
            }
            regFile_ = name;
            return true;
        }
        error_ = "No new backup file could be created in " + folder_ + ".";
        return false;
    }
    auto f = files.openFile(regFile_, FileMode::ReadWrite);
    if (!f || !f->seek(f->size())) {
        error_ = "The backup file " + regFile_ + " could not be opened.";
        return false;
    }
    std::vector<uint8_t> wide = utf8ToUtf16le(block, false);
    if (!writeAll(*f, std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size()))) {
        error_ = "The backup file " + regFile_ + " could not be written.";
        return false;
    }
    return true;
}

std::optional<std::string> StartupBackup::backupShortcut(std::string_view location,
                                                         std::string_view shortcutPath) {
    error_.clear();
    if (folder_.empty()) {
        error_ = "No registry backup folder is set (Options, \"Common\").";
        return std::nullopt;
    }
    std::string target = folder_ + "\\" + std::string(kShortcutFolder) + "\\" + stamp_ + "\\" +
                         std::string(location);
    if (!ensureFolder(target)) return std::nullopt;
    std::string copy = target + "\\" + extractFileName(shortcutPath);
    if (!machine_.files().copyFile(shortcutPath, copy, true) ||
        !machine_.files().fileExists(copy)) {
        error_ = "The shortcut could not be copied to " + copy + ".";
        return std::nullopt;
    }
    return copy;
}

std::string StartupShortcutPath(Machine& machine, const StartupEntry& entry) {
    int csidl = folderCsidl(entry.location);
    if (csidl < 0) return {};
    std::string folder = machine.specialFolder(csidl);
    if (folder.empty()) return {};
    return includeTrailingBackslash(folder) + entry.name;
}

StartupDeleteResult DeleteStartupEntry(Machine& machine, const StartupEntry& entry,
                                       StartupBackup& backup) {
    StartupDeleteResult r;
    if (folderCsidl(entry.location) >= 0) {
        std::string path = StartupShortcutPath(machine, entry);
        if (path.empty()) {
            r.message = "This machine has no " + entry.location + " folder.";
            return r;
        }
        if (!machine.files().fileExists(path)) {
            r.outcome = StartupDeleteOutcome::AlreadyGone;
            return r;
        }
        auto copy = backup.backupShortcut(entry.location, path);
        if (!copy) {
            r.outcome = StartupDeleteOutcome::BackupFailed;
            r.message = backup.error();
            return r;
        }
        r.backup = *copy;
        if (!machine.files().shellDelete(path)) {
            r.outcome = StartupDeleteOutcome::DeleteFailed;
            r.message = "The shortcut " + path + " could not be deleted.";
            return r;
        }
        r.outcome = StartupDeleteOutcome::Deleted;
        return r;
    }

    RootKey root;
    std::string rootText, keyPath;
    if (!splitLocation(entry.location, root, rootText, keyPath)) {
        r.message = "\"" + entry.location + "\" is not a registry key or a Startup folder.";
        return r;
    }
    auto key = machine.registry().openKey(root, keyPath, KeyAccess::ReadWrite);
    if (!key || !key->value(entry.name)) {
        // The key or the value went since the list was filled.
        auto readable = machine.registry().openKey(root, keyPath, KeyAccess::Read);
        if (!readable || !readable->value(entry.name)) {
            r.outcome = StartupDeleteOutcome::AlreadyGone;
            return r;
        }
        r.outcome = StartupDeleteOutcome::DeleteFailed;
        r.message = "The key " + entry.location + " cannot be changed.";
        return r;
    }
    if (!backup.backupValue(rootText, keyPath, entry.name)) {
        r.outcome = StartupDeleteOutcome::BackupFailed;
        r.message = backup.error();
        return r;
    }
    r.backup = backup.regFile();
    if (!key->deleteValue(entry.name)) {
        r.outcome = StartupDeleteOutcome::DeleteFailed;
        auto refused = machine.registry().refusedEdits();
        r.message = refused.empty() ? "The value could not be deleted." : refused.back();
        return r;
    }
    r.outcome = StartupDeleteOutcome::Deleted;
    return r;
}

std::string RestoreStartupShortcut(Machine& machine, std::string_view copyPath) {
    std::string parent = excludeTrailingBackslash(extractFilePath(copyPath));
    std::string location = extractFileName(parent);
    int csidl = folderCsidl(location);
    if (csidl < 0) return "This is not a shortcut backup of the Startup manager.";
    std::string folder = machine.specialFolder(csidl);
    if (folder.empty()) return "This machine has no " + location + " folder.";
    folder = includeTrailingBackslash(folder);
    std::string target = folder + extractFileName(copyPath);
    if (machine.files().fileExists(target)) return target + " exists already.";
    if (!machine.files().directoryExists(folder) && !machine.files().forceDirectories(folder))
        return "Cannot create " + folder;
    if (!machine.files().copyFile(copyPath, target, true)) return target + " could not be written.";
    return {};
}

}  // namespace brisko
