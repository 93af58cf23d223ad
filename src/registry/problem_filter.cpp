#include "registry/problem_filter.h"

#include <algorithm>
#include <unordered_set>

#include "base/text.h"
#include "core/settings.h"

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

FilterEntry entryOf(const KeyIdentity& identity, std::string upper, bool key) {
    FilterEntry e;
    // An entry below HKEY_CLASSES_ROOT names the merged key: both Classes.
    for (auto& form : identity.forms(upper))
        e.forms.emplace_back(key ? withBackslash(std::move(form.text)) : std::move(form.text));
    return e;
}

void addKeyEntry(FilterLists& lists, std::string_view entry) {
    // An empty entry would become "\", which every key path contains: the
    // scan would then report nothing and look successful.
    if (!ignoreEntryUsable(std::string(entry))) return;
    lists.keys.push_back(entryOf(lists.identity, upperCase(entry), true));
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
    // Whether the fix deletes the key with its subtree rather than a value
    // in it (value is empty for both a whole key and some default values).
    bool wholeKey = false;
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
            t.wholeKey = true;
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
            t.wholeKey = true;
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
                            const std::vector<std::string>& ignoreValues, int windowsVersionCode,
                            KeyIdentity identity) {
    FilterLists lists;
    lists.identity = std::move(identity);
    for (auto e : ListBox1) addKeyEntry(lists, e);
    for (const auto& e : ignoreKeys) addKeyEntry(lists, e);
    if (windowsVersionCode >= 11 && windowsVersionCode <= 13)
        for (auto e : ListBox2) addKeyEntry(lists, e);
    for (const auto& e : ignoreValues)
        if (ignoreEntryUsable(e))
            lists.values.push_back(entryOf(lists.identity, upperCase(e), false));
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

// The rules for one spelling k of the key a fix would touch (no trailing
// "\\"), v the value in it (empty for a whole key).
bool keyMatches(const std::string& k, const std::string& v, const FilterLists& lists) {
    const FilterPath kSlash(withBackslash(k));
    const std::string valuePath = v.empty() ? std::string() : kSlash.text + v;
    for (const auto& entry : lists.values) {
        for (const auto& form : entry.forms) {
            if (!v.empty()) {
                if (valuePath == form.text) return true;
            } else if (form.text == k || containsPath(form, kSlash)) {
                // The ignored value lies in or below the key the fix would
                // delete. Compared with a trailing "\" so that a value under
                // FooBar does not protect a key Foo beside it.
                return true;
            }
        }
    }
    for (const auto& entry : lists.keys) {
        for (const auto& form : entry.forms) {
            if (!v.empty()) {
                if (containsPath(kSlash, form)) return true;
            } else if (containsPath(kSlash, form) || containsPath(form, kSlash)) {
                return true;
            }
        }
    }
    return false;
}

// A value row whose full path is listed as a key (entries end with "\\").
bool valuePathListed(const std::string& upperPathSlash, const FilterLists& lists) {
    for (const auto& entry : lists.keys)
        for (const auto& form : entry.forms)
            if (form.text == upperPathSlash) return true;
    return false;
}

bool listRules(const RowTarget& t, const UpperRow& up, const FilterLists& lists) {
    // Most rows lie below roots nothing is linked to: their path is all.
    if (!KeyIdentity::mayBeLinked(t.key))
        return keyMatches(t.key, t.value, lists) ||
               (!t.value.empty() && valuePathListed(withBackslash(up.key), lists));
    // A spelling below HKEY_CLASSES_ROOT names one Classes; it counts only
    // when the row's key lies there. Asked only for a match, which is rare.
    bool sourceKnown = false;
    unsigned source = 0;
    auto liesIn = [&](unsigned formSource) {
        if (!formSource) return true;
        if (!sourceKnown) {
            constexpr std::string_view root = "HKEY_CLASSES_ROOT\\";
            std::string_view rest = std::string_view(t.key);
            rest = rest.starts_with(root) ? rest.substr(root.size()) : std::string_view();
            source = lists.identity.classesSource(rest);
            sourceKnown = true;
        }
        return (source & formSource) != 0;
    };
    for (const auto& form : lists.identity.forms(t.key))
        if (keyMatches(form.text, t.value, lists) && liesIn(form.source)) return true;
    if (!t.value.empty())
        for (const auto& form : lists.identity.forms(up.key))
            if (valuePathListed(withBackslash(form.text), lists) && liesIn(form.source))
                return true;
    return false;
}

// What the fixes of the rows so far touch, each spelling as a 64-bit hash: a
// row is a duplicate when every spelling of what its fix touches was seen
// (only the written one when it has no other). Two different targets would
// have to share a hash for a row to be dropped wrongly; dropped, it would
// only be left unfixed.
class Duplicates {
  public:
    Duplicates(const KeyIdentity& identity, size_t rows) : identity_(identity) {
        set_.reserve(rows);
    }

    bool seen(const RegistryProblem& row, const UpperRow& up, const RowTarget* t) {
        hashes_.clear();
        if (t) {
            // A whole key and a value of it are two places, even the default
            // value, which a default-value row names "@" and a value row "".
            std::string_view value = row.kind == pkDefaultValue ? std::string_view() : t->value;
            const uint64_t tail =
                mix(std::hash<std::string_view>{}(value) ^ (t->wholeKey ? 0x4b : 0x56));
            if (!KeyIdentity::mayBeLinked(t->key)) {
                hashes_.push_back(mix(std::hash<std::string_view>{}(t->key)) ^ tail);
            } else {
                auto forms = identity_.forms(t->key);
                for (size_t i = forms.size() > 1 ? 1 : 0; i < forms.size(); ++i)
                    hashes_.push_back(mix(std::hash<std::string_view>{}(forms[i].text)) ^ tail);
            }
        } else if (row.kind == pkFile) {
            hashes_.push_back(mix(std::hash<std::string_view>{}(up.key) ^ 0x46));
        } else {
            return false;  // no key to compare: kept as it is
        }
        bool fresh = false;
        for (uint64_t h : hashes_) fresh |= set_.insert(h).second;
        return !fresh;
    }

  private:
    static uint64_t mix(uint64_t x) {
        x ^= x >> 33;
        x *= 0xff51afd7ed558ccdull;
        x ^= x >> 33;
        return x;
    }
    const KeyIdentity& identity_;
    std::unordered_set<uint64_t> set_;
    std::vector<uint64_t> hashes_;
};

}  // namespace

bool removedByFixedRules(const RegistryProblem& row) {
    return fixedRules(row, UpperRow(row));
}

bool removedByLists(const RegistryProblem& row, const FilterLists& lists) {
    UpperRow up(row);
    RowTarget t;
    return rowTarget(row, up, t) && listRules(t, up, lists);
}

size_t RemoveDuplicateProblems(std::vector<RegistryProblem>& rows, const KeyIdentity& identity) {
    Duplicates dups(identity, rows.size());
    const size_t before = rows.size();
    std::erase_if(rows, [&](const RegistryProblem& row) {
        UpperRow up(row);
        RowTarget t;
        const bool keyed = rowTarget(row, up, t);
        return dups.seen(row, up, keyed ? &t : nullptr);
    });
    return before - rows.size();
}

struct ProblemFilter::State {
    explicit State(FilterLists l) : lists(std::move(l)), dups(lists.identity, 0) {}
    FilterLists lists;
    Duplicates dups;
};

ProblemFilter::ProblemFilter(FilterLists lists)
    : state_(std::make_unique<State>(std::move(lists))) {}

ProblemFilter::~ProblemFilter() = default;

bool ProblemFilter::keep(const RegistryProblem& row) {
    UpperRow up(row);
    if (fixedRules(row, up)) return false;
    RowTarget t;
    const bool keyed = rowTarget(row, up, t);
    if (keyed && listRules(t, up, state_->lists)) return false;
    return !state_->dups.seen(row, up, keyed ? &t : nullptr);
}

size_t FilterProblems(std::vector<RegistryProblem>& rows, const FilterLists& lists) {
    Duplicates dups(lists.identity, rows.size());
    const size_t before = rows.size();
    std::erase_if(rows, [&](const RegistryProblem& row) {
        UpperRow up(row);
        if (fixedRules(row, up)) return true;
        RowTarget t;
        const bool keyed = rowTarget(row, up, t);
        if (keyed && listRules(t, up, lists)) return true;
        return dups.seen(row, up, keyed ? &t : nullptr);
    });
    return before - rows.size();
}

size_t FilterProblems(std::vector<RegistryProblem>& rows,
                      const std::vector<std::string>& ignoreKeys,
                      const std::vector<std::string>& ignoreValues, int windowsVersionCode,
                      KeyIdentity identity) {
    return FilterProblems(
        rows, makeFilterLists(ignoreKeys, ignoreValues, windowsVersionCode, std::move(identity)));
}

}  // namespace brisko
