#pragma once
// Restore points before the registry is changed: whether one is made, the
// worker that makes it, and the bar of the dialog that waits for it.
#include <atomic>
#include <memory>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/machine/machine.h"
#include "core/messages.h"

namespace brisko {

inline constexpr std::string_view kRestorePointDescription = "Made by Brisko Cleaner";
inline constexpr std::string_view kRestorePointFailedQuestion =
    "Restore Point creation Failed! Contiue to fix?";

// Whether the fix and the defrag make a restore point first: the option is
// on, the run is not unattended, and Windows has System Restore (XP to 8).
bool ShouldCreateRestorePoint(bool restorePointOption, int windowsVersionCode, bool unattended);

// Makes one restore point; false (and why, when the service says) when the
// machine has none or it was refused.
bool CreateRestorePoint(Machine& machine, std::string* why = nullptr);

// The dialog's bar after one timer tick: it creeps and slows, and stops at
// 100 until the worker reports.
int NextSystemPointBar(int position);

// After WM_RESTOREPOINT_DONE: whether the caller goes on. A refused restore
// point asks the user (Yes goes on, No stops; No is the default).
bool ContinueAfterRestorePoint(intptr_t lParam, Prompter& prompter);

// Makes the restore point on its own thread and posts WM_RESTOREPOINT_DONE
// (lParam 0 made, 1 not) to its target. The target must outlive the worker,
// or be detached first (QtMessageTarget): an abandoned worker posts into
// nothing. Destroying the worker waits for it.
class TCreateSystemPointThread {
  public:
    TCreateSystemPointThread(Machine& machine, std::shared_ptr<MessageTarget> target);
    ~TCreateSystemPointThread();
    void start();
    bool finished() const { return finished_.load(); }

  private:
    Machine& machine_;
    std::shared_ptr<MessageTarget> target_;
    std::atomic<bool> finished_{false};
    std::jthread thread_;
};

}  // namespace brisko
