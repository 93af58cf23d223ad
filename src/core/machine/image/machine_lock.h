#pragma once
// The lock a process holds on a machine while it changes the machine's
// registry: an flock on the machine folder itself, so no lock file is left on
// the disk and a read-only disk can be locked too. Each MachineLock opens the
// folder anew, so two locks exclude each other in one process as well as
// across processes, and the lock goes with a process that dies.
#include <chrono>
#include <filesystem>
#include <string>

#include "base/unique_fd.h"

namespace brisko {

inline constexpr std::chrono::milliseconds kMachineLockWait{5000};

class MachineLock {
  public:
    explicit MachineLock(std::filesystem::path machineFolder);
    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

    // Takes the lock, waiting up to `wait` for another writer to finish. False
    // with a reason for a person when it stays taken or cannot be made.
    bool acquire(std::chrono::milliseconds wait, std::string* error = nullptr);
    void release();
    bool held() const { return held_; }
    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
    UniqueFd fd_;
    bool held_ = false;
};

// What a writer is told when another one keeps the machine.
inline constexpr const char* kMachineBusyMessage =
    "Another program is changing the registry of this machine; try again when it has finished.";

}  // namespace brisko
