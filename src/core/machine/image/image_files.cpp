#include "core/machine/image/image_files.h"

#include "core/unique_fd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <utility>

#include "core/machine/registry_api.h"
#include "core/machine/registry_key.h"
#include "core/text.h"

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

// Opens a regular file only: no link is followed at the last step and a device
// or pipe planted in the image is never opened for real.
int openRegular(const std::string& host, int flags, mode_t mode = 0644) {
    int fd = ::open(host.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, mode);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

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

// Copies a regular file's data, mode and write time; a half-written new file
// is removed again.
bool copyHostFile(const std::string& from, const std::string& to, bool exclusive) {
    Fd in(openRegular(from, O_RDONLY));
    struct stat st {};
    if (in.fd < 0 || ::fstat(in.fd, &st) != 0) return false;
    bool existed = ::access(to.c_str(), F_OK) == 0;
    int flags = O_WRONLY | O_CREAT | O_TRUNC | (exclusive ? O_EXCL : 0);
    Fd out(openRegular(to, flags, st.st_mode & 0777));
    if (out.fd < 0) return false;
    bool ok = copyData(in.fd, out.fd);
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (ok) ok = ::futimens(out.fd, times) == 0 && ::fsync(out.fd) == 0;
    if (!ok && !existed) ::unlink(to.c_str());
    return ok;
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
            auto c = fs::weakly_canonical(hp, ec);
            // A drive folder outside the machine has no files at all.
            if (!ec && resolver_.inside(c.native())) d.host = c.native();
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

std::optional<Resolved> ImageFileApi::find(std::string_view winPath, bool mustExist, bool parents) {
    auto wp = image::parseWindowsPath(winPath);
    if (!wp) return std::nullopt;
    const Drive* d = usableDrive(wp->drive);
    if (!d) return std::nullopt;
    return resolver_.walk(d->host, *wp, mustExist, parents);
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

void ImageFileApi::lockFile(std::string_view winPath) {
    if (auto r = find(winPath, false)) {
        std::lock_guard lock(mutex_);
        locked_.insert(r->target);
    }
}

void ImageFileApi::unlockFile(std::string_view winPath) {
    if (auto r = find(winPath, false)) {
        std::lock_guard lock(mutex_);
        locked_.erase(r->target);
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
    Fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.fd < 0) return std::nullopt;
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
        if (S_ISLNK(st.st_mode)) {
            auto t = resolver_.followLink(host);
            if (!t) continue;  // leads out: not part of this machine
            host = *t;
            if (::stat(host.c_str(), &st) != 0) {
                // Dangling but harmless: shown as an empty file so it can be removed.
                if (::lstat((dir + "/" + name).c_str(), &st) != 0) continue;
                st.st_mode = S_IFREG | 0644;
                st.st_size = 0;
            }
        }
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;
        out.push_back(entryFor(name, host, st));
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
    auto r = find(path);
    if (!r || r->isRoot || S_ISDIR(r->lst.st_mode)) return false;
    if (r->isLink) {
        if (r->targetOk && S_ISDIR(r->tst.st_mode)) return false;
    } else if (!writable(r->lst) || isLocked(r->host)) {
        return false;  // read-only or held open by another program
    }
    if (::unlink(r->host.c_str()) != 0) return false;
    if (!r->isLink) forgetAttributes(r->host);
    changed(r->host);
    return true;
}

bool ImageFileApi::removeDirectory(std::string_view path) {
    auto r = find(path);
    if (!r || r->isRoot) return false;
    if (r->isLink) {
        // Removes a link to a folder, never the folder it leads to.
        if (!r->targetOk || !S_ISDIR(r->tst.st_mode) || ::unlink(r->host.c_str()) != 0)
            return false;
    } else if (!S_ISDIR(r->lst.st_mode) || ::rmdir(r->host.c_str()) != 0) {
        return false;
    } else {
        forgetAttributes(r->host);
    }
    changed(r->host, true);
    return true;
}

bool ImageFileApi::forceDirectories(std::string_view path) {
    auto r = find(path, false, true);
    if (!r) return false;
    if (r->exists) return r->targetOk && S_ISDIR(r->tst.st_mode);
    // Every component that exists has been checked; only plain names are added.
    std::error_code ec;
    fs::create_directories(r->host, ec);
    for (std::string p = r->host; p.size() > root_.native().size(); p = parentOf(p))
        resolver_.invalidate(parentOf(p));
    struct stat st {};
    return ::lstat(r->host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ImageFileApi::copyFile(std::string_view from, std::string_view to, bool failIfExists) {
    auto s = find(from);
    if (!s || !s->targetOk || !S_ISREG(s->tst.st_mode) || isLocked(s->target)) return false;
    auto d = find(to, false);
    if (!d || d->isRoot) return false;
    if (d->exists) {
        if (failIfExists || !d->targetOk || !S_ISREG(d->tst.st_mode)) return false;
        if (!writable(d->tst) || isLocked(d->target)) return false;
        if (d->tst.st_dev == s->tst.st_dev && d->tst.st_ino == s->tst.st_ino) return false;
    }
    if (!copyHostFile(s->target, d->target, !d->exists)) return false;
    changed(d->target);
    std::lock_guard lock(mutex_);
    if (auto it = attributes_.find(s->target); it != attributes_.end())
        attributes_.insert_or_assign(d->target, it->second);
    return true;
}

bool ImageFileApi::moveFile(std::string_view from, std::string_view to) {
    auto s = find(from);
    if (!s || s->isRoot) return false;
    auto wt = image::parseWindowsPath(to);
    auto d = find(to, false);
    if (!wt || !d || d->isRoot) return false;
    std::string dest = d->host;
    if (d->exists) {
        // Only a change of case of the same entry may "overwrite" it.
        if (d->host != s->host) return false;
        dest = parentOf(d->host) + "/" + wt->parts.back();
        if (dest == s->host) return true;
    }
    bool isDir = S_ISDIR(s->lst.st_mode);
    if (isDir ? lockedWithin(s->host) : isLocked(s->host)) return false;
    if (::rename(s->host.c_str(), dest.c_str()) != 0) {
        // Files move between host file systems by copy; folders do not, as on Windows.
        if (errno != EXDEV || !S_ISREG(s->lst.st_mode)) return false;
        if (!copyHostFile(s->host, dest, true)) return false;
        if (::unlink(s->host.c_str()) != 0) {
            ::unlink(dest.c_str());
            return false;
        }
    }
    moveAttributes(s->host, dest);
    changed(s->host, true);
    changed(dest, true);
    return true;
}

bool ImageFileApi::setAttributes(std::string_view path, uint32_t attributes) {
    auto r = find(path);
    if (!r || !r->targetOk) return false;
    uint32_t stored = kStoredAttributes;
    if (S_ISREG(r->tst.st_mode)) {
        mode_t mode = r->tst.st_mode & 07777;
        mode_t want =
            attributes & faReadOnly ? mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH) : mode | S_IWUSR;
        if (want != mode) {
            Fd fd(openRegular(r->target, O_RDONLY));
            if (fd.fd < 0 || ::fchmod(fd.fd, want) != 0) return false;
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
    auto r = find(path);
    if (!r || !r->targetOk || !S_ISREG(r->tst.st_mode) || isLocked(r->target)) return nullptr;
    if (mode == FileMode::ReadWrite && !writable(r->tst)) return nullptr;
    int fd = openRegular(r->target, mode == FileMode::Read ? O_RDONLY : O_RDWR);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixFile>(fd);
}

std::unique_ptr<FileHandle> ImageFileApi::createFile(std::string_view path) {
    auto r = find(path, false);
    if (!r || r->isRoot) return nullptr;
    if (r->exists) {
        if (!r->targetOk || !S_ISREG(r->tst.st_mode)) return nullptr;
        if (!writable(r->tst) || isLocked(r->target)) return nullptr;
    }
    int fd = openRegular(r->target, O_RDWR | O_CREAT | O_TRUNC);
    if (fd < 0) return nullptr;
    changed(r->target);
    return std::make_unique<PosixFile>(fd);
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
        } else if (!S_ISLNK(st.st_mode) && isLocked(host)) {
            ok = false;
        } else {
            ok = ::unlinkat(fd, name.c_str(), 0) == 0 && ok;
        }
    }
    return ok;
}

bool ImageFileApi::shellDelete(std::string_view path) {
    auto r = find(path);
    if (!r || r->isRoot) return false;
    bool ok;
    if (r->isLink || !S_ISDIR(r->lst.st_mode)) {
        // The shell deletes read-only files too; a link goes, its target stays.
        ok = (r->isLink || !isLocked(r->host)) && ::unlink(r->host.c_str()) == 0;
    } else {
        int fd = ::open(r->host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ok = fd >= 0 && removeContents(fd, r->host, 0);
        ok = ok && ::rmdir(r->host.c_str()) == 0;
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
    auto s = find(source, false);
    if (!s || s->isRoot) return false;
    if (target.empty()) {
        if (!s->exists) return true;  // already gone
        bool dir = S_ISDIR(s->lst.st_mode);
        if ((dir ? ::rmdir(s->host.c_str()) : ::unlink(s->host.c_str())) != 0) return false;
        if (!s->isLink) forgetAttributes(s->host);
        changed(s->host, dir);
        return true;
    }
    bool replace = target.starts_with('!');
    auto d = find(std::string_view(target).substr(replace ? 1 : 0), false);
    if (!s->exists || !d || d->isRoot) return false;
    if (d->exists && (!replace || S_ISDIR(d->lst.st_mode))) return false;
    if (::rename(s->host.c_str(), d->host.c_str()) != 0) return false;
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
                piece = image::makeShortName(*name, resolver_.listNames(cur));
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
