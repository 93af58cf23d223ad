#include "registry/problem_filter.h"

#include <algorithm>

#include "core/settings.h"
#include "core/text.h"

namespace brisko {

const std::array<std::string_view, 10> ListBox2 = {
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Speech\\Recognizers\\Tokens",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\Sysprep\\Cleanup",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\IME\\China\\imesc\\"
    "Directories",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\TPG\\InputPersonalization\\AnalysisTokens\\4103\\IPS",
    "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{B977CB2D-EC6E-4A8F-BFFE-D18682BB0D52}\\"
    "InProcServer32",
    "HKEY_CLASSES_ROOT\\CLSID\\{B977CB2D-EC6E-4A8F-BFFE-D18682BB0D52}\\InProcServer32",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\IMEJP\\10.0\\directories",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\PowerShell\\1\\PowerShellEngine",
    // The root is misspelt, so this entry never matches; kept as the list is.
    "HKEY_LOCAL_MASCHINE\\Software\\ARM Software\\MacroMaker",
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.wdseml",
};

const std::array<std::string_view, 41> ListBox1 = {
    "HKEY_CLASSES_ROOT\\.DAT",
    "HKEY_CLASSES_ROOT\\.hta",
    "HKEY_CLASSES_ROOT\\.htc",
    "HKEY_CLASSES_ROOT\\.manifest",
    "HKEY_CLASSES_ROOT\\Applications\\WINWORD.EXE\\TaskbarExceptionsIcons",
    "HKEY_CLASSES_ROOT\\CLSID\\{08EE6878-C867-4D8C-A360-FED4B6501D54}",
    "HKEY_CURRENT_USER\\Software\\Lexmark",
    "HKEY_CURRENT_USER\\Software\\JavaSoft",
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\lexmark\\MarkVision\\LexBCE\\Debug Options",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\WBEM\\WDM",
    "HKEY_USERS\\S-1-5-20\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "HKEY_USERS\\S-1-5-19\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "HKEY_USERS\\S-1-5-20\\Software\\Microsoft\\MediaPlayer\\Setup\\CreatedLinks",
    "HKEY_USERS\\S-1-5-21-6497018-2779423360-1663385191-1005\\Software\\Microsoft\\Windows "
    "NT\\CurrentVersion\\AeDebug",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\IMAPI\\StashInfo",
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\10.0\\Outlook\\Journal",
    "HKEY_USERS\\S-1-5-21-6497018-2779423360-1663385191-1005\\Software\\Microsoft\\Office\\10."
    "0\\Outlook\\Journal",
    "HKEY_CURRENT_USER\\Software\\ThinPrint",
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Office\\11.0\\Outlook\\Journal",
    "HKEY_USERS\\S-1-5-21-6497018-2779423360-1663385191-1005\\Software\\Microsoft\\Office\\11."
    "0\\Outlook\\Journal",
    "HKEY_CURRENT_USER\\Software\\Ahead\\Nero - Burning Rom\\Database",
    "HKEY_USERS\\S-1-5-21-6497018-2779423360-1663385191-1005\\Software\\Ahead\\Nero - Burning "
    "Rom\\Database",
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Citrix Program "
    "Neighborhood",
    "HKEY_CURRENT_USER\\Software\\Funk Software, Inc.",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug",
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "HKEY_USERS\\S-1-5-21-1229272821-854245398-1343024091-1003\\Software\\Microsoft\\Windows\\"
    "CurrentVersion\\Explorer\\Shell Folders",
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Media Center\\MRU",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Hewlett-Packard\\DigitalImaging",
    "HKEY_CLASSES_ROOT\\CLSID\\{DFEAF541-F3E1-4c24-ACAC-99C30715084A}",
    ListBox2[0],
    ListBox2[1],
    ListBox2[2],
    ListBox2[3],
    ListBox2[4],
    ListBox2[5],
    ListBox2[6],
    ListBox2[7],
    ListBox2[8],
    ListBox2[9],
};

namespace {

bool contains(std::string_view hay, std::string_view needle) {
    return hay.find(needle) != std::string_view::npos;
}

std::string withBackslash(std::string s) {
    if (s.empty() || s.back() != '\\') s.push_back('\\');
    return s;
}

// hay contains needle. Full paths begin with a root name, so when needle does
// and hay holds no second root name, only a match at the start is possible:
// a prefix comparison then gives the same answer as the search, much faster.
bool containsPath(const FilterPath& hay, const FilterPath& needle) {
    if (needle.startsWithRoot && hay.singleRoot) return hay.text.starts_with(needle.text);
    return contains(hay.text, needle.text);
}

void addKeyEntry(std::vector<FilterPath>& out, std::string_view entry) {
    // An empty entry would become "\", which every key path contains: the
    // scan would then report nothing and look successful.
    if (!ignoreEntryUsable(std::string(entry))) return;
    out.emplace_back(withBackslash(upperCase(entry)));
}

// A row's key path and data upper-cased once; both phases compare on them.
struct UpperRow {
    explicit UpperRow(const RegistryProblem& row)
        : key(upperCase(row.keyPath)), data(upperCase(row.data)) {}
    std::string key, data;
};

// The key a fix of the row would touch (K) and the value in it (V, empty when
// the fix deletes a whole key), upper-cased.
struct RowTarget {
    std::string key, value;
};

bool rowTarget(const RegistryProblem& row, const UpperRow& up, RowTarget& t) {
    if (row.kind == pkFile) return false;
    const std::string& path = up.key;
    size_t slash = path.find('\\');
    if (slash == std::string::npos) return false;
    std::string_view root = std::string_view(path).substr(0, slash);
    std::string_view rest = std::string_view(path).substr(slash + 1);
    switch (row.kind) {
        case pkValue: {
            size_t last = rest.rfind('\\');
            if (last == std::string_view::npos) {
                t.key = std::string(root) + "\\";
                t.value = rest;
            } else {
                t.key = std::string(root) + "\\" + std::string(rest.substr(0, last));
                t.value = rest.substr(last + 1);
            }
            break;
        }
        case pkDataValue:
            t.key = path;
            t.value = up.data;
            break;
        case pkDataSubkey:
            t.key = rest.empty() ? std::string(root) + "\\" + up.data : path + "\\" + up.data;
            break;
        case pkDefaultValue:
            t.key = path;
            t.value = "@";
            break;
        case pkRot13Value:
            t.key = path;
            t.value = Rot13(up.data);  // the rotation keeps letter case
            break;
        default:
            t.key = path;
            break;
    }
    return true;
}

// Text after the first '%' of s contains needle.
bool afterFirstPercentContains(std::string_view s, std::string_view needle) {
    size_t p = s.find('%');
    return p != std::string_view::npos && contains(s.substr(p + 1), needle);
}

}  // namespace

FilterPath::FilterPath(std::string upperText)
    : text(std::move(upperText)),
      startsWithRoot(text.starts_with("HKEY_")),
      singleRoot(text.find("HKEY_", 1) == std::string::npos) {}

FilterLists makeFilterLists(const std::vector<std::string>& ignoreKeys,
                            const std::vector<std::string>& ignoreValues, int windowsVersionCode) {
    FilterLists lists;
    for (auto e : ListBox1) addKeyEntry(lists.keys, e);
    for (const auto& e : ignoreKeys) addKeyEntry(lists.keys, e);
    if (windowsVersionCode >= 11 && windowsVersionCode <= 13)
        for (auto e : ListBox2) addKeyEntry(lists.keys, e);
    for (const auto& e : ignoreValues)
        if (ignoreEntryUsable(e)) lists.values.emplace_back(upperCase(e));
    return lists;
}

namespace {

bool fixedRules(const RegistryProblem& row, const UpperRow& up) {
    const std::string& key = row.keyPath;
    const std::string& data = row.data;
    if (contains(up.key, "CLSID\\{DFEAF541-F3E1-4C24-ACAC-99C30715084A}") ||
        contains(up.key, "CLSID\\{DC6EFB56-9CFA-464D-8880-44885D7DC193}"))
        return true;
    if (contains(up.key, "%USERNAME%_") || contains(up.data, "%USERNAME%_")) return true;
    // A "?" stands for a character the code page could not show: such a path
    // cannot be checked, so it is not offered for deletion.
    if (contains(key, "?") && (contains(key, ":\\") || afterFirstPercentContains(key, "%\\")))
        return true;
    if (contains(data, "?") && (contains(data, ":\\") || afterFirstPercentContains(data, "%")))
        return true;
    return false;
}

bool listRules(const RegistryProblem& row, const UpperRow& up, const FilterLists& lists) {
    RowTarget t;
    if (!rowTarget(row, up, t)) return false;
    const std::string& v = t.value;
    const std::string k = t.key;
    const FilterPath kSlash(withBackslash(std::move(t.key)));
    std::string valuePath = v.empty() ? std::string() : kSlash.text + v;
    for (const auto& entry : lists.values) {
        if (!v.empty()) {
            if (valuePath == entry.text) return true;
        } else if (entry.text == k || containsPath(entry, kSlash)) {
            // The ignored value lies in or below the key the fix would delete.
            // Compared with a trailing "\" so that a value under FooBar does
            // not protect a key Foo beside it.
            return true;
        }
    }
    std::string upperPath;  // a value row may be excluded by its full path, too
    if (!v.empty()) upperPath = withBackslash(up.key);
    for (const auto& entry : lists.keys) {
        if (!v.empty()) {
            // Key entries end with "\", so this is "equals keyPath or keyPath + \".
            if (containsPath(kSlash, entry) || entry.text == upperPath) return true;
        } else if (containsPath(kSlash, entry) || containsPath(entry, kSlash)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool removedByFixedRules(const RegistryProblem& row) {
    return fixedRules(row, UpperRow(row));
}

bool removedByLists(const RegistryProblem& row, const FilterLists& lists) {
    return listRules(row, UpperRow(row), lists);
}

size_t FilterProblems(std::vector<RegistryProblem>& rows, const FilterLists& lists) {
    size_t before = rows.size();
    std::erase_if(rows, [&](const RegistryProblem& row) {
        UpperRow up(row);
        return fixedRules(row, up) || listRules(row, up, lists);
    });
    return before - rows.size();
}

size_t FilterProblems(std::vector<RegistryProblem>& rows,
                      const std::vector<std::string>& ignoreKeys,
                      const std::vector<std::string>& ignoreValues, int windowsVersionCode) {
    return FilterProblems(rows, makeFilterLists(ignoreKeys, ignoreValues, windowsVersionCode));
}

}  // namespace brisko
