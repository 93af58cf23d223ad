#pragma once
// The clean worker: runs the job list item by item on its own thread, writes
// the log, and posts WM_CLEAN_PROGRESS after each item and WM_CLEAN_DONE at the
// end. A stop request ends it at the next check without totals and without
// WM_CLEAN_DONE.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "cleaner/clean_context.h"

namespace brisko {

// What one item came to, for the CLI and the tests.
struct CleanItemResult {
    std::string caption;
    int64_t count = 0;
    int64_t bytes = 0;
    std::string sizeText;
    std::string error;  // set when the routine failed with an exception
};

inline constexpr size_t kSeparatorWidth = 107;
std::string separatorLine();  // 107 "-"

class TClearTaskThread {
  public:
    struct Inputs {
        Machine& machine;
        const TOptionsSetting& settings;  // copied
        int runMode = kRunTest;
        std::vector<std::string> jobs;  // log captions, in run order
        Prompter& prompter;
        CleanLogSink& log;
        MessageTarget* target = nullptr;
        const ItemTable* table = nullptr;  // null: builtinItemTable()
        const std::atomic<bool>* liveFastScan = nullptr;
        bool countPass = false;  // the hidden count of a Clean (CleanContext::CountPass)
    };

    // Created suspended, as the window creates it; start() runs it.
    explicit TClearTaskThread(Inputs inputs);
    ~TClearTaskThread();  // asks to stop and waits
    TClearTaskThread(const TClearTaskThread&) = delete;
    TClearTaskThread& operator=(const TClearTaskThread&) = delete;

    void start();
    void requestStop();
    void join();
    bool running() const { return started_ && !finished_.load(); }
    bool finished() const { return finished_.load(); }

    // The whole job on the calling thread (used by start(), and directly by
    // callers that want no thread).
    void Execute(std::stop_token stop);

    // Valid once finished.
    std::vector<CleanItemResult> results() const;
    bool completed() const { return completed_.load(); }  // ran to its totals
    int64_t totalCount() const;
    int64_t totalBytes() const;
    // Why the registry refused changes the run tried (a read-only hive): each
    // reason once, also written to the log. Nothing refused was counted.
    std::vector<std::string> refusals() const;

  private:
    void runItem(CleanContext& ctx, const std::string& caption);
    void logSummary(CleanContext& ctx);

    Inputs in_;
    const TOptionsSetting settings_;  // copied on the creating thread
    const ItemTable& table_;
    std::jthread thread_;
    bool started_ = false;
    std::atomic<bool> finished_{false};
    std::atomic<bool> completed_{false};
    mutable std::mutex resultsMutex_;
    std::vector<CleanItemResult> results_;
    std::vector<std::string> refusals_;
    int64_t totalCount_ = 0;
    int64_t totalBytes_ = 0;
};

// The totals line of a run: "Total items will be removed = N ; Total files will
// be removed = KB KB" (Test run) or with "to be removed".
std::string totalsLine(bool testRun, int64_t totalCount, int64_t totalBytes);

}  // namespace brisko
