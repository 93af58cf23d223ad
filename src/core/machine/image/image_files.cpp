#include "core/machine/image/image_files.h"

#include "base/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

#include "base/text.h"
#include "core/machine/registry_api.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace fs = std::filesystem;
using image::Resolved;

namespace {

constexpr std::string_view kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr std::string_view kPendingRenames = "PendingFileRenameOperations";
// Deeper trees than this are not walked by a shell delete; Windows paths
// cannot reach that deep, and a planted chain must not exhaust descriptors.
constexpr int kMaxTreeDepth = 256;
constexpr uint32_t kStoredAttributes = faHidden | faSysFile | faArchive;

using Fd = UniqueFd;

class PosixFile : public FileHandle {
  public:
    explicit PosixFile(int fd) : fd_(fd) {}
    int64_t size() override {
        struct stat st {};
        return ::fstat(fd_.fd, &st) == 0 ? int64_t(st.st_size) : -1;
    }
    bool seek(int64_t offset) override {
        return offset >= 0 && ::lseek(fd_.fd, off_t(offset), SEEK_SET) == off_t(offset);
    }
    int64_t read(void* buf, int64_t n) override {
        int64_t done = 0;
        while (done < n) {
            ssize_t r = ::read(fd_.fd, static_cast<char*>(buf) + done, size_t(n - done));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return done ? done : -1;
            if (r == 0) break;
            done += r;
        }
        return done;
    }
    int64_t write(const void* buf, int64_t n) override {
        int64_t done = 0;
        while (done < n) {
            ssize_t r = ::write(fd_.fd, static_cast<const char*>(buf) + done, size_t(n - done));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return done ? done : -1;
            done += r;
        }
        return done;
    }
    bool flush() override { return ::fsync(fd_.fd) == 0; }
    bool truncate(int64_t size) override {
        return size >= 0 && ::ftruncate(fd_.fd, off_t(size)) == 0;
    }

  private:
    Fd fd_;
};

std::string parentOf(const std::string& host) {
    size_t slash = host.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : host.substr(0, slash);
}

bool writable(const struct stat& st) {
    return st.st_mode & S_IWUSR;
}

// Takes an opened descriptor only for a regular file (a device or pipe planted
// in the image is never read or written), and switches off the non-blocking
// mode it was opened with.
int regularOnly(int fd) {
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;

bool copyData(int in, int out) {
    std::vector<char> buf(1 << 20);
    for (;;) {
        ssize_t r = ::read(in, buf.data(), buf.size());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) return true;
        for (ssize_t done = 0; done < r;) {
            ssize_t w = ::write(out, buf.data() + done, size_t(r - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

// Copies an open regular file into a new temporary file of the folder dirFd
// and renames it to `name`: whatever had that name (a file, a link, a file
// with further hard links) is replaced, never written through. With
// noReplace an existing name makes it fail.
bool copyInto(int in, int dirFd, const std::string& name, bool noReplace) {
    struct stat st {};
    if (::fstat(in, &st) != 0) return false;
    const std::string tmp = image::temporaryName(name);
    Fd out(
        ::openat(dirFd, tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, st.st_mode & 0777));
    if (out.fd < 0) return false;
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    bool ok = copyData(in, out.fd) && ::futimens(out.fd, times) == 0 && ::fsync(out.fd) == 0;
    if (ok) {
        ok = ::renameat2(dirFd, tmp.c_str(), dirFd, name.c_str(),
                         noReplace ? RENAME_NOREPLACE : 0) == 0;
        if (!ok && noReplace && errno == EINVAL) {
            // A file system without RENAME_NOREPLACE: a hard link fails on an existing name.
            ok = ::linkat(dirFd, tmp.c_str(), dirFd, name.c_str(), 0) == 0;
            ::unlinkat(dirFd, tmp.c_str(), 0);
            return ok;
        }
    }
    if (!ok) ::unlinkat(dirFd, tmp.c_str(), 0);
    return ok;
}

std::string nameOf(const std::string& host) {
    size_t slash = host.rfind('/');
    return slash == std::string::npos ? host : host.substr(slash + 1);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::optional<char> driveLetter(std::string_view s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return std::nullopt;
    std::string_view rest = s.substr(1);
    if (rest != "" && rest != ":" && rest != ":\\" && rest != ":/") return std::nullopt;
    return char(std::toupper(static_cast<unsigned char>(s[0])));
}

}  // namespace

ImageFileApi::ImageFileApi(fs::path machineRoot, std::vector<DriveInfo> drives)
    : root_([&] {
          std::error_code ec;
          auto c = fs::weakly_canonical(fs::absolute(machineRoot, ec), ec);
          return ec ? fs::absolute(machineRoot).lexically_normal() : c;
      }()),
      resolver_(root_.native()) {
    for (auto& info : drives) {
        Drive d{std::move(info), {}};
        d.info.letter = char(std::toupper(static_cast<unsigned char>(d.info.letter)));
        if (!d.info.hostPath.empty()) {
            fs::path hp = d.info.hostPath;
            if (hp.is_relative()) hp = root_ / hp;
            std::error_code ec;
            // "dir/." of a folder made later normalises to "dir/": no trailing slash.
            std::string c = fs::weakly_canonical(hp, ec).native();
            while (c.size() > 1 && c.back() == '/') c.pop_back();
            // A drive folder outside the machine has no files at all.
            if (!ec && resolver_.inside(c)) d.host = c;
        }
        drives_.push_back(std::move(d));
    }
}

const ImageFileApi::Drive* ImageFileApi::usableDrive(char letter) const {
    letter = char(std::toupper(static_cast<unsigned char>(letter)));
    for (const auto& d : drives_) {
        if (d.info.letter != letter) continue;
        if (d.info.kind == DriveKind::NoRootDir || !d.info.mediaPresent || d.host.empty())
            return nullptr;
        return &d;
    }
    return nullptr;
}

const ImageFileApi::Drive* ImageFileApi::driveOf(std::string_view rootPath) const {
    auto letter = driveLetter(rootPath);
    if (!letter) return nullptr;
    for (const auto& d : drives_)
        if (d.info.letter == *letter && d.info.kind != DriveKind::NoRootDir) return &d;
    return nullptr;
}

std::optional<std::pair<const ImageFileApi::Drive*, image::WinPath>> ImageFileApi::locate(
    std::string_view winPath) const {
    auto wp = image::parseWindowsPath(winPath);
    if (!wp) return std::nullopt;
    if (sysnative_ && wp->drive == sysnative_->drive &&
        wp->parts.size() > sysnative_->parts.size()) {
        const auto& win = sysnative_->parts;
        std::string& next = wp->parts[win.size()];
        if (std::equal(win.begin(), win.end(), wp->parts.begin(),
                       [](const auto& a, const auto& b) { return equalsNoCase(a, b); }) &&
            equalsNoCase(next, "Sysnative"))
            next = "System32";
    }
    const Drive* d = usableDrive(wp->drive);
    if (!d) return std::nullopt;
    return std::pair{d, std::move(*wp)};
}

std::optional<Resolved> ImageFileApi::find(std::string_view winPath, bool mustExist, bool parents) {
    auto at = locate(winPath);
    if (!at) return std::nullopt;
    return resolver_.walk(at->first->host, at->second, mustExist, parents);
}

std::optional<Resolved> ImageFileApi::findHeld(std::string_view winPath, bool mustExist,
                                               bool parents) {
    auto at = locate(winPath);
    if (!at) return std::nullopt;
    Fd drive(openHost(at->first->host, O_PATH | O_DIRECTORY));
    if (drive.fd < 0) return std::nullopt;
    return resolver_.walkHeld(std::move(drive), at->first->host, at->second, mustExist, parents);
}

std::optional<fs::path> ImageFileApi::resolve(std::string_view winPath, bool mustExist,
                                              bool parents) {
    auto r = find(winPath, mustExist, parents);
    if (!r) return std::nullopt;
    return fs::path(r->host);
}

std::optional<std::string> ImageFileApi::toWindowsPath(const fs::path& host) {
    std::error_code ec;
    auto c = fs::weakly_canonical(host.is_relative() ? root_ / host : host, ec);
    if (ec) return std::nullopt;
    const std::string& s = c.native();
    const Drive* best = nullptr;
    for (const auto& d : drives_) {
        if (d.host.empty() || d.info.kind == DriveKind::NoRootDir) continue;
        bool in = s == d.host || (s.starts_with(d.host) && s[d.host.size()] == '/');
        if (in && (!best || d.host.size() > best->host.size())) best = &d;
    }
    if (!best) return std::nullopt;
    std::string w{best->info.letter, ':', '\\'};
    std::string rest = s.substr(std::min(s.size(), best->host.size() + 1));
    std::replace(rest.begin(), rest.end(), '/', '\\');
    return w + rest;
}

void ImageFileApi::setLoadedHives(const std::vector<fs::path>& hostFiles) {
    std::lock_guard lock(mutex_);
    hivePaths_.clear();
    hiveNames_.clear();
    hiveNameLengths_.reset();
    for (const auto& file : hostFiles) {
        for (const char* suffix : {"", ".LOG", ".LOG1", ".LOG2"}) {
            std::string host = file.native() + suffix;
            hivePaths_.insert(image::foldName(host));
            std::string name = nameOf(host);
            hiveNames_.insert(image::foldName(name));
            if (name.size() < hiveNameLengths_.size()) hiveNameLengths_.set(name.size());
        }
    }
}

void ImageFileApi::setSysnative(std::string_view windowsDir) {
    sysnative_.reset();
    if (auto wp = image::parseWindowsPath(windowsDir); wp && !wp->parts.empty()) sysnative_ = wp;
}

bool ImageFileApi::hiveNamed(std::string_view path) {
    size_t cut = path.find_last_of("\\/");
    std::string_view name = cut == std::string_view::npos ? path : path.substr(cut + 1);
    std::lock_guard lock(mutex_);
    // Hive names are few and short: most names are told apart by their length.
    if (name.size() >= hiveNameLengths_.size() || !hiveNameLengths_[name.size()]) return false;
    return hiveNames_.count(image::foldName(name)) != 0;
}

// Host paths are canonical, so every spelling of a hive meets the same path.
bool ImageFileApi::isHive(const std::string& host) {
    std::lock_guard lock(mutex_);
    return !hivePaths_.empty() && hivePaths_.count(image::foldName(host));
}

ImageFileApi::~ImageFileApi() {
    if (int fd = rootFd_.load(); fd >= 0) ::close(fd);
}

int ImageFileApi::rootFd() const {
    int fd = rootFd_.load();
    if (fd >= 0) return fd;
    // Opened on first use: the folder may be filled only after this object exists.
    int opened = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opened < 0) return -1;
    if (rootFd_.compare_exchange_strong(fd, opened)) return opened;
    ::close(opened);
    return fd;
}

int ImageFileApi::openHost(const std::string& host, int flags, mode_t mode) const {
    const std::string& r = root_.native();
    std::string_view rel;
    if (host == r) {
        rel = ".";
    } else if (r == "/" && host.starts_with('/')) {
        rel = std::string_view(host).substr(1);
    } else if (host.starts_with(r) && host.size() > r.size() && host[r.size()] == '/') {
        rel = std::string_view(host).substr(r.size() + 1);
    } else {
        errno = EXDEV;
        return -1;
    }
    // O_PATH takes no other flags (openat2 refuses them).
    if (!(flags & O_PATH)) flags |= O_NOCTTY;
    return image::openBeneath(rootFd(), rel, flags | O_CLOEXEC, mode);
}

std::optional<image::HeldEntry> ImageFileApi::holdEntry(const Resolved& r) const {
    if (!r.parent || r.parent->fd < 0 || r.isRoot) return std::nullopt;
    Fd dir(::fcntl(r.parent->fd, F_DUPFD_CLOEXEC, 0));
    if (dir.fd < 0) return std::nullopt;
    return image::HeldEntry{std::move(dir), nameOf(r.host)};
}

bool ImageFileApi::unlinkChecked(const Resolved& r, int flags) {
    auto e = holdEntry(r);
    return e && image::sameEntry(e->dir.fd, e->name, r.lst) &&
           ::unlinkat(e->dir.fd, e->name.c_str(), flags) == 0;
}

void ImageFileApi::lockFile(std::string_view winPath) {
    if (auto r = find(winPath, false)) {
        std::lock_guard lock(mutex_);
        locked_.insert(r->target);
        anyLocked_ = true;
    }
}

void ImageFileApi::unlockFile(std::string_view winPath) {
    if (auto r = find(winPath, false)) {
        std::lock_guard lock(mutex_);
        locked_.erase(r->target);
        anyLocked_ = !locked_.empty();
    }
}

bool ImageFileApi::isLocked(const std::string& host) {
    std::lock_guard lock(mutex_);
    return locked_.count(host) != 0;
}

bool ImageFileApi::lockedWithin(const std::string& dir) {
    std::lock_guard lock(mutex_);
    std::string prefix = dir + "/";
    auto it = locked_.lower_bound(prefix);
    return locked_.count(dir) || (it != locked_.end() && it->starts_with(prefix));
}

void ImageFileApi::forgetAttributes(const std::string& host) {
    std::lock_guard lock(mutex_);
    attributes_.erase(host);
    std::string prefix = host + "/";
    for (auto it = attributes_.lower_bound(prefix);
         it != attributes_.end() && it->first.starts_with(prefix);)
        it = attributes_.erase(it);
}

void ImageFileApi::moveAttributes(const std::string& from, const std::string& to) {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, uint32_t>> moved;
    std::string prefix = from + "/";
    for (auto it = attributes_.begin(); it != attributes_.end();) {
        if (it->first == from || it->first.starts_with(prefix)) {
            moved.emplace_back(to + it->first.substr(from.size()), it->second);
            it = attributes_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& m : moved) attributes_.insert_or_assign(m.first, m.second);
}

void ImageFileApi::changed(const std::string& host, bool tree) {
    resolver_.invalidate(parentOf(host));
    if (tree) resolver_.invalidateTree(host);
}

FileEntry ImageFileApi::entryFor(const std::string& name, const std::string& host,
                                 const struct stat& st) {
    FileEntry e;
    e.name = name;
    e.writeTime = image::toFileTime(st.st_mtim);
    uint32_t stored = kStoredAttributes;
    if (S_ISDIR(st.st_mode)) {
        e.attributes = faDirectory;
        stored |= faReadOnly;
    } else {
        e.size = uint64_t(st.st_size);
        e.attributes = faArchive | (writable(st) ? 0 : faReadOnly);
    }
    std::lock_guard lock(mutex_);
    if (auto it = attributes_.find(host); it != attributes_.end())
        e.attributes = (e.attributes & ~stored) | (it->second & stored);
    return e;
}

std::optional<std::vector<FileEntry>> ImageFileApi::findFiles(std::string_view folder,
                                                              std::string_view mask) {
    std::string m = mask.empty() ? "*" : std::string(mask);
    if (!image::validMask(m)) return std::nullopt;
    auto r = find(folder);
    if (!r || !r->targetOk || !S_ISDIR(r->tst.st_mode)) return std::nullopt;
    const std::string& dir = r->target;
    Fd fd(openHost(dir, O_RDONLY | O_DIRECTORY));
    struct stat opened {};
    if (fd.fd < 0 || ::fstat(fd.fd, &opened) != 0 || !sameFile(opened, r->tst)) return std::nullopt;
    std::unique_ptr<DIR, int (*)(DIR*)> dp(::fdopendir(fd.fd), ::closedir);
    if (!dp) return std::nullopt;
    fd.release();

    std::vector<FileEntry> out;
    if (!r->isRoot) {
        struct stat up {};
        if (::stat(parentOf(dir).c_str(), &up) != 0) up = r->tst;
        if (wildcardMatch(m, ".")) out.push_back(entryFor(".", dir, r->tst));
        if (wildcardMatch(m, "..")) out.push_back(entryFor("..", parentOf(dir), up));
    }
    size_t dots = out.size();
    while (auto* e = ::readdir(dp.get())) {
        std::string name = e->d_name;
        if (!image::validWindowsName(name) || !wildcardMatch(m, name)) continue;
        std::string host = dir + "/" + name;
        struct stat st {};
        if (::fstatat(::dirfd(dp.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        bool link = S_ISLNK(st.st_mode);
        if (link) {
            auto t = resolver_.followLink(host);
            if (!t) continue;  // leads out: not part of this machine
            host = *t;
            Fd target(openHost(host, O_PATH));
            if (target.fd < 0 || ::fstat(target.fd, &st) != 0) {
                // Dangling but harmless: shown as an empty file so it can be removed.
                if (::fstatat(::dirfd(dp.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                st.st_mode = S_IFREG | 0644;
            }
            st.st_size = 0;  // the link holds no data of its own
        }
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;
        out.push_back(entryFor(name, host, st));
        if (link) out.back().attributes |= faReparsePoint;
    }
    // NTFS lists a folder in the order of its upper-cased names.
    std::vector<std::pair<std::string, FileEntry>> keyed;
    keyed.reserve(out.size() - dots);
    for (size_t i = dots; i < out.size(); ++i)
        keyed.emplace_back(image::foldName(out[i].name), std::move(out[i]));
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.name < b.second.name;
    });
    out.resize(dots);
    for (auto& k : keyed) out.push_back(std::move(k.second));
    return out;
}

std::optional<FileEntry> ImageFileApi::fileInfo(std::string_view path) {
    auto r = find(path);
    if (!r || !r->targetOk) return std::nullopt;
    if (!S_ISREG(r->tst.st_mode) && !S_ISDIR(r->tst.st_mode)) return std::nullopt;
    return entryFor(r->isRoot ? "" : r->names.back(), r->target, r->tst);
}

bool ImageFileApi::fileExists(std::string_view path) {
    auto r = find(path);
    return r && r->targetOk && S_ISREG(r->tst.st_mode);
}

bool ImageFileApi::directoryExists(std::string_view path) {
    auto r = find(path);
    return r && r->targetOk && S_ISDIR(r->tst.st_mode);
}

bool ImageFileApi::deleteFile(std::string_view path) {
    auto r = findHeld(path);
    if (!r || r->isRoot || S_ISDIR(r->lst.st_mode)) return false;
    if (r->isLink) {
        if (r->targetOk && S_ISDIR(r->tst.st_mode)) return false;
    } else if (!writable(r->lst) || isLocked(r->host) || isHive(r->host)) {
        return false;  // read-only or held open by another program
    }
    if (!unlinkChecked(*r, 0)) return false;
    if (!r->isLink) forgetAttributes(r->host);
    changed(r->host);
    return true;
}

bool ImageFileApi::removeDirectory(std::string_view path) {
    auto r = findHeld(path);
    if (!r || r->isRoot) return false;
    if (r->isLink) {
        // Removes a link to a folder, never the folder it leads to.
        if (!r->targetOk || !S_ISDIR(r->tst.st_mode) || !unlinkChecked(*r, 0)) return false;
    } else if (!S_ISDIR(r->lst.st_mode) || !unlinkChecked(*r, AT_REMOVEDIR)) {
        return false;
    } else {
        forgetAttributes(r->host);
    }
    changed(r->host, true);
    return true;
}

bool ImageFileApi::forceDirectories(std::string_view path) {
    auto r = findHeld(path, false, true);
    if (!r) return false;
    if (r->exists) return r->targetOk && S_ISDIR(r->tst.st_mode);
    // The existing part was checked and is reached again without following
    // anything; only plain names are added below it.
    const std::string& rootPath = root_.native();
    if (!r->host.starts_with(rootPath)) return false;
    Fd cur(::fcntl(rootFd(), F_DUPFD_CLOEXEC, 0));
    if (cur.fd < 0) return false;
    for (const auto& part : split(std::string_view(r->host).substr(rootPath.size()), '/')) {
        if (part.empty()) continue;
        int fd = ::openat(cur.fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(cur.fd, part.c_str(), 0755) != 0 && errno != EEXIST) return false;
            fd = ::openat(cur.fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (fd < 0) return false;
        cur = Fd(fd);
    }
    for (std::string p = r->host; p.size() > rootPath.size(); p = parentOf(p))
        resolver_.invalidate(parentOf(p));
    return true;
}

bool ImageFileApi::copyFile(std::string_view from, std::string_view to, bool failIfExists) {
    auto s = find(from);
    if (!s || !s->targetOk || !S_ISREG(s->tst.st_mode) || isLocked(s->target)) return false;
    auto d = findHeld(to, false);
    if (!d || d->isRoot) return false;
    if (d->exists) {
        if (failIfExists || !d->targetOk || !S_ISREG(d->tst.st_mode)) return false;
        if (!writable(d->tst) || isLocked(d->target) || isHive(d->host)) return false;
        if (sameFile(d->tst, s->tst)) return false;
    }
    Fd in(regularOnly(openHost(s->target, O_RDONLY | kOpenFlags)));
    struct stat st {};
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0 || !sameFile(st, s->tst)) return false;
    auto dest = holdEntry(*d);
    if (!dest || !copyInto(in.fd, dest->dir.fd, dest->name, !d->exists)) return false;
    changed(d->host);
    std::lock_guard lock(mutex_);
    if (auto it = attributes_.find(s->target); it != attributes_.end())
        attributes_.insert_or_assign(d->host, it->second);
    return true;
}

bool ImageFileApi::moveFile(std::string_view from, std::string_view to) {
    auto s = findHeld(from);
    if (!s || s->isRoot) return false;
    auto wt = image::parseWindowsPath(to);
    auto d = findHeld(to, false);
    if (!wt || !d || d->isRoot) return false;
    std::string dest = d->host;
    bool caseOnly = false;
    if (d->exists) {
        // Only a change of case of the same entry may "overwrite" it.
        if (d->host != s->host) return false;
        dest = parentOf(d->host) + "/" + wt->parts.back();
        if (dest == s->host) return true;
        caseOnly = true;
    }
    bool isDir = S_ISDIR(s->lst.st_mode);
    if (isDir ? lockedWithin(s->host) : isLocked(s->host)) return false;
    auto src = holdEntry(*s);
    auto dst = holdEntry(*d);
    if (!src || !dst || !image::sameEntry(src->dir.fd, src->name, s->lst)) return false;
    dst->name = nameOf(dest);
    int flags = caseOnly ? 0 : RENAME_NOREPLACE;
    int rc = ::renameat2(src->dir.fd, src->name.c_str(), dst->dir.fd, dst->name.c_str(), flags);
    if (rc != 0 && errno == EINVAL && flags) {
        // No RENAME_NOREPLACE on this file system: the name was free when checked.
        rc = ::renameat(src->dir.fd, src->name.c_str(), dst->dir.fd, dst->name.c_str());
    }
    if (rc != 0) {
        // Files move between host file systems by copy; folders do not, as on Windows.
        if (errno != EXDEV || !S_ISREG(s->lst.st_mode)) return false;
        Fd in(regularOnly(::openat(src->dir.fd, src->name.c_str(), O_RDONLY | kOpenFlags)));
        if (in.fd < 0 || !copyInto(in.fd, dst->dir.fd, dst->name, true)) return false;
        if (::unlinkat(src->dir.fd, src->name.c_str(), 0) != 0) {
            ::unlinkat(dst->dir.fd, dst->name.c_str(), 0);
            return false;
        }
    }
    moveAttributes(s->host, dest);
    changed(s->host, true);
    changed(dest, true);
    return true;
}

bool ImageFileApi::setAttributes(std::string_view path, uint32_t attributes) {
    auto r = findHeld(path);
    if (!r || !r->targetOk) return false;
    uint32_t stored = kStoredAttributes;
    if (S_ISREG(r->tst.st_mode)) {
        mode_t mode = r->tst.st_mode & 07777;
        mode_t want =
            attributes & faReadOnly ? mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
        if (want != mode) {
            // The mode of a link's target is not changed through the link.
            auto e = r->isLink ? std::nullopt : holdEntry(*r);
            if (!e) return false;
            Fd fd(regularOnly(::openat(e->dir.fd, e->name.c_str(), O_RDONLY | kOpenFlags)));
            struct stat st {};
            if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !sameFile(st, r->tst) ||
                ::fchmod(fd.fd, want) != 0)
                return false;
        }
    } else if (S_ISDIR(r->tst.st_mode)) {
        stored |= faReadOnly;
    } else {
        return false;
    }
    std::lock_guard lock(mutex_);
    attributes_.insert_or_assign(r->target, attributes & stored);
    return true;
}

std::unique_ptr<FileHandle> ImageFileApi::openFile(std::string_view path, FileMode mode) {
    const bool write = mode == FileMode::ReadWrite;
    auto r = write ? findHeld(path) : find(path);
    if (!r || !r->targetOk || !S_ISREG(r->tst.st_mode) || isLocked(r->target)) return nullptr;
    // A write never goes through a link or into a file that has another name
    // as well, which may lie anywhere on the host.
    if (write && (r->isLink || !writable(r->tst) || r->tst.st_nlink > 1 || isHive(r->target)))
        return nullptr;
    Fd fd;
    if (write) {
        if (auto e = holdEntry(*r))
            fd = Fd(regularOnly(::openat(e->dir.fd, e->name.c_str(), O_RDWR | kOpenFlags)));
    } else {
        fd = Fd(regularOnly(openHost(r->target, O_RDONLY | kOpenFlags)));
    }
    struct stat st {};
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !sameFile(st, r->tst)) return nullptr;
    if (write && st.st_nlink > 1) return nullptr;
    return std::make_unique<PosixFile>(fd.release());
}

std::unique_ptr<FileHandle> ImageFileApi::createAt(const Resolved& r, bool mustBeNew) {
    if (r.isRoot) return nullptr;
    if (r.exists) {
        if (mustBeNew || !r.targetOk || !S_ISREG(r.tst.st_mode)) return nullptr;
        if (!writable(r.tst) || isLocked(r.target) || isHive(r.host)) return nullptr;
    }
    auto e = holdEntry(r);
    if (!e) return nullptr;
    Fd fd;
    if (!r.exists) {
        fd = Fd(::openat(e->dir.fd, e->name.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags, 0644));
    } else if (!r.isLink && r.lst.st_nlink == 1) {
        // Truncated only once it is known to be this file and no other's.
        fd = Fd(regularOnly(::openat(e->dir.fd, e->name.c_str(), O_RDWR | kOpenFlags)));
        struct stat st {};
        if (fd.fd >= 0 && (::fstat(fd.fd, &st) != 0 || !sameFile(st, r.lst) || st.st_nlink != 1 ||
                           ::ftruncate(fd.fd, 0) != 0))
            fd = Fd();
    } else {
        // A link, or a file with further names: a new file takes the name.
        const std::string tmp = image::temporaryName(e->name);
        fd = Fd(::openat(e->dir.fd, tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | kOpenFlags,
                         r.tst.st_mode & 0777));
        if (fd.fd >= 0 && ::renameat(e->dir.fd, tmp.c_str(), e->dir.fd, e->name.c_str()) != 0) {
            ::unlinkat(e->dir.fd, tmp.c_str(), 0);
            fd = Fd();
        }
    }
    if (fd.fd < 0) return nullptr;
    ::fcntl(fd.fd, F_SETFL, ::fcntl(fd.fd, F_GETFL) & ~O_NONBLOCK);
    changed(r.host);
    return std::make_unique<PosixFile>(fd.release());
}

std::unique_ptr<FileHandle> ImageFileApi::createFile(std::string_view path) {
    auto r = findHeld(path, false);
    return r ? createAt(*r, false) : nullptr;
}

std::unique_ptr<FileHandle> ImageFileApi::createNewFile(std::string_view path) {
    auto r = findHeld(path, false);
    return r ? createAt(*r, true) : nullptr;
}

// Deletes what it can below an open folder without ever following a link:
// a link is removed itself, a locked file stays. False when anything stayed.
bool ImageFileApi::removeContents(int dirFd, const std::string& dir, int depth) {
    std::unique_ptr<DIR, int (*)(DIR*)> dp(::fdopendir(dirFd), ::closedir);
    if (!dp) {
        ::close(dirFd);
        return false;
    }
    std::vector<std::string> names;
    while (auto* e = ::readdir(dp.get())) {
        std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
    }
    int fd = ::dirfd(dp.get());
    bool ok = true;
    for (const auto& name : names) {
        std::string host = dir + "/" + name;
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            int sub =
                depth < kMaxTreeDepth
                    ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                    : -1;
            bool subOk = sub >= 0 && removeContents(sub, host, depth + 1);
            ok = subOk && ::unlinkat(fd, name.c_str(), AT_REMOVEDIR) == 0 && ok;
        } else if (!S_ISLNK(st.st_mode) && (isLocked(host) || isHive(host))) {
            ok = false;
        } else {
            ok = ::unlinkat(fd, name.c_str(), 0) == 0 && ok;
        }
    }
    return ok;
}

bool ImageFileApi::shellDelete(std::string_view path) {
    auto r = findHeld(path);
    if (!r || r->isRoot) return false;
    bool ok;
    if (r->isLink || !S_ISDIR(r->lst.st_mode)) {
        // The shell deletes read-only files too; a link goes, its target stays.
        ok = (r->isLink || (!isLocked(r->host) && !isHive(r->host))) && unlinkChecked(*r, 0);
    } else {
        auto e = holdEntry(*r);
        ok = e && image::sameEntry(e->dir.fd, e->name, r->lst);
        if (ok) {
            int fd = ::openat(e->dir.fd, e->name.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            struct stat st {};
            ok = fd >= 0 && ::fstat(fd, &st) == 0 && sameFile(st, r->lst);
            if (!ok && fd >= 0) ::close(fd);
            ok = ok && removeContents(fd, r->host, 0);
            ok = ok && ::unlinkat(e->dir.fd, e->name.c_str(), AT_REMOVEDIR) == 0;
        }
    }
    if (!r->isLink) forgetAttributes(r->host);
    changed(r->host, true);
    return ok;
}

std::vector<std::pair<std::string, std::string>> ImageFileApi::parsePendingRenames(
    const std::vector<uint8_t>& raw) {
    std::vector<std::string> strings;
    size_t units = raw.size() / 2, start = 0;
    for (size_t i = 0; i < units; ++i) {
        if (raw[2 * i] || raw[2 * i + 1]) continue;
        strings.push_back(utf16leToUtf8(raw.data() + 2 * start, 2 * (i - start), false));
        start = i + 1;
    }
    if (start < units)
        strings.push_back(utf16leToUtf8(raw.data() + 2 * start, 2 * (units - start), false));
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i < strings.size() && !strings[i].empty(); i += 2)
        pairs.emplace_back(strings[i], i + 1 < strings.size() ? strings[i + 1] : "");
    return pairs;
}

std::vector<uint8_t> ImageFileApi::encodePendingRenames(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::vector<uint8_t> out;
    for (const auto& [source, target] : pairs) {
        auto s = utf8ToUtf16le(source, true);
        auto t = utf8ToUtf16le(target, true);
        out.insert(out.end(), s.begin(), s.end());
        out.insert(out.end(), t.begin(), t.end());
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

bool ImageFileApi::deleteAtRestart(std::string_view path) {
    if (!registry_) return false;
    auto wp = image::parseWindowsPath(path);
    auto r = find(path);
    if (!wp || !r || wp->parts.empty()) return false;
    // Deleting a loaded hive at the next start would take the system or the
    // user's profile with it.
    if (!r->isLink && isHive(r->host)) return false;
    RegistryKey key(*registry_, RootKey::LocalMachine);
    if (!key.openKey(kSessionManager, true)) return false;
    std::vector<uint8_t> raw;
    if (auto v = key.handle()->value(kPendingRenames)) raw = std::move(v->data);
    auto pairs = parsePendingRenames(raw);
    std::string source = "\\??\\" + wp->text();
    for (const auto& [s, t] : pairs)
        if (t.empty() && equalsNoCase(s, source)) return true;  // already pending
    pairs.emplace_back(std::move(source), "");
    return key.handle()->setValue(kPendingRenames, REG_MULTI_SZ, encodePendingRenames(pairs));
}

bool ImageFileApi::carryOutOne(const std::string& source, const std::string& target) {
    auto s = findHeld(source, false);
    if (!s || s->isRoot) return false;
    if (target.empty()) {
        if (!s->exists) return true;  // already gone
        bool dir = S_ISDIR(s->lst.st_mode);
        if (!unlinkChecked(*s, dir ? AT_REMOVEDIR : 0)) return false;
        if (!s->isLink) forgetAttributes(s->host);
        changed(s->host, dir);
        return true;
    }
    bool replace = target.starts_with('!');
    auto d = findHeld(std::string_view(target).substr(replace ? 1 : 0), false);
    if (!s->exists || !d || d->isRoot) return false;
    if (d->exists && (!replace || S_ISDIR(d->lst.st_mode))) return false;
    auto src = holdEntry(*s);
    auto dst = holdEntry(*d);
    if (!src || !dst || !image::sameEntry(src->dir.fd, src->name, s->lst) ||
        ::renameat(src->dir.fd, src->name.c_str(), dst->dir.fd, dst->name.c_str()) != 0)
        return false;
    moveAttributes(s->host, d->host);
    changed(s->host, true);
    changed(d->host, true);
    return true;
}

bool ImageFileApi::carryOutPendingRenames() {
    if (!registry_) return false;
    RegistryKey key(*registry_, RootKey::LocalMachine);
    if (!key.openKey(kSessionManager)) return true;  // nothing pending
    auto v = key.handle()->value(kPendingRenames);
    if (!v) return true;
    bool ok = true;
    for (const auto& [source, target] : parsePendingRenames(v->data))
        ok = carryOutOne(source, target) && ok;
    // Windows drops the whole list once it has tried, whatever failed.
    return key.deleteValue(kPendingRenames) && ok;
}

std::optional<PlaceId> ImageFileApi::placeId(std::string_view path) {
    auto r = find(path);
    if (!r || !r->targetOk) return std::nullopt;
    return PlaceId{uint64_t(r->tst.st_dev), uint64_t(r->tst.st_ino)};
}

FileUse ImageFileApi::fileUse(std::string_view path) {
    // Most files are neither: answered without a look at the disk.
    bool named = hiveNamed(path);
    if (!named && !anyLocked_.load(std::memory_order_relaxed)) return FileUse::Free;
    auto r = find(path);
    if (!r || !r->exists) return FileUse::Free;
    if (!r->isLink && named && isHive(r->host)) return FileUse::LoadedHive;
    return isLocked(r->target) ? FileUse::Locked : FileUse::Free;
}

std::optional<std::string> ImageFileApi::libraryOpenPath(std::string_view path, std::string* why) {
    auto refuse = [why](const char* reason) -> std::optional<std::string> {
        if (why) *why = reason;
        return std::nullopt;
    };
    auto r = find(path);
    if (!r || !r->exists) return refuse("the file is not there");
    if (r->isLink) return refuse("the file is a link");
    if (r->guessed) return refuse("the path holds a guessed 8.3 alias");
    if (!S_ISREG(r->lst.st_mode)) return refuse("it is not a regular file");
    if (r->lst.st_nlink != 1) return refuse("the file has further hard links");
    // The walk follows links inside the machine and hands back where they led,
    // so a path that passed none is its drive folder and the names as found.
    auto wp = image::parseWindowsPath(path);
    const Drive* d = wp ? usableDrive(wp->drive) : nullptr;
    if (!d) return refuse("the file is not there");
    std::string lexical = d->host;
    for (const auto& name : r->names) lexical += "/" + name;
    if (lexical != r->host) return refuse("the path to the file passes a link");
    if (isHive(r->host)) return refuse("the file is a registry hive in use");
    if (isLocked(r->host)) return refuse("the file is in use by another program");
    // What the kernel reaches from the machine folder without links must be
    // the very file that was checked.
    Fd fd(openHost(r->host, O_RDONLY | O_NOFOLLOW));
    struct stat st {};
    if (fd.fd < 0 || ::fstat(fd.fd, &st) != 0 || !sameFile(st, r->lst))
        return refuse("the path to the file passes a link");
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
        struct stat cs {};
        std::string companion = r->host + suffix;
        if (::lstat(companion.c_str(), &cs) != 0) continue;
        if (!S_ISREG(cs.st_mode) || cs.st_nlink != 1)
            return refuse("a link or a special file stands beside it as its journal");
        if (isLocked(companion)) return refuse("the file is in use by another program");
    }
    return r->host;
}

std::string ImageFileApi::shortPathName(std::string_view path) {
    auto wp = image::parseWindowsPath(path);
    const Drive* d = wp ? usableDrive(wp->drive) : nullptr;
    if (!d) return std::string(path);
    std::string out{wp->drive, ':', '\\'};
    std::string cur = d->host;
    bool existing = true;
    for (size_t i = 0; i < wp->parts.size(); ++i) {
        std::string piece = wp->parts[i];
        if (existing) {
            auto name = resolver_.lookup(cur, piece);
            struct stat st {};
            std::string host = cur + "/" + name.value_or("");
            if (!name || ::lstat(host.c_str(), &st) != 0) {
                existing = false;
            } else {
                piece = resolver_.shortNameOf(cur, *name);
                if (S_ISLNK(st.st_mode)) {
                    auto t = resolver_.followLink(host);
                    if (!t) return std::string(path);
                    cur = *t;
                } else {
                    cur = host;
                }
            }
        }
        out += piece;
        if (i + 1 < wp->parts.size()) out.push_back('\\');
    }
    if (!wp->parts.empty() && (path.ends_with('\\') || path.ends_with('/'))) out.push_back('\\');
    return out;
}

ShortNames ImageFileApi::shortNames(std::string_view folder) {
    auto r = find(folder);
    if (!r || !r->targetOk || !S_ISDIR(r->tst.st_mode)) return {};
    return resolver_.shortNames(r->target);
}

std::vector<DriveInfo> ImageFileApi::drives() {
    std::vector<DriveInfo> out;
    for (const auto& d : drives_)
        if (d.info.kind != DriveKind::NoRootDir) out.push_back(d.info);
    std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.letter < b.letter; });
    return out;
}

DriveKind ImageFileApi::driveType(std::string_view rootPath) {
    const Drive* d = driveOf(rootPath);
    return d ? d->info.kind : DriveKind::NoRootDir;
}

std::string ImageFileApi::queryDosDevice(std::string_view drive) {
    const Drive* d = driveOf(drive);
    return d ? d->info.device : std::string();
}

bool ImageFileApi::volumePresent(std::string_view rootPath) {
    auto letter = driveLetter(rootPath);
    const Drive* d = letter ? usableDrive(*letter) : nullptr;
    struct stat st {};
    return d && ::stat(d->host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace brisko
