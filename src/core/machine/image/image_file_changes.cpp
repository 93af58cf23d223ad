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

}  // namespace brisko
