#pragma once
// The started registry editor as each platform runs it; RegeditProcess keeps
// the state every platform shares (ended, stopped, exit code).
#include <optional>
#include <string>

namespace brisko {

class ChildProcess {
  public:
    virtual ~ChildProcess() = default;
    // A wait with zero time-out: the exit code once the process has ended.
    virtual std::optional<int> poll() = 0;
    // Ends the process and waits until it is gone.
    virtual void kill() = 0;
    virtual std::string errorOutput() const = 0;
};

}  // namespace brisko
