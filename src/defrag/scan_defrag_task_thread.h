#pragma once
// The analysis worker: writes a compact copy (".fdc") of each hive beside its
// file, reads it back and compares it with the hive, and reports after each
// hive with WM_HIVECOPY_DONE; at the end it closes the dialog with WM_CLOSE.
// It works on its own copies of the hive list. The stop request is looked at
// before each hive, never during one.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/messages.h"
#include "defrag/hive_list.h"

namespace brisko {

class Machine;

// The dialog's close request, as Windows numbers it.
inline constexpr uint32_t kWmClose = 0x0010;

// The dialog's one-line status: the hive being copied, then "Finish".
class StatusLine {
  public:
    void set(std::string text) {
        std::lock_guard lock(mutex_);
        text_ = std::move(text);
    }
    std::string get() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_ = "Registry Key";
};

inline constexpr std::string_view kAnalysisFinished = "Finish";

// What became of one hive's copy.
struct HiveCopyOutcome {
    bool made = false;    // the copy exists and holds exactly what the hive holds
    std::string problem;  // why it was not made or must not be used; empty when made
    // The copy would not have been smaller than the hive: it was deleted, and
    // the hive is left as it is (reduction 0%, nothing scheduled).
    bool alreadyCompact = false;
};

inline constexpr std::string_view kAlreadyCompact = "already compact";

// RegSaveKey of the hive named like "\REGISTRY\MACHINE\SOFTWARE" into
// `target` (deleted first), then the copy is compared with the hive. A copy
// that differs is deleted.
HiveCopyOutcome SaveHiveCopy(Machine& machine, std::string_view hiveName, std::string_view target,
                             bool isWow64);

class TScanDefragTaskThread {
  public:
    TScanDefragTaskThread(Machine& machine, std::vector<HiveEntry> hives, bool isWow64,
                          std::shared_ptr<MessageTarget> target,
                          std::shared_ptr<StatusLine> status);
    ~TScanDefragTaskThread();  // waits for the hive in progress

    void start();
    void stop() { stopRequested_ = true; }
    bool finished() const { return finished_.load(); }
    // Valid once finished(): one outcome per hive copied (fewer after Stop).
    std::vector<HiveCopyOutcome> outcomes() const;

  private:
    void Execute(std::stop_token stop);

    Machine& machine_;
    std::vector<HiveEntry> hives_;
    bool wow64_;
    std::shared_ptr<MessageTarget> target_;
    std::shared_ptr<StatusLine> status_;
    mutable std::mutex mutex_;
    std::vector<HiveCopyOutcome> outcomes_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> stopRequested_{false};  // may come before the thread starts
    std::jthread thread_;
};

}  // namespace brisko
