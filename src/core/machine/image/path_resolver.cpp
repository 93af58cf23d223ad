#include "core/machine/image/path_resolver.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <set>

#include "base/text.h"

namespace brisko::image {

namespace fs = std::filesystem;

namespace {

// Listings of this many folders are kept; a whole-disk scan must not grow
// the cache without bound.
constexpr size_t kMaxCachedFolders = 4096;
// A listing taken this soon after its folder changed may miss a change made in
// the same timestamp tick, so a miss in it is checked again on disk.
constexpr int64_t kSettleNs = 100'000'000;

// Where ntfs-3g shows the 8.3 name NTFS stores for an entry.
constexpr const char* kDosNameAttribute = "system.ntfs_dos_name";

bool sameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool reservedChar(unsigned char c) {
    return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '/' || c == '\\' ||
           c == '|';
}

}  // namespace

std::string WinPath::text() const {
    std::string s{drive, ':', '\\'};
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) s.push_back('\\');
        s += parts[i];
    }
    return s;
}

bool validWindowsName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (reservedChar(c) || c == '*' || c == '?') return false;
    return true;
}

bool validMask(std::string_view mask) {
    if (mask.empty()) return false;
    for (unsigned char c : mask)
        if (reservedChar(c)) return false;
    return true;
}

std::optional<WinPath> parseWindowsPath(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return std::nullopt;
    std::string p(path);
    std::replace(p.begin(), p.end(), '/', '\\');
    // Win32 and NT namespace prefixes; what follows must still be a drive path,
    // so "\\?\UNC\..." and "\\.\PhysicalDrive0" are refused below.
    if (p.starts_with("\\\\?\\") || p.starts_with("\\??\\") || p.starts_with("\\\\.\\"))
        p.erase(0, 4);
    if (p.size() < 2 || !std::isalpha(static_cast<unsigned char>(p[0])) || p[1] != ':')
        return std::nullopt;
    if (p.size() > 2 && p[2] != '\\') return std::nullopt;  // "C:x" is relative
    WinPath wp;
    wp.drive = char(std::toupper(static_cast<unsigned char>(p[0])));
    for (auto& part : split(std::string_view(p).substr(2), '\\')) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (wp.parts.empty()) return std::nullopt;  // above the drive root
            wp.parts.pop_back();
            continue;
        }
        if (!validWindowsName(part)) return std::nullopt;
        wp.parts.push_back(std::move(part));
    }
    return wp;
}

int64_t toFileTime(const struct timespec& t) {
    constexpr int64_t kEpochDiff = 11644473600LL;  // seconds from 1601 to 1970
    return (int64_t(t.tv_sec) + kEpochDiff) * 10'000'000 + t.tv_nsec / 100;
}

bool PathResolver::inside(std::string_view hostPath) const {
    if (root_ == "/") return hostPath.starts_with('/');
    if (!hostPath.starts_with(root_)) return false;
    return hostPath.size() == root_.size() || hostPath[root_.size()] == '/';
}

std::optional<std::string> PathResolver::followLink(const std::string& linkPath) const {
    std::error_code ec;
    auto c = fs::canonical(linkPath, ec);
    if (!ec) {
        if (!inside(c.native())) return std::nullopt;
        return c.native();
    }
    // Dangling (or looping): work out where it would lead, link by link.
    fs::path p = linkPath;
    for (int depth = 0; depth < 40; ++depth) {
        auto t = fs::read_symlink(p, ec);
        if (ec) return std::nullopt;
        fs::path next = t.is_absolute() ? t : p.parent_path() / t;
        auto w = fs::weakly_canonical(next, ec);
        if (ec) return std::nullopt;
        if (fs::is_symlink(fs::symlink_status(w, ec))) {
            p = w;
            continue;
        }
        if (!inside(w.native())) return std::nullopt;
        return w.native();
    }
    return std::nullopt;
}

namespace {
// The drive folder itself, as a walk of no components ends.
Resolved driveRoot(const std::string& driveHost, const struct stat& st) {
    Resolved r;
    r.host = r.target = driveHost;
    r.exists = r.targetOk = r.isRoot = true;
    r.lst = r.tst = st;
    return r;
}
}  // namespace

std::optional<Resolved> PathResolver::walk(const std::string& driveHost, const WinPath& wp,
                                           bool mustExist, bool parents) {
    Resolved r;
    struct stat st {};
    if (::lstat(driveHost.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    if (wp.parts.empty()) return driveRoot(driveHost, st);
    std::string cur = driveHost;
    bool missing = false;
    for (size_t i = 0; i < wp.parts.size(); ++i) {
        const std::string& part = wp.parts[i];
        bool last = i + 1 == wp.parts.size();
        std::optional<std::string> name;
        if (!missing) name = lookup(cur, part, &r.guessed);
        std::string p = cur + "/" + (name ? *name : part);
        if (name && ::lstat(p.c_str(), &st) != 0) name.reset();
        if (!name) {
            if (mustExist || !(last || parents)) return std::nullopt;
            missing = true;
            cur = std::move(p);
            r.names.push_back(part);
            continue;
        }
        r.names.push_back(*name);
        if (S_ISLNK(st.st_mode)) {
            auto t = followLink(p);
            if (!t) return std::nullopt;  // leads out of the machine
            if (last) {
                r.host = std::move(p);
                r.target = std::move(*t);
                r.exists = r.isLink = true;
                r.lst = st;
                r.targetOk = ::stat(r.target.c_str(), &r.tst) == 0;
                return r;
            }
            struct stat ts {};
            if (::stat(t->c_str(), &ts) != 0 || !S_ISDIR(ts.st_mode)) return std::nullopt;
            cur = std::move(*t);
        } else if (last) {
            r.host = r.target = std::move(p);
            r.exists = r.targetOk = true;
            r.lst = r.tst = st;
            return r;
        } else if (S_ISDIR(st.st_mode)) {
            cur = std::move(p);
        } else {
            return std::nullopt;  // a file cannot hold further components
        }
    }
    r.host = r.target = cur;  // reached only when a component was missing
    return r;
}

std::optional<Resolved> PathResolver::walkHeld(UniqueFd dir, const std::string& driveHost,
                                               const WinPath& wp, bool mustExist, bool parents) {
    Resolved r;
    struct stat st {};
    if (dir.fd < 0 || ::fstat(dir.fd, &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    if (wp.parts.empty()) return driveRoot(driveHost, st);
    std::string cur = driveHost;
    bool missing = false;
    for (size_t i = 0; i < wp.parts.size(); ++i) {
        const std::string& part = wp.parts[i];
        const bool last = i + 1 == wp.parts.size();
        std::optional<std::string> name;
        if (!missing) {
            bool guessed = false;
            name = lookup(cur, part, &guessed);
            // Windows may have given that alias to another name: acting on
            // the guess could hit the wrong file.
            if (guessed) return std::nullopt;
        }
        if (name && ::fstatat(dir.fd, name->c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) name.reset();
        if (!name) {
            if (mustExist || !(last || parents)) return std::nullopt;
            if (last && !missing) r.parent = std::make_shared<UniqueFd>(std::move(dir));
            missing = true;
            cur += "/" + part;
            r.names.push_back(part);
            continue;
        }
        r.names.push_back(*name);
        std::string p = cur + "/" + *name;
        if (last) {
            r.host = p;
            r.exists = true;
            r.lst = st;
            r.parent = std::make_shared<UniqueFd>(std::move(dir));
            if (S_ISLNK(st.st_mode)) {
                // What the link leads to is told, never entered.
                auto t = followLink(p);
                if (!t) return std::nullopt;
                r.isLink = true;
                r.target = std::move(*t);
                r.targetOk = ::stat(r.target.c_str(), &r.tst) == 0;
            } else {
                r.target = std::move(p);
                r.targetOk = true;
                r.tst = st;
            }
            return r;
        }
        if (!S_ISDIR(st.st_mode)) return std::nullopt;  // a link or a file on the way
        UniqueFd next(
            ::openat(dir.fd, name->c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat opened {};
        if (next.fd < 0 || ::fstat(next.fd, &opened) != 0 || !sameInode(opened, st))
            return std::nullopt;
        dir = std::move(next);
        cur = std::move(p);
    }
    r.host = r.target = cur;  // reached only when a component was missing
    return r;
}

bool PathResolver::fresh(const Listing& l, const struct stat& st) const {
    return l.ino == st.st_ino && l.mtime.tv_sec == st.st_mtim.tv_sec &&
           l.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

PathResolver::Listing PathResolver::readListing(const std::string& dir,
                                                const struct stat& st) const {
    Listing l;
    l.ino = st.st_ino;
    l.mtime = st.st_mtim;
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    int64_t age = (int64_t(now.tv_sec) - st.st_mtim.tv_sec) * 1'000'000'000 +
                  (now.tv_nsec - st.st_mtim.tv_nsec);
    l.trusted = age > kSettleNs;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) {
        l.trusted = false;
        return l;
    }
    while (auto* e = ::readdir(d.get())) {
        std::string_view n = e->d_name;
        if (n == "." || n == "..") continue;
        // Several host names may fold alike; the smallest wins, so the
        // choice does not depend on directory order.
        auto [it, added] = l.byFolded.try_emplace(foldName(n), n);
        if (!added && n < it->second) it->second = n;
    }
    return l;
}

std::optional<std::string> PathResolver::lookup(const std::string& dir, const std::string& name,
                                                bool* guessed) {
    if (auto found = lookupName(dir, name)) return found;
    // The registry is full of 8.3 aliases ("C:\PROGRA~1\..."), which a
    // listing does not show.
    if (name.find('~') == std::string::npos || !isShortName(name)) return std::nullopt;
    auto table = aliasTable(dir);
    auto it = table->byAlias.find(upperCase(name));
    if (it == table->byAlias.end()) return std::nullopt;
    if (guessed && !table->stored) *guessed = true;
    return it->second;
}

ShortNames PathResolver::shortNames(const std::string& dir) {
    return *aliasTable(dir);
}

std::shared_ptr<const ShortNames> PathResolver::aliasTable(const std::string& dir) {
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::make_shared<const ShortNames>();
    {
        std::lock_guard lock(mutex_);
        auto it = aliasCache_.find(dir);
        if (it != aliasCache_.end() && it->second.ino == st.st_ino &&
            it->second.mtime.tv_sec == st.st_mtim.tv_sec &&
            it->second.mtime.tv_nsec == st.st_mtim.tv_nsec)
            return it->second.names;
    }
    std::vector<std::string> names = listNames(dir);
    auto made = std::make_shared<ShortNames>();
    ShortNames& table = *made;
    // An entry without a stored alias answers "no such attribute" on a file
    // system that keeps them; any other file system does not know the name.
    bool known = false;
    for (const auto& n : names) {
        char buf[64];
        std::string host = dir + "/" + n;
        ssize_t len = ::lgetxattr(host.c_str(), kDosNameAttribute, buf, sizeof buf);
        if (len < 0) {
            if (errno == ENODATA) known = true;
            if (errno == ENOTSUP || errno == EOPNOTSUPP) break;
            continue;
        }
        known = true;
        std::string alias = upperCase(std::string_view(buf, size_t(len)));
        if (!alias.empty() && !table.byAlias.count(alias)) table.byAlias.emplace(alias, n);
    }
    if (known) {
        table.stored = true;
    } else {
        table.byAlias = shortNameAliases(std::move(names));
    }
    std::lock_guard lock(mutex_);
    if (aliasCache_.size() >= kMaxCachedFolders) aliasCache_.clear();
    aliasCache_.insert_or_assign(dir, AliasTable{st.st_mtim, st.st_ino, made});
    return made;
}

std::string PathResolver::shortNameOf(const std::string& dir, const std::string& name) {
    auto table = aliasTable(dir);
    if (!table->stored) return makeShortName(name, listNames(dir));
    for (const auto& [alias, longName] : table->byAlias)
        if (longName == name) return alias;
    return name;  // NTFS keeps no alias for a name that is already 8.3
}

std::optional<std::string> PathResolver::lookupName(const std::string& dir,
                                                    const std::string& name) {
    struct stat st {};
    std::string exact = dir + "/" + name;
    if (::lstat(exact.c_str(), &st) == 0) return name;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    std::string key = foldName(name);
    {
        std::lock_guard lock(mutex_);
        auto it = cache_.find(dir);
        if (it != cache_.end() && fresh(it->second, st)) {
            auto f = it->second.byFolded.find(key);
            if (f != it->second.byFolded.end()) return f->second;
            if (it->second.trusted) return std::nullopt;
        }
    }
    // Read outside the lock: the other worker thread need not wait for the disk.
    Listing l = readListing(dir, st);
    std::optional<std::string> found;
    if (auto f = l.byFolded.find(key); f != l.byFolded.end()) found = f->second;
    std::lock_guard lock(mutex_);
    if (cache_.size() >= kMaxCachedFolders) cache_.clear();
    cache_.insert_or_assign(dir, std::move(l));
    return found;
}

std::vector<std::string> PathResolver::listNames(const std::string& dir) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, int (*)(DIR*)> d(::opendir(dir.c_str()), ::closedir);
    if (!d) return names;
    while (auto* e = ::readdir(d.get())) {
        std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void PathResolver::invalidate(const std::string& dir) {
    std::lock_guard lock(mutex_);
    cache_.erase(dir);
    aliasCache_.erase(dir);
}

void PathResolver::invalidateTree(const std::string& dir) {
    std::lock_guard lock(mutex_);
    cache_.erase(dir);
    aliasCache_.erase(dir);
    std::string prefix = dir + "/";
    for (auto it = cache_.lower_bound(prefix);
         it != cache_.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
        it = cache_.erase(it);
    for (auto it = aliasCache_.lower_bound(prefix);
         it != aliasCache_.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
        it = aliasCache_.erase(it);
}

}  // namespace brisko::image
