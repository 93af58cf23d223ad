#include "core/machine/image/machine_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace brisko {

MachineLock::MachineLock(std::filesystem::path machineFolder) : folder_(std::move(machineFolder)) {}

bool MachineLock::acquire(std::chrono::milliseconds wait, std::string* error) {
    if (held_) return true;
    if (fd_.get() < 0) {
        int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            if (error)
                *error = "Cannot lock the machine for writing (" +
                         std::string(std::strerror(errno)) + "): " + folder_.string();
            return false;
        }
        fd_ = UniqueFd(fd);
    }
    auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            if (error)
                *error = "Cannot lock the machine for writing (" +
                         std::string(std::strerror(errno)) + "): " + folder_.string();
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (error) *error = kMachineBusyMessage;
    return false;
}

void MachineLock::release() {
    if (!held_) return;
    ::flock(fd_.get(), LOCK_UN);
    held_ = false;
}

}  // namespace brisko
