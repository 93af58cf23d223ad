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
#include "core/machine/image/image_file_helpers.h"
#include "core/machine/registry_api.h"
#include "core/machine/registry_key.h"

namespace brisko {

namespace fs = std::filesystem;
using image::Resolved;
using namespace image::files;

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
    e.place = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
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
        // Its parent as the open folder sees it: no second walk of the path.
        if (::fstatat(::dirfd(dp.get()), "..", &up, 0) != 0) up = r->tst;
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
        bool dangling = false;
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
                dangling = true;
            }
            st.st_size = 0;  // the link holds no data of its own
        }
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;
        out.push_back(entryFor(name, host, st));
        if (link) out.back().attributes |= faReparsePoint;
        if (dangling) out.back().place = {};  // it names no place
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

}  // namespace brisko
