#include "base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace brisko {

namespace fs = std::filesystem;

TempFileBeside::~TempFileBeside() {
    fd_ = UniqueFd();
    if (!keep_) ::unlink(path_.c_str());
}

bool TempFileBeside::fail(const std::string& what, std::string* error) {
    if (error) *error = what + " " + path_.string() + ": " + std::strerror(errno);
    return false;
}

bool TempFileBeside::createAt(const fs::path& path, const fs::path& file, std::string* error) {
    file_ = file;
    path_ = path;
    fd_ =
        UniqueFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd_.get() < 0) return fail("cannot create", error);
    keep_ = false;
    struct stat old {};
    if (::stat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)!::fchown(fd_.get(), old.st_uid, old.st_gid);
        ::fchmod(fd_.get(), old.st_mode & 07777);
    }
    return true;
}

bool TempFileBeside::create(const fs::path& file, std::string* error) {
    static std::atomic<unsigned> counter{0};
    fs::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    for (int attempt = 0;; ++attempt) {
        fs::path candidate = dir / ("." + file.filename().string() + ".tmp" +
                                    std::to_string(::getpid()) + "-" + std::to_string(counter++));
        if (createAt(candidate, file, error)) return true;
        if (errno != EEXIST || attempt == 100) return false;
    }
}

namespace {

// Writes all of `bytes` through `call(data, size, done)` (a write or pwrite
// of at most 1 GB), going on after short writes and interruptions. False,
// with errno set, when the file takes no more.
template <typename Call>
bool writeWhole(std::span<const uint8_t> bytes, Call call) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t n = call(bytes.data() + done, std::min<size_t>(bytes.size() - done, 1 << 30), done);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

bool TempFileBeside::write(std::span<const uint8_t> bytes, std::string* error) {
    int fd = fd_.get();
    return writeWhole(bytes,
                      [fd](const uint8_t* p, size_t n, size_t) { return ::write(fd, p, n); }) ||
           fail("cannot write", error);
}

bool TempFileBeside::writeAt(std::span<const uint8_t> bytes, uint64_t offset, std::string* error) {
    int fd = fd_.get();
    return writeWhole(bytes,
                      [fd, offset](const uint8_t* p, size_t n, size_t done) {
                          return ::pwrite(fd, p, n, off_t(offset + done));
                      }) ||
           fail("cannot write", error);
}

void TempFileBeside::startWriteOut(uint64_t offset, uint64_t size) {
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(fd_.get(), off_t(offset), off_t(size), SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)size;
#endif
}

bool TempFileBeside::finish(std::string* error) {
    if (::fsync(fd_.get()) != 0) return fail("cannot flush", error);
    if (::close(fd_.release()) != 0) return fail("cannot write", error);
    return true;
}

bool TempFileBeside::replace(std::string* error) {
    if (!renameDurably(path_, file_, error)) return false;
    keep_ = true;
    return true;
}

bool renameDurably(const fs::path& temp, const fs::path& file, std::string* error) {
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        if (error) *error = "cannot replace " + file.string() + ": " + std::strerror(errno);
        return false;
    }
    fs::path dir = file.parent_path();
    if (dir.empty()) dir = ".";
    UniqueFd dfd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dfd.get() >= 0) ::fsync(dfd.get());
    return true;
}

bool writeFileAtomically(const fs::path& file, std::span<const uint8_t> content,
                         std::string* error) {
    TempFileBeside temp;
    return temp.create(file, error) && temp.write(content, error) && temp.finish(error) &&
           temp.replace(error);
}

bool writeFileAtomically(const fs::path& file, std::string_view content, std::string* error) {
    return writeFileAtomically(
        file, std::span(reinterpret_cast<const uint8_t*>(content.data()), content.size()), error);
}

}  // namespace brisko
