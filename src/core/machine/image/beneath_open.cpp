#include "core/machine/image/beneath_open.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "core/temp_name.h"

namespace brisko::image {

namespace {

// 1 openat2 works, 0 not tried yet, -1 the kernel (or a sandbox) refuses it.
std::atomic<int> gOpenat2{0};

int stepwise(int rootFd, std::string_view rel, int flags, mode_t mode) {
    UniqueFd cur(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (cur.fd < 0) return -1;
    size_t pos = 0;
    for (;;) {
        size_t slash = rel.find('/', pos);
        std::string part(rel.substr(pos, slash == std::string_view::npos ? rel.npos : slash - pos));
        if (part == "..") {
            errno = EXDEV;
            return -1;
        }
        if (slash == std::string_view::npos)
            return ::openat(cur.fd, part.empty() ? "." : part.c_str(), flags | O_NOFOLLOW, mode);
        if (!part.empty() && part != ".") {
            int next =
                ::openat(cur.fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0) return -1;
            cur = UniqueFd(next);
        }
        pos = slash + 1;
    }
}

}  // namespace

int openBeneath(int rootFd, std::string_view rel, int flags, mode_t mode) {
    std::string path(rel.empty() ? std::string_view(".") : rel);
    int state = gOpenat2.load(std::memory_order_relaxed);
    if (state >= 0) {
        struct open_how how {};
        how.flags = uint64_t(flags);
        how.mode = (flags & O_CREAT) ? mode : 0;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        long fd = ::syscall(SYS_openat2, rootFd, path.c_str(), &how, sizeof how);
        if (fd >= 0) {
            if (state == 0) gOpenat2.store(1, std::memory_order_relaxed);
            return int(fd);
        }
        // A kernel without it, or a sandbox that forbids it before it ever worked.
        if (errno != ENOSYS && !(errno == EPERM && state == 0)) return -1;
        gOpenat2.store(-1, std::memory_order_relaxed);
    }
    return stepwise(rootFd, path, flags, mode);
}

bool sameEntry(int dirFd, const std::string& name, const struct stat& st) {
    struct stat now {};
    return ::fstatat(dirFd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
           (now.st_mode & S_IFMT) == (st.st_mode & S_IFMT);
}

std::string temporaryName(std::string_view name) {
    return std::string(name) + uniqueSuffix() + ".tmp";
}

}  // namespace brisko::image
