#pragma once
// What the image file layer's parts share: descriptors, regular files only,
// copies that never write through a link. Only image_file*.cpp include this.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/unique_fd.h"
#include "core/machine/file_api.h"

namespace brisko::image::files {

namespace fs = std::filesystem;

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

inline std::string parentOf(const std::string& host) {
    size_t slash = host.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : host.substr(0, slash);
}

inline bool writable(const struct stat& st) {
    return st.st_mode & S_IWUSR;
}

// Takes an opened descriptor only for a regular file (a device or pipe planted
// in the image is never read or written), and switches off the non-blocking
// mode it was opened with.
inline int regularOnly(int fd) {
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

inline bool copyData(int in, int out) {
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
inline bool copyInto(int in, int dirFd, const std::string& name, bool noReplace) {
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

inline std::string nameOf(const std::string& host) {
    size_t slash = host.rfind('/');
    return slash == std::string::npos ? host : host.substr(slash + 1);
}

inline bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

inline std::optional<char> driveLetter(std::string_view s) {
    if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return std::nullopt;
    std::string_view rest = s.substr(1);
    if (rest != "" && rest != ":" && rest != ":\\" && rest != ":/") return std::nullopt;
    return char(std::toupper(static_cast<unsigned char>(s[0])));
}

}  // namespace brisko::image::files
