#include "registry/file_probe.h"

#include <algorithm>

#include "base/text.h"
#include "core/machine/file_api.h"
#include "core/machine/short_names.h"

namespace brisko {

namespace {
// The program tested files through the ANSI API, which knows no longer
// paths; bounding them also keeps the prefix loops linear.
constexpr size_t kMaxPath = 260;

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

// Only names like "PROGRA~1" can be aliases; everything else misses at once.
bool maybeAlias(std::string_view upperName) {
    return upperName.size() <= 12 && upperName.find('~') != std::string_view::npos &&
           isShortName(upperName);
}

std::string_view listPathOf(std::string_view key) {
    return key.size() == 3 ? key : key.substr(0, key.size() - 1);
}
}  // namespace

bool isNameSeparator(char c) {
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

uint8_t FileProbe::inFolder(Folder& f, std::string_view upperName, std::string* longName) {
    if (auto it = f.names.find(upperName); it != f.names.end()) {
        if (longName) *longName = it->first;
        return it->second;
    }
    // A folder no listing shows: the 64-bit system folder as a 32-bit program
    // sees it, where the machine has one. Asked once, then kept with the rest.
    if (f.listed && upperName == "SYSNATIVE") {
        const uint8_t kind = files_.directoryExists(f.key + "SYSNATIVE") ? kFolder : kMissing;
        if (kind == kFolder) {
            f.names.emplace("SYSNATIVE", kFolder);
            if (longName) *longName = "SYSNATIVE";
        }
        return kind;
    }
    if (!f.listed || !maybeAlias(upperName)) return kMissing;
    fillAliases(f);
    auto alias = f.aliases.find(upperName);
    if (alias == f.aliases.end()) return kMissing;
    auto it = f.names.find(alias->second);
    if (it == f.names.end()) return kMissing;
    if (longName) *longName = it->first;
    return it->second;
}

void FileProbe::fillAliases(Folder& f) {
    if (f.aliased) return;
    // The aliases the file layer matches; taken only for folders that a
    // reference names by a short name.
    f.aliased = true;
    ShortNames table = files_.shortNames(listPathOf(f.key));
    f.aliasesStored = table.stored;
    for (auto& [alias, name] : table.byAlias) f.aliases.emplace(alias, upperCase(name));
}

FileProbe::Folder& FileProbe::folder(const std::string& up) {
    if (auto it = folders_.find(std::string_view(up)); it != folders_.end()) return *it->second;
    std::string key = up;
    bool exists = false;
    if (up.size() == 3) {
        exists = files_.directoryExists(up);
    } else {
        size_t slash = up.rfind('\\', up.size() - 2);
        Folder& parent = folder(up.substr(0, slash + 1));
        if (parent.exists) {
            std::string_view name = std::string_view(up).substr(slash + 1, up.size() - slash - 2);
            const bool ascii = std::all_of(name.begin(), name.end(), [](char c) {
                return static_cast<unsigned char>(c) < 0x80;
            });
            std::string longName;
            if (parent.listed && ascii) {
                exists = inFolder(parent, name, &longName) == kFolder;
                if (exists && longName != name) {
                    // An alias: the folder is the one of its long name.
                    Folder& real = folder(parent.key + longName + "\\");
                    folders_.emplace(up, &real);
                    return real;
                }
            } else {
                exists = files_.directoryExists(up);
            }
            key = parent.key + std::string(name) + "\\";
            // Reached through an alias above: the long spelling may be known.
            if (auto it = folders_.find(std::string_view(key)); it != folders_.end()) {
                folders_.emplace(up, it->second);
                return *it->second;
            }
        }
    }
    auto f = std::make_unique<Folder>();
    f->key = std::move(key);
    f->exists = exists;
    if (exists) {
        if (auto entries = files_.findFiles(listPathOf(f->key), "*")) {
            f->listed = true;
            f->names.reserve(entries->size());
            for (const auto& e : *entries) {
                if (e.name == "." || e.name == "..") continue;
                f->names.emplace(upperCase(e.name), e.isDirectory() ? kFolder : kFile);
            }
        }
    }
    Folder& made = *store_.emplace_back(std::move(f));
    folders_.emplace(up, &made);
    if (made.key != up) folders_.emplace(made.key, &made);
    return made;
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
    Folder& f = it != folders_.end() ? *it->second : folder(std::string(folderKey));
    if (!f.exists) return kMissing;
    if (!f.listed) return kindDirect(path);
    return inFolder(f, std::string_view(key_).substr(slash + 1));
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
    std::string longName;
    for (size_t i = 3; i < p.size(); ++i) {
        if (!f->exists) return false;  // nothing lies below a missing folder
        const char ch = p[i];
        if (isNameSeparator(ch))
            for (std::string_view ext : {".EXE", ".COM", ".BAT"})
                if (isFile(i, ext)) return true;
        if (ch == '\\') {
            if (name.empty()) return false;  // a doubled backslash: callers avoid these
            // Most references name folders long gone; the listing says so
            // without a folder entry kept for each.
            if (!direct) {
                if (inFolder(*f, name, &longName) != kFolder) return false;
                name = longName;
            }
            key = f->key + name + "\\";
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

std::string FileProbe::longPath(std::string_view p) {
    if (p.find('~') == std::string_view::npos || !absoluteOnDrive(p)) return std::string(p);
    std::string out(p.substr(0, 3));
    out[0] = upperAscii(out[0]);
    Folder* f = &folder(out);
    size_t start = 3;
    std::string longName;
    while (start < p.size()) {
        size_t end = std::min(p.find('\\', start), p.size());
        std::string part = upperCase(p.substr(start, end - start));
        const bool found = f && f->listed && inFolder(*f, part, &longName) != kMissing;
        out += found ? longName : part;
        if (end == p.size()) break;
        out.push_back('\\');
        f = found && f->names.at(longName) == kFolder ? &folder(f->key + longName + "\\") : nullptr;
        start = end + 1;
    }
    return out;
}

bool FileProbe::throughGuessedAlias(std::string_view p) {
    if (p.find('~') == std::string_view::npos || !absoluteOnDrive(p)) return false;
    std::string key(p.substr(0, 3));
    key[0] = upperAscii(key[0]);
    Folder* f = &folder(key);
    std::string longName;
    for (size_t start = 3; start < p.size() && f->exists && f->listed;) {
        size_t end = std::min(p.find('\\', start), p.size());
        std::string part = upperCase(p.substr(start, end - start));
        if (!f->names.count(part) && maybeAlias(part)) {
            fillAliases(*f);
            if (!f->aliasesStored) return true;
        }
        if (end == p.size() || inFolder(*f, part, &longName) != kFolder) return false;
        f = &folder(f->key + longName + "\\");
        start = end + 1;
    }
    return false;
}

bool FileProbe::fileExists(std::string_view path) {
    if (path.empty() || path.back() == '\\') return false;
    return kindOf(path) == kFile;
}

bool FileProbe::folderExists(std::string_view path) {
    // A bare drive ("C:", as %SystemDrive% expands) is its root folder.
    if (path.size() == 2 && isAsciiLetter(path[0]) && path[1] == ':')
        return kindOf(std::string(path) + "\\") == kFolder;
    if (path.size() > 3 && path.back() == '\\') path.remove_suffix(1);
    return kindOf(path) == kFolder;
}

}  // namespace brisko
