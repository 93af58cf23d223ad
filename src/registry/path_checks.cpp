#include "registry/path_checks.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "core/machine/machine.h"
#include "core/text.h"

namespace brisko {

namespace {
// The program tested files through the ANSI API, which knows no longer
// paths; bounding them also keeps the prefix loops below linear.
constexpr size_t kMaxPath = 260;
// ExpandEnvironmentStrings was given a buffer of this many characters.
constexpr size_t kExpandBuffer = 1024;

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool absoluteOnDrive(std::string_view p) {
    return p.size() >= 3 && isAsciiLetter(p[0]) && p[1] == ':' && p[2] == '\\';
}

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// A character a listing can match: printable ASCII that a file name may hold.
bool listableChar(char ch) {
    auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x80) return false;
    switch (c) {
        case '/':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
        case ':':
        case '\\':
            return false;
        default:
            return true;
    }
}

// Windows drops trailing dots and blanks from the last name of a path.
std::string_view trimName(std::string_view name) {
    while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
    return name;
}

// The key a folder listing answers for: "X:\" and the components upper-cased,
// the last one trimmed as Windows trims it. False for what a listing cannot answer
// exactly: empty, "." or ".." parts, characters a name cannot hold, non-ASCII
// names (listings fold ASCII letters only).
bool listingKey(std::string_view p, std::string& key) {
    if (!absoluteOnDrive(p)) return false;
    key.assign(p.substr(0, 3));
    key[0] = upperAscii(key[0]);
    size_t start = 3;
    while (start < p.size()) {
        size_t end = p.find('\\', start);
        if (end == std::string_view::npos) end = p.size();
        std::string_view part = p.substr(start, end - start);
        // Windows drops trailing dots and blanks from the last name only.
        if (end == p.size())
            part = trimName(part);
        else if (!part.empty() && (part.back() == '.' || part.back() == ' '))
            return false;
        if (part.empty()) return false;
        for (char c : part) {
            if (!listableChar(c)) return false;
            key.push_back(upperAscii(c));
        }
        if (end < p.size()) key.push_back('\\');
        start = end + 1;
    }
    return key.back() != '\\' || key.size() == 3;  // "X:\a\" would be an empty name
}

// Where a file name may end inside a command line.
bool isSeparator(char c) {
    switch (c) {
        case ' ':
        case '*':
        case ',':
        case '/':
        case ':':
        case ';':
        case '<':
        case '>':
        case '?':
        case '|':
            return true;
        default:
            return false;
    }
}

bool containsNoCase(std::string_view hay, std::string_view needle) {
    if (needle.empty()) return true;
    if (needle.size() > hay.size()) return false;
    const char first = upperAscii(needle[0]);
    for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
        if (upperAscii(hay[i]) == first && equalsNoCase(hay.substr(i, needle.size()), needle))
            return true;
    return false;
}
}  // namespace

// ---------------------------------------------------------------- FileProbe

FileProbe::Folder& FileProbe::folder(const std::string& up) {
    if (auto it = folders_.find(std::string_view(up)); it != folders_.end()) return it->second;
    Folder f;
    if (up.size() == 3) {
        f.exists = files_.directoryExists(up);
    } else {
        size_t slash = up.rfind('\\', up.size() - 2);
        // Map nodes stay put when the map grows, so the parent may be held
        // across the insertion below.
        Folder& parent = folder(up.substr(0, slash + 1));
        if (parent.exists) {
            std::string_view name = std::string_view(up).substr(slash + 1, up.size() - slash - 2);
            const bool ascii = std::all_of(name.begin(), name.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            });
            if (parent.listed && ascii) {
                auto it = parent.names.find(name);
                f.exists = it != parent.names.end() && it->second == kFolder;
            } else {
                f.exists = files_.directoryExists(up);
            }
        }
    }
    if (f.exists) {
        std::string_view listPath =
            up.size() == 3 ? std::string_view(up) : std::string_view(up).substr(0, up.size() - 1);
        if (auto entries = files_.findFiles(listPath, "*")) {
            f.listed = true;
            f.names.reserve(entries->size());
            for (const auto& e : *entries) {
                if (e.name == "." || e.name == "..") continue;
                f.names.emplace(upperCase(e.name), e.isDirectory() ? kFolder : kFile);
            }
        }
    }
    return folders_.emplace(up, std::move(f)).first->second;
}

uint8_t FileProbe::kindDirect(std::string_view path) {
    std::string key = upperCase(path);
    if (auto it = direct_.find(std::string_view(key)); it != direct_.end()) return it->second;
    uint8_t kind = kMissing;
    if (files_.fileExists(path))
        kind = kFile;
    else if (files_.directoryExists(path))
        kind = kFolder;
    direct_.emplace(std::move(key), kind);
    return kind;
}

uint8_t FileProbe::kindOf(std::string_view path) {
    // Relative names would be relative to a working folder the scan does not have.
    if (path.size() >= kMaxPath || !absoluteOnDrive(path)) return kMissing;
    if (!listingKey(path, key_)) return kindDirect(path);
    if (key_.size() == 3) return folder(key_).exists ? kFolder : kMissing;
    const size_t slash = key_.rfind('\\');
    const std::string_view folderKey = std::string_view(key_).substr(0, slash + 1);
    auto it = folders_.find(folderKey);
    Folder& f = it != folders_.end() ? it->second : folder(std::string(folderKey));
    if (!f.exists) return kMissing;
    if (!f.listed) return kindDirect(path);
    auto entry = f.names.find(std::string_view(key_).substr(slash + 1));
    return entry == f.names.end() ? kMissing : entry->second;
}

uint8_t FileProbe::inFolder(const Folder& f, std::string_view upperName) const {
    auto it = f.names.find(upperName);
    return it == f.names.end() ? kMissing : it->second;
}

bool FileProbe::programPrefixExists(std::string_view p) {
    if (!absoluteOnDrive(p)) return false;
    std::string key(p.substr(0, 3));
    key[0] = upperAscii(key[0]);
    Folder* f = &folder(key);
    std::string name;     // the current component so far, upper-cased
    bool direct = false;  // this component needs the file API
    auto isFile = [&](size_t end, std::string_view ext) {
        if (end + ext.size() >= kMaxPath) return false;
        if (direct) return kindOf(std::string(p.substr(0, end)) + std::string(ext)) == kFile;
        if (!ext.empty()) return inFolder(*f, name + std::string(ext)) == kFile;
        std::string_view n = trimName(name);
        return !n.empty() && inFolder(*f, n) == kFile;
    };
    for (size_t i = 3; i < p.size(); ++i) {
        if (!f->exists) return false;  // nothing lies below a missing folder
        const char ch = p[i];
        if (isSeparator(ch))
            for (std::string_view ext : {".EXE", ".COM", ".BAT"})
                if (isFile(i, ext)) return true;
        if (ch == '\\') {
            const std::string& n = name;
            if (n.empty()) return false;  // a doubled backslash: callers avoid these
            // Most references name folders long gone; the listing says so
            // without a folder entry kept for each.
            if (!direct && inFolder(*f, n) != kFolder) return false;
            key.append(n);
            key.push_back('\\');
            f = &folder(key);
            name.clear();
            direct = !f->listed;
            continue;
        }
        if (!listableChar(ch)) direct = true;
        name.push_back(upperAscii(ch));
        if (isFile(i + 1, {})) return true;
    }
    return false;
}

bool FileProbe::fileExists(std::string_view path) {
    if (path.empty() || path.back() == '\\') return false;
    return kindOf(path) == kFile;
}

bool FileProbe::folderExists(std::string_view path) {
    if (path.size() > 3 && path.back() == '\\') path.remove_suffix(1);
    return kindOf(path) == kFolder;
}

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
            if (isSeparator(p[i]) && (probe_.exists(c, acceptFolders) || existsWithProgramExt(c)))
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
        if (isSeparator(ch) && existsWithProgramExt(c)) return false;
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
    if (wow64 &&
        (containsNoCase(ref, "system32") || containsNoCase(ref, "ProgramFiles") ||
         containsNoCase(ref, "Program Files") || containsNoCase(ref, "\\Windows\\SysWOW64")))
        return false;

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
    if (wow64 && (containsNoCase(p, "system32") || containsNoCase(p, "Program Files")))
        return false;

    if (!hint.empty()) {
        size_t at = findNoCase(p, hint);
        if (at == std::string::npos) return false;
        p.resize(at + hint.size());  // drops whatever follows: arguments
        if (!ctx.onCheckedDrive(p)) return false;
        if (ctx.noMediaRule(p)) return true;
        // An App Paths key may be named without its ".exe", so the cut can
        // fall short of the program's own name.
        return !probe_.fileExists(p) && !(p.size() + 4 < kMaxPath && probe_.fileExists(p + ".exe"));
    }
    if (p.empty() || !ctx.onCheckedDrive(p)) return false;
    return missingWithoutHint(p, acceptFolders);
}

bool PathChecks::IsMissingFile(std::string_view ref, std::string_view hint, bool acceptFolders) {
    try {
        return missing(ref, hint, acceptFolders);
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

// ---------------------------------------------------------------- WalkKey

namespace {
std::string classesPath(std::string_view path) {
    std::string p = "Software\\Classes";
    if (!path.empty()) {
        p += '\\';
        p += path;
    }
    return p;
}
}  // namespace

WalkKey WalkKey::open(RegistryApi& registry, RootKey root, std::string_view path) {
    WalkKey w;
    if (root != RootKey::ClassesRoot) {
        w.key = registry.openKey(root, path, KeyAccess::Read);
        return w;
    }
    w.user = registry.openKey(RootKey::CurrentUser, classesPath(path), KeyAccess::Read);
    w.machine = registry.openKey(RootKey::LocalMachine, classesPath(path), KeyAccess::Read);
    if (!w.user && w.machine) {
        w.key = std::move(w.machine);
    } else {
        w.key = registry.openKey(root, path, KeyAccess::Read);
        if (!w.user) w.machine.reset();
    }
    return w;
}

WalkKey WalkKey::child(std::string_view name) {
    WalkKey w;
    if (!user) {
        w.key = key->openSubkey(name, KeyAccess::Read);
        return w;
    }
    w.user = user->openSubkey(name, KeyAccess::Read);
    w.machine = machine ? machine->openSubkey(name, KeyAccess::Read) : nullptr;
    if (!w.user && w.machine) {
        w.key = std::move(w.machine);  // the machine's key alone: the same as merged
    } else {
        w.key = key->openSubkey(name, KeyAccess::Read);
        if (!w.user) w.machine.reset();
    }
    return w;
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
        WalkKey key = WalkKey::open(ctx_.machine.registry(), root_, path);
        if (key.key) visit(key);
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

    void visit(WalkKey& walked) {
        KeyHandle& key = *walked.key;
        ctx_.showKey(full_);
        for (const auto& name : key.valueNames()) {
            if (ctx_.terminated()) return;
            auto v = key.value(name);
            if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ)) continue;
            std::string data = utf16leToUtf8(v->data);
            if (containsNoCase(data, "system32\\ime\\")) continue;
            if (!checks_.IsMissingFile(data, hint_, true)) continue;
            if (name.find('\\') == std::string::npos)
                ctx_.AddProblem(problem_, data, full_ + "\\" + name, pkValue);
            else
                ctx_.AddProblem(problem_, name, rel().empty() ? full_ + "\\" : full_, pkDataValue);
        }
        for (const auto& name : key.subkeyNames()) {
            const size_t mark = full_.size();
            full_ += '\\';
            full_ += name;
            if (!skipped(mark - rootLen_)) {
                WalkKey child = walked.child(name);
                if (child.key) visit(child);
            }
            full_.resize(mark);
            if (ctx_.terminated()) return;
        }
    }

    PathChecks& checks_;
    ScanContext& ctx_;
    RootKey root_;
    std::string_view problem_;
    std::string_view hint_;
    int section_;
    bool files_;        // the hive walks' problem text
    std::string full_;  // root name, then "\" and the path of the current key
    size_t rootLen_;
};
}  // namespace

void ScanKeyTree(PathChecks& checks, RootKey root, std::string_view path,
                 std::string_view problemText, std::string_view hint, int section) {
    if (rootName(root).empty()) return;
    TreeWalk(checks, root, problemText, hint, section).run(path);
}

}  // namespace brisko
