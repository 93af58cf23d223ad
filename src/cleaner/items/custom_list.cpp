// The user's custom list in Custom.dat, and the checks its entries pass.
#include "cleaner/items/custom_list.h"

#include <algorithm>
#include <cctype>

#include "base/text.h"
#include "cleaner/clean_context.h"
#include "cleaner/folder_guards.h"
#include "cleaner/items/data_file_items.h"
#include "cleaner/removal.h"
#include "core/ini_file.h"
#include "core/machine/machine.h"
#include "core/settings.h"

namespace brisko {

namespace {

constexpr std::string_view kRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                       "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

std::string quoted(std::string_view s) {
    return "\"" + std::string(s) + "\"";
}

// "C:\a\\b/c\" -> "C:\a\b\c"; nullopt for a path that is not a full path on a
// drive or that steps through "." or "..".
std::optional<std::string> normalFolder(std::string folder, std::string& why) {
    std::replace(folder.begin(), folder.end(), '/', '\\');
    const bool drive =
        folder.size() >= 3 && folder[1] == ':' && folder[2] == '\\' &&
        ((folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z'));
    if (!drive) {
        why = "is not a full folder path: it must begin with a drive, such as C:\\";
        return std::nullopt;
    }
    std::string out = upperCase(folder.substr(0, 2));
    for (const auto& part : split(folder.substr(3), '\\')) {
        if (part.empty()) continue;
        if (part == "." || part == ".." || trim(part).empty() ||
            part.find_first_not_of('.') == std::string::npos) {
            why = "steps through \".\" or \"..\"; write the folder out in full";
            return std::nullopt;
        }
        if (part.find_first_of("*?\"<>|:") != std::string::npos) {
            why = "has a character a folder name cannot have";
            return std::nullopt;
        }
        out += "\\" + part;
    }
    if (out.size() == 2) out += "\\";
    return out;
}

}  // namespace

std::string customListPath(Machine& machine) {
    return includeTrailingBackslash(machine.programFolder()) + std::string(kCustomDataFile);
}

std::vector<std::string> loadCustomList(Machine& machine) {
    std::vector<std::string> rows;
    auto ini = readIniFile(machine, customListPath(machine));
    if (!ini) return rows;
    for (const auto& key : ini->keys(kCustomListSection))
        rows.push_back(ini->readString(kCustomListSection, key));
    return rows;
}

bool isRegistryRow(std::string_view row) {
    return startsWithNoCase(row, "HKEY_");
}

std::vector<std::pair<std::string, std::string>> numberCustomRows(
    const std::vector<std::string>& rows) {
    std::vector<std::pair<std::string, std::string>> lines;
    int registry = 0, file = 0;
    for (const auto& row : rows) {
        if (isRegistryRow(row))
            lines.emplace_back("DelRegValue" + std::to_string(++registry), row);
        else
            lines.emplace_back("DelFile" + std::to_string(++file), row);
    }
    return lines;
}

bool saveCustomList(Machine& machine, const std::vector<std::string>& rows) {
    const std::string path = customListPath(machine);
    IniFile ini = readIniFile(machine, path).value_or(IniFile{});
    // The section is emptied and written anew in place; the other sections
    // and the lines around them stay as they were.
    for (auto keys = ini.keys(kCustomListSection); !keys.empty();
         keys = ini.keys(kCustomListSection))
        for (const auto& key : keys) ini.deleteKey(kCustomListSection, key);
    for (const auto& [key, value] : numberCustomRows(rows))
        if (!ini.writeString(kCustomListSection, key, value)) return false;
    return writeIniFile(machine, path, ini);
}

RegistryListEntry normalRegistryEntry(std::string_view entry) {
    RegistryListEntry e;
    const std::string text(trim(entry));
    const size_t slash = text.find('\\');
    e.root = upperCase(text.substr(0, slash));
    const std::string rest = slash == std::string::npos ? "" : text.substr(slash + 1);
    const size_t comma = rest.find(',');
    if (comma != std::string::npos) e.value = rest.substr(comma + 1);
    std::vector<std::string> steps;
    for (auto& part : split(rest.substr(0, comma), '\\')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (steps.empty())
                e.aboveRoot = true;
            else
                steps.pop_back();
            continue;
        }
        steps.push_back(std::move(part));
    }
    for (const auto& step : steps) e.path += (e.path.empty() ? "" : "\\") + step;
    return e;
}

std::string RegistryListEntry::text() const {
    std::string out = root + (path.empty() ? "" : "\\" + path);
    if (value) out += "," + *value;
    return out;
}

std::optional<std::string> refuseRegistryEntry(std::string_view entry) {
    const std::string text(trim(entry));
    if (text.find_first_of("\r\n") != std::string::npos) return "A registry entry is one line.";
    const RegistryListEntry e = normalRegistryEntry(text);
    if (std::find(std::begin(kRoots), std::end(kRoots), e.root) == std::end(kRoots))
        return quoted(text) +
               " does not begin with a registry root written in full, such as "
               "HKEY_CURRENT_USER\\Software\\Example.";
    // Written as a key path, one step after the other, and naming a key below the root.
    const size_t slash = text.find('\\');
    const std::string written =
        slash == std::string::npos ? "" : text.substr(slash + 1, text.find(',') - slash - 1);
    if (written.empty() || written.front() == '\\' || written.back() == '\\' ||
        written.find("\\\\") != std::string::npos || e.path.empty() || e.aboveRoot)
        return quoted(text) + " does not name a key: write the key path after the root.";
    return std::nullopt;
}

std::optional<std::string> refuseFileEntry(Machine& machine, std::string_view entry) {
    const std::string text(trim(entry));
    if (text.empty()) return std::string("The entry is empty.");
    if (text.find_first_of("\r\n") != std::string::npos)
        return std::string("An entry is one line.");
    const auto target = resolveFileEntry(machine, text);
    if (!target) return quoted(text) + " begins with a folder name this machine has no folder for.";
    std::string why;
    const auto folder = normalFolder(target->folder, why);
    if (!folder) return quoted(text) + " " + why + ".";
    if (target->mask && trim(*target->mask).empty())
        return quoted(text) + " has nothing after the comma: name a file or a mask.";
    if (target->mask && target->mask->find_first_of("\\/:") != std::string::npos)
        return quoted(text) + ": the text after the comma is a file name or a mask, not a path.";

    // A drive the machine does not have would be one of the host's, or none.
    const char drive = folder->front();
    const auto drives = machine.files().drives();
    const bool known = std::any_of(drives.begin(), drives.end(), [&](const DriveInfo& d) {
        return std::toupper(static_cast<unsigned char>(d.letter)) == drive;
    });
    if (!known)
        return quoted(text) + " is on " + folder->substr(0, 2) + ", not a drive of this machine.";
    // Anything else on the machine may be listed: the drive roots and the
    // documents are guarded by the questions the run asks before it removes.
    return std::nullopt;
}

std::optional<std::string> refuseListEntry(Machine& machine, std::string_view entry) {
    // "HKCU\..." and the like are meant as keys; the root message says how to write them.
    if (startsWithNoCase(trim(entry), "HK")) return refuseRegistryEntry(entry);
    return refuseFileEntry(machine, entry);
}

std::optional<std::string> refuseNewListEntry(Machine& machine, std::string_view entry) {
    if (auto why = refuseListEntry(machine, entry)) return why;
    const std::string text(trim(entry));
    if (isRegistryRow(text)) return std::nullopt;
    const auto target = resolveFileEntry(machine, text);
    auto& files = machine.files();
    if (!files.directoryExists(target->folder))
        return "The folder " + target->folder + " does not exist.";
    if (!target->mask || *target->mask == "*.*") return std::nullopt;
    const std::string mask(trim(*target->mask));
    if (mask.find('*') != std::string::npos) {
        if (mask.size() <= 2) return quoted(mask) + " is not a mask: give one such as *.txt.";
        return std::nullopt;
    }
    if (!files.fileExists(includeTrailingBackslash(target->folder) + mask))
        return "The folder " + target->folder + " has no file " + quoted(mask) + ".";
    return std::nullopt;
}

}  // namespace brisko
