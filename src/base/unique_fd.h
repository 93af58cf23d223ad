#pragma once
// A POSIX file descriptor that closes itself.
#include <unistd.h>

#include <utility>

namespace brisko {

struct UniqueFd {
    int fd = -1;

    explicit UniqueFd(int f = -1) : fd(f) {}
    ~UniqueFd() {
        if (fd >= 0) ::close(fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }
};

}  // namespace brisko
