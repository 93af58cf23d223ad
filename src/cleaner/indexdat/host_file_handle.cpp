#include "cleaner/indexdat/host_file_handle.h"

#ifdef _WIN32
#include <cstdio>
#include <filesystem>

namespace brisko {

namespace {

// Windows has no devices or pipes among the paths a user passes here that a
// regular-file check would not catch, so stdio serves.
class HostFile : public FileHandle {
  public:
    explicit HostFile(std::FILE* f) : f_(f) {}
    ~HostFile() override { std::fclose(f_); }
    int64_t size() override {
        int64_t at = _ftelli64(f_);
        if (_fseeki64(f_, 0, SEEK_END) != 0) return -1;
        int64_t n = _ftelli64(f_);
        _fseeki64(f_, at, SEEK_SET);
        return n;
    }
    bool seek(int64_t offset) override {
        return offset >= 0 && _fseeki64(f_, offset, SEEK_SET) == 0;
    }
    int64_t read(void* buf, int64_t n) override {
        size_t k = std::fread(buf, 1, size_t(n), f_);
        return k == 0 && std::ferror(f_) ? -1 : int64_t(k);
    }
    int64_t write(const void* buf, int64_t n) override {
        size_t k = std::fwrite(buf, 1, size_t(n), f_);
        return k == 0 && n > 0 ? -1 : int64_t(k);
    }
    bool flush() override { return std::fflush(f_) == 0; }

  private:
    std::FILE* f_;
};

}  // namespace

std::unique_ptr<FileHandle> openHostFile(const std::string& path, FileMode mode, std::string* why) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), ec)) {
        if (why) *why = "not a regular file";
        return nullptr;
    }
    std::FILE* f = std::fopen(path.c_str(), mode == FileMode::ReadWrite ? "r+b" : "rb");
    if (!f) {
        if (why) *why = "cannot be opened";
        return nullptr;
    }
    return std::make_unique<HostFile>(f);
}

}  // namespace brisko

#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/unique_fd.h"

namespace brisko {

namespace {

class HostFile : public FileHandle {
  public:
    explicit HostFile(UniqueFd fd) : fd_(std::move(fd)) {}
    int64_t size() override {
        struct stat st {};
        return ::fstat(fd_.get(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    }
    bool seek(int64_t offset) override {
        if (offset < 0) return false;
        pos_ = offset;
        return true;
    }
    int64_t read(void* buf, int64_t n) override {
        int64_t done = 0;
        while (done < n) {
            ssize_t k =
                ::pread(fd_.get(), static_cast<char*>(buf) + done, size_t(n - done), pos_ + done);
            if (k < 0 && errno == EINTR) continue;
            if (k < 0) return done > 0 ? done : -1;
            if (k == 0) break;
            done += k;
        }
        pos_ += done;
        return done;
    }
    int64_t write(const void* buf, int64_t n) override {
        int64_t done = 0;
        while (done < n) {
            ssize_t k = ::pwrite(fd_.get(), static_cast<const char*>(buf) + done, size_t(n - done),
                                 pos_ + done);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) return done > 0 ? done : -1;
            done += k;
        }
        pos_ += done;
        return done;
    }
    bool flush() override { return ::fsync(fd_.get()) == 0; }

  private:
    UniqueFd fd_;
    int64_t pos_ = 0;
};

}  // namespace

std::unique_ptr<FileHandle> openHostFile(const std::string& path, FileMode mode, std::string* why) {
    int flags = (mode == FileMode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    UniqueFd fd(::open(path.c_str(), flags));
    if (fd.get() < 0) {
        if (why) *why = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (why) *why = "not a regular file";
        return nullptr;
    }
    // Reads and writes of a regular file never block; the flag only kept a
    // FIFO from holding the open.
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<HostFile>(std::move(fd));
}

}  // namespace brisko

#endif
