#include "registry/path_checks.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "base/text.h"
#include "core/machine/machine.h"

namespace brisko {

namespace {
// The program tested files through the ANSI API, which knows no longer
// paths; bounding them also keeps the prefix loops below linear.
constexpr size_t kMaxPath = 260;
// ExpandEnvironmentStrings was given a buffer of this many characters.
constexpr size_t kExpandBuffer = 1024;

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool containsNoCase(std::string_view hay, std::string_view needle) {
    if (needle.empty()) return true;
    if (needle.size() > hay.size()) return false;
    // Where the needle holds a character without case ("\\", a digit, a
    // blank), only the places that character occurs need a look.
    size_t anchor = 0;
    while (anchor < needle.size() && unsigned((needle[anchor] | 0x20) - 'a') < 26u) ++anchor;
    if (anchor < needle.size()) {
        const char a = needle[anchor];
        const size_t last = hay.size() - needle.size() + anchor;
        for (size_t at = anchor; at <= last;) {
            const void* hit = std::memchr(hay.data() + at, a, last + 1 - at);
            if (!hit) return false;
            at = size_t(static_cast<const char*>(hit) - hay.data());
            if (equalsNoCase(hay.substr(at - anchor, needle.size()), needle)) return true;
            ++at;
        }
        return false;
    }
    const char first = upperAscii(needle[0]);
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
        if (upperAscii(hay[i]) == first && equalsNoCase(hay.substr(i, needle.size()), needle))
            return true;
    return false;
}
}  // namespace

// ---------------------------------------------------------------- PathChecks

PathChecks::PathChecks(ScanContext& c) : ctx(c), probe_(c.machine.files()) {}

std::string PathChecks::ExpandIfFolder(std::string_view token) {
    std::string key = upperCase(token);
    if (auto it = expanded_.find(key); it != expanded_.end()) return it->second;
    std::string result(token);
    std::string expanded = ctx.machine.expandEnvironmentStrings(token);
    if (expanded.size() < kExpandBuffer) {
        std::string trimmed(trim(expanded));
        if (probe_.folderExists(trimmed)) result = trimmed;
    }
    expanded_.emplace(std::move(key), result);
    return result;
}

bool PathChecks::existsWithProgramExt(const std::string& c) {
    if (c.size() + 4 >= kMaxPath) return false;
    for (const char* ext : {".exe", ".com", ".bat"})
        if (probe_.fileExists(c + ext)) return true;
    return false;
}

bool PathChecks::missingWithoutHint(const std::string& p, bool acceptFolders) {
    if (ctx.noMediaRule(p)) return true;
    // Two paths on one line: nothing sensible to test.
    if (p.find(":\\", 3) != std::string::npos) return false;
    std::string folder = p.substr(0, p.rfind('\\') + 1);
    if (folder == p && probe_.folderExists(p)) return false;

    if (probe_.folderExists(folder)) {
        // Grow the name from the folder; every separator may end it (a blank
        // before switches, a comma before an icon index).
        std::string c = folder;
        for (size_t i = folder.size(); i < p.size(); ++i) {
            if (isNameSeparator(p[i]) &&
                (probe_.exists(c, acceptFolders) || existsWithProgramExt(c)))
                return false;
            c.push_back(p[i]);
        }
        for (;;) {
            if (probe_.exists(c, acceptFolders) || existsWithProgramExt(c)) return false;
            if (c.empty() || c.back() != ';') return true;
            c.pop_back();
            if (c.empty()) return true;
        }
    }
    // The folder part is missing, but arguments may hold backslashes: any
    // prefix that is an existing program ends the search. Where "." or ".."
    // could lead back out of a missing folder, or a folder name is empty or
    // ends in a blank or dot, every prefix goes to the file test on its own.
    if (p.find("\\.") == std::string::npos && p.find(".\\") == std::string::npos &&
        p.find(" \\") == std::string::npos && p.find('/') == std::string::npos &&
        p.find("\\\\") == std::string::npos)
        return !probe_.programPrefixExists(p);
    std::string c;
    for (char ch : p) {
        if (isNameSeparator(ch) && existsWithProgramExt(c)) return false;
        c.push_back(ch);
        if (c.size() >= kMaxPath) break;  // no longer prefix can exist
        if (probe_.fileExists(c)) return false;
    }
    return true;
}

bool PathChecks::missing(std::string_view ref, std::string_view hint, bool acceptFolders) {
    if (ref.empty()) return false;
    if (ref.find('?') != std::string_view::npos) return false;
    if (containsNoCase(ref, "\\hp")) return false;
    const bool wow64 = ctx.IsWow64;
    if (wow64 && namesSystemFolder(ref)) return false;

    std::string_view quoted = ref;
    if (quoted.front() == '"') {
        quoted.remove_prefix(1);
        if (quoted.empty()) return false;
        if (size_t q = quoted.find('"'); q != std::string_view::npos) quoted = quoted.substr(0, q);
    }
    std::string p(quoted);

    if (!p.empty() && p.front() == '%') {
        size_t close = p.find('%', 1);
        if (p.size() == 1 || close == std::string::npos) return false;
        std::string replacement = ExpandIfFolder(std::string_view(p).substr(0, close + 1));
        if (!replacement.empty() && replacement.front() == '%') return false;
        p = replacement + p.substr(close + 1);
    }
    tested_ = p;
    if (wow64 && (containsNoCase(p, "system32") || containsNoCase(p, "Program Files")))
        return false;
    // "C:\PROGRA~2\..." is Program Files all the same.
    if (wow64 && p.find('~') != std::string::npos && namesSystemFolder(probe_.longPath(p)))
        return false;

    if (!hint.empty()) {
        size_t at = findNoCase(p, hint);
        if (at == std::string::npos) return false;
        if (!ctx.onCheckedDrive(p)) return false;
        if (ctx.noMediaRule(p)) return true;
        // The cut drops whatever follows the hint: arguments. The hint may
        // also name a folder on the way ("App Paths\Tool" for
        // "C:\Program Files\Tool\Tool.exe"), so each place it occurs is
        // tried. A key named without its ".exe" falls short of the program's
        // own name.
        for (;;) {
            std::string cut = p.substr(0, at + hint.size());
            if (probe_.fileExists(cut) ||
                (cut.size() + 4 < kMaxPath && probe_.fileExists(cut + ".exe")))
                return false;
            size_t next = findNoCase(std::string_view(p).substr(at + 1), hint);
            if (next == std::string::npos) return true;
            at += 1 + next;
        }
    }
    if (p.empty() || !ctx.onCheckedDrive(p)) return false;
    return missingWithoutHint(p, acceptFolders);
}

bool namesSystemFolder(std::string_view p) {
    return containsNoCase(p, "system32") || containsNoCase(p, "ProgramFiles") ||
           containsNoCase(p, "Program Files") || containsNoCase(p, "\\Windows\\SysWOW64");
}

bool PathChecks::skippedOn64Bit(std::string_view target) {
    if (!ctx.IsWow64) return false;
    if (namesSystemFolder(target)) return true;
    return target.find('~') != std::string_view::npos && namesSystemFolder(probe_.longPath(target));
}

bool PathChecks::IsMissingFile(std::string_view ref, std::string_view hint, bool acceptFolders) {
    try {
        tested_.clear();
        // Through an alias that is only a guessed one, the reference may name
        // a file Windows finds: not known to be missing, so not a problem.
        return missing(ref, hint, acceptFolders) && !probe_.throughGuessedAlias(tested_);
    } catch (const std::exception&) {
        return false;  // a reference that cannot be judged is not reported
    }
}

bool IsMissingFile(ScanContext& ctx, std::string_view ref, std::string_view hint,
                   bool acceptFolders) {
    PathChecks checks(ctx);
    return checks.IsMissingFile(ref, hint, acceptFolders);
}

std::string ExpandIfFolder(Machine& machine, std::string_view token) {
    std::string expanded = machine.expandEnvironmentStrings(token);
    if (expanded.size() >= kExpandBuffer) return std::string(token);
    std::string trimmed(trim(expanded));
    return machine.files().directoryExists(trimmed) ? trimmed : std::string(token);
}

std::string ResolveShortcut(Machine& machine, std::string_view lnkPath) {
    try {
        return machine.shortcutTarget(lnkPath);
    } catch (const std::exception&) {
        return {};
    }
}

// ---------------------------------------------------------------- CountValues

int CountValues(KeyHandle& key, bool countEmptyDefault, bool stopOnSubkeys, int limit,
                std::stop_token stop) {
    std::vector<std::string> values = key.valueNames();
    int n = int(values.size());
    if (!countEmptyDefault && n == 1 && values[0].empty()) {
        auto v = key.value("");
        if (v && (v->type == REG_SZ || v->type == REG_EXPAND_SZ) && utf16leToUtf8(v->data).empty())
            n = 0;
    }
    if (limit > 0 && n >= limit) return n;
    std::vector<std::string> subkeys = key.subkeyNames();
    if (stopOnSubkeys && limit > 0 && int(subkeys.size()) > limit) return int(subkeys.size());
    for (const auto& name : subkeys) {
        if (stop.stop_requested()) break;
        if (auto sub = key.openSubkey(name, KeyAccess::Read))
            n += CountValues(*sub, countEmptyDefault, stopOnSubkeys, limit, stop);
        if (limit > 0 && n >= limit) return n;
    }
    return n;
}

int CountValues(RegistryApi& registry, RootKey root, std::string_view path, bool countEmptyDefault,
                bool stopOnSubkeys, int limit, std::stop_token stop) {
    auto key = registry.openKey(root, path, KeyAccess::Read);
    if (!key) return 0;
    return CountValues(*key, countEmptyDefault, stopOnSubkeys, limit, stop);
}

bool isEmptyKey(KeyHandle& key, std::stop_token stop) {
    return CountValues(key, true, true, 1, stop) == 0;
}

// ---------------------------------------------------------------- ScanKeyTree

namespace {
constexpr std::string_view kFilesAndFolders = "Non-existent File or Folder";

// Keys of the HKEY_LOCAL_MACHINE walk that have sections of their own.
constexpr std::string_view kMachineOwnSections[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls",
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "Software\\Microsoft\\Windows\\Help",
    "Software\\Microsoft\\Windows\\Html Help",
    "Software\\Classes\\Applications",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths\\path1",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths\\path2",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths\\path3",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Cache\\Paths\\path4",
    "SOFTWARE\\Microsoft\\Office\\Delivery\\SourceEngine\\Downloads",
};
// The same for the HKEY_CURRENT_USER walk.
constexpr std::string_view kUserOwnSections[] = {
    "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "AppEvents\\Schemes\\Apps",
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ComDlg32\\OpenSaveMRU",
};
// Windows 7 and 8 register hundreds of servers and DVD Maker parts that the
// walk would report; Windows 8 more still.
constexpr std::string_view kWin7Skips[] = {"}\\localserver32", "}\\inprocserver32",
                                           "Software\\Classes\\Windows.DVD.Maker"};
constexpr std::string_view kWin8Skips[] = {
    "Software\\Microsoft\\PowerShell\\3", "Software\\Microsoft\\Speech\\Voices\\Tokens",
    "Software\\Microsoft\\Windows\\CurrentVersion\\ShellCompatibility\\InboxApp"};
constexpr std::string_view kWin8FileSkips[] = {
    "software\\microsoft", "}\\localserver32", "}\\inprocserver32",
    "software\\classes\\extensions\\contractid\\windows.", "software\\classes\\typelib\\"};
constexpr std::string_view kImmersiveShell =
    "Software\\Microsoft\\Windows\\CurrentVersion\\ImmersiveShell";

// A key's path can contain a text its parent's path does not only where the
// text reaches into the newest component or the backslash before it (the
// parent would have been skipped otherwise), so the "contains" rules search
// only that end of the path. from: where the newest component starts.
std::string_view tail(std::string_view path, size_t from, std::string_view needle) {
    size_t start = from >= needle.size() ? from - needle.size() : 0;
    return path.substr(std::min(start, path.size()));
}

bool containsCase(std::string_view hay, std::string_view needle) {
    return hay.find(needle) != std::string_view::npos;
}

class TreeWalk {
  public:
    TreeWalk(PathChecks& checks, RootKey root, std::string_view problem, std::string_view hint,
             int section)
        : checks_(checks),
          ctx_(checks.ctx),
          root_(root),
          problem_(problem),
          hint_(hint),
          section_(section),
          files_(problem == kFilesAndFolders),
          full_(rootName(root)),
          rootLen_(full_.size()) {}

    void run(std::string_view path) {
        if (!path.empty()) {
            full_ += '\\';
            full_ += path;
        }
        if (skipped(0)) return;
        if (auto key = ctx_.registry().openKey(root_, path, KeyAccess::Read)) visit(*key);
    }

  private:
    std::string_view rel() const {
        return full_.size() > rootLen_ ? std::string_view(full_).substr(rootLen_ + 1)
                                       : std::string_view();
    }

    // from: where the newest component starts in rel().
    bool skipped(size_t from) const {
        if (ctx_.terminated()) return true;
        std::string_view path = rel();
        if (section_ == 5) {
            for (auto k : kMachineOwnSections)
                if (equalsNoCase(path, k)) return true;
            if (ctx_.isWin7or8 && files_)
                for (auto k : kWin7Skips)
                    if (containsNoCase(tail(path, from, k), k)) return true;
            if (ctx_.isWin8) {
                for (auto k : kWin8Skips)
                    if (containsCase(tail(path, from, k), k)) return true;
                if (files_)
                    for (auto k : kWin8FileSkips)
                        if (containsNoCase(tail(path, from, k), k)) return true;
            }
        }
        if (section_ == 4)
            for (auto k : kUserOwnSections)
                if (equalsNoCase(path, k)) return true;
        if (ctx_.isWin8 && containsCase(tail(path, from, kImmersiveShell), kImmersiveShell))
            return true;
        // Each Wow6432Node reflects the one above it.
        return root_ == RootKey::LocalMachine &&
               startsWithNoCase(path, "Software\\Wow6432Node\\Wow6432Node");
    }

    void visit(KeyHandle& key) {
        ctx_.showKey(full_);
        key.forEachValue([&](const RegValue& v) {
            if (ctx_.terminated()) return false;
            if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return true;
            utf16leToUtf8(v.data.data(), v.data.size(), text_);
            const std::string& data = text_;
            if (containsNoCase(data, "system32\\ime\\")) return true;
            if (!checks_.IsMissingFile(data, hint_, true)) return true;
            if (v.name.find('\\') == std::string::npos)
                ctx_.AddProblem(problem_, data, full_ + "\\" + v.name, pkValue);
            else
                ctx_.AddProblem(problem_, v.name, rel().empty() ? full_ + "\\" : full_,
                                pkDataValue);
            return true;
        });
        if (ctx_.terminated()) return;
        key.forEachSubkey(KeyAccess::Read, [&](std::string_view name, KeyHandle& child) {
            const size_t mark = full_.size();
            full_ += '\\';
            full_ += name;
            if (!skipped(mark - rootLen_)) visit(child);
            full_.resize(mark);
            return !ctx_.terminated();
        });
    }

    PathChecks& checks_;
    ScanContext& ctx_;
    RootKey root_;
    std::string_view problem_;
    std::string_view hint_;
    int section_;
    bool files_;        // the hive walks' problem text
    std::string full_;  // root name, then "\" and the path of the current key
    std::string text_;  // the value being judged, reused from value to value
    size_t rootLen_;
};
}  // namespace

void ScanKeyTree(PathChecks& checks, RootKey root, std::string_view path,
                 std::string_view problemText, std::string_view hint, int section) {
    if (rootName(root).empty()) return;
    TreeWalk(checks, root, problemText, hint, section).run(path);
}

}  // namespace brisko
