// Finding the installed applications of apls.dat.
#include "cleaner/items/application_items.h"

#include <algorithm>

#include "base/text.h"
#include "cleaner/clean_catalog.h"
#include "cleaner/clean_context.h"
#include "cleaner/items/data_file_items.h"
#include "core/check_tree.h"
#include "core/ini_file.h"
#include "core/machine/machine.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace {

constexpr std::string_view kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr std::string_view kUninstall32 =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr size_t kMinMatchLetters = 3;

bool isAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           static_cast<unsigned char>(c) >= 0x80;  // letters of other scripts, in UTF-8
}

// Part of a word: letters, digits, "+" and "#" ("Notepad++", "C#"), and a dot
// between two of them ("Paint.NET", "Node.js").
bool isWordChar(std::string_view s, size_t i) {
    const char c = s[i];
    if (isAlnum(c) || c == '+' || c == '#') return true;
    return c == '.' && i > 0 && i + 1 < s.size() && isAlnum(s[i - 1]) && isAlnum(s[i + 1]);
}

size_t letterCount(std::string_view s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), isAlnum));
}

// needle occurs in hay with a word boundary on both sides.
bool containsWords(std::string_view hay, std::string_view needle) {
    if (needle.empty() || needle.size() > hay.size()) return false;
    for (size_t at = hay.find(needle); at != std::string_view::npos;
         at = hay.find(needle, at + 1)) {
        const size_t end = at + needle.size();
        const bool before = at == 0 || !isWordChar(hay, at - 1) || !isWordChar(needle, 0);
        const bool after =
            end == hay.size() || !isWordChar(hay, end) || !isWordChar(needle, needle.size() - 1);
        if (before && after) return true;
    }
    return false;
}

void addNames(Machine& machine, RootKey root, std::string_view path,
              std::vector<std::string>& names) {
    RegistryKey k(machine.registry(), root);
    if (!k.openKeyReadOnly(path)) return;
    const auto subkeys = k.subkeyNames();
    k.closeKey();
    for (const auto& sub : subkeys) {
        RegistryKey entry(machine.registry(), root);
        if (!entry.openKeyReadOnly(std::string(path) + "\\" + sub)) continue;
        auto name = entry.readString("DisplayName");
        if (!name) continue;
        std::string trimmed(trim(*name));
        if (!trimmed.empty()) names.push_back(std::move(trimmed));
    }
}

}  // namespace

std::vector<std::string> sectionMatchNames(const DataFileSection& section) {
    std::vector<std::string> names{section.name};
    for (const auto& line : section.lines) {
        if (line.find("DelFile") != std::string::npos ||
            line.find("DelRegValue") != std::string::npos)
            continue;
        auto kv = splitIniLine(line);
        if (!kv || !startsWithNoCase(trim(kv->first), "Match")) continue;
        std::string name(trim(kv->second));
        if (!name.empty()) names.push_back(std::move(name));
    }
    return names;
}

bool applicationNamesMatch(std::string_view sectionName, std::string_view displayName) {
    const std::string a = upperCase(trim(sectionName));
    const std::string b = upperCase(trim(displayName));
    const std::string& shorter = a.size() <= b.size() ? a : b;
    const std::string& longer = a.size() <= b.size() ? b : a;
    if (letterCount(shorter) < kMinMatchLetters) return false;
    return containsWords(longer, shorter);
}

std::vector<std::string> installedProgramNames(Machine& machine) {
    std::vector<std::string> names;
    addNames(machine, RootKey::LocalMachine, kUninstall, names);
    if (machine.isWow64()) addNames(machine, RootKey::LocalMachine, kUninstall32, names);
    addNames(machine, RootKey::CurrentUser, kUninstall, names);
    return names;
}

std::vector<std::string> matchApplicationSections(const std::vector<DataFileSection>& sections,
                                                  const std::vector<std::string>& displayNames) {
    std::vector<std::vector<std::string>> matchNames;
    matchNames.reserve(sections.size());
    for (const auto& s : sections) matchNames.push_back(sectionMatchNames(s));

    std::vector<std::string> found;
    for (const auto& display : displayNames) {
        for (size_t i = 0; i < sections.size(); ++i) {
            const auto& caption = sections[i].name;
            if (caption.empty()) continue;
            const bool listed = std::any_of(found.begin(), found.end(), [&](const std::string& f) {
                return equalsNoCase(f, caption);
            });
            if (listed) continue;
            for (const auto& name : matchNames[i]) {
                if (applicationNamesMatch(name, display)) {
                    found.push_back(caption);
                    break;
                }
            }
        }
    }
    return found;
}

int BuildApplicationsNode(Machine& machine, CheckTree& tree) {
    CheckNode* group = nullptr;
    for (const auto& top : tree.topLevel())
        if (equalsNoCase(top->caption, kApplicationsGroup)) {
            group = top.get();
            break;
        }
    if (!group) return 0;
    const auto sections = readDataFileSections(machine, kAppsDataFile);
    if (sections.empty()) return 0;
    int added = 0;
    for (auto& caption : matchApplicationSections(sections, installedProgramNames(machine))) {
        const bool present =
            std::any_of(group->children.begin(), group->children.end(),
                        [&](const auto& child) { return equalsNoCase(child->caption, caption); });
        if (present) continue;
        const int pos = static_cast<int>(group->children.size()) + 1;
        tree.addChild(*group, std::move(caption), group->imageIndex, group->imageIndex * 100 + pos);
        ++added;
    }
    return added;
}

}  // namespace brisko
