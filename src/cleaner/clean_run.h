#pragma once
// The Cleaner pane's run logic without its widgets: which items run, the Test,
// Cancel and Clean buttons, the hidden count pass of a Clean button run, the
// browser checks, the confirmation, and the pane's side of the worker's
// messages. The Qt pane implements CleanRunView and forwards its clicks,
// timer ticks and posted messages here; the CLI and the tests do the same
// with a MessageQueue.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cleaner/clean_context.h"
#include "cleaner/clear_task_thread.h"
#include "core/messages.h"

namespace brisko {

class CheckTree;

// The widgets a run changes. Every call comes on the thread that drives the
// controller (the window's).
class CleanRunView {
  public:
    virtual ~CleanRunView() = default;
    // The confirmation dialog ("Run Cleaner"); true when closed with OK.
    virtual bool confirmClean() { return false; }
    virtual void setTestButtonCaption(std::string_view /*caption*/) {}  // "Test" / "Cancel"
    virtual void showProgressBar() {}
    virtual void setProgress(int /*position*/) {}  // 0..1000
    // text empty: the bar shows its percentage.
    virtual void setProgressText(std::string_view /*text*/, bool /*shown*/) {}
    // The hidden count pass paints the log's text in its background colour.
    virtual void setLogTextHidden(bool /*hidden*/) {}
    virtual void clearLog() {}
    virtual void setLogDoubleBuffered(bool /*on*/) {}
    // Horizontal scroll extent = widest line + 10 pixels, then scroll to the end.
    virtual void fitLogAndScrollToEnd() {}
    virtual void setAnimationTimer(bool /*enabled*/) {}  // 500 ms ticks -> onTimer()
};

inline constexpr std::string_view kPrepareToClean = "Prepare to clean...";
inline constexpr std::string_view kFinished = "Finished!";
inline constexpr std::string_view kCancelled = "Cancelled";
inline constexpr std::string_view kSelectSectionsText =
    "Please select the sections which you want to scan from the left list.";
inline constexpr std::string_view kCloseFirefoxText = "Please close Mozilla Firefox first!";
inline constexpr std::string_view kCloseChromeText = "Please close Google Chrome first!";

enum class StartResult {
    Started,
    NothingSelected,
    Busy,            // a run is being prepared or running, or a cancelled one is still ending
    BrowserRunning,  // Firefox or Chrome is open and would be cleaned
    NotConfirmed,
};

class CleanRunController {
  public:
    struct Inputs {
        Machine& machine;
        TOptionsSetting& settings;  // the window's; FastScan is switched for the hidden pass
        CheckTree& cleanTree;
        CleanRunView& view;
        Prompter& prompter;                // message boxes, and the worker's questions
        CleanLogSink& log;                 // the pane's log
        MessageTarget& window;             // where the worker's and the pane's messages go
        const ItemTable* table = nullptr;  // null: builtinItemTable()
    };

    explicit CleanRunController(Inputs inputs);
    ~CleanRunController();  // asks a running worker to stop and waits for it

    // The run flags of the window.
    bool Busy() const { return busy_; }
    int RunMode() const { return runMode_; }
    int64_t PreCountTotal() const { return preCountTotal_; }
    const std::vector<std::string>& JobList() const { return jobList_; }
    int TimerStep() const { return timerStep_; }
    bool AutoClearRun = false;  // "/Clear": no confirmation

    // The mode the next StartCleanRun uses; ignored while Busy, because the
    // worker reads it for its whole run.
    void setRunMode(int mode);
    StartResult StartCleanRun();

    // Test, or Cancel while a run is going (then the result is Busy).
    StartResult bTestClick();
    StartResult bCleanClick();  // ignored (Busy) while a run is going
    void cbFastModeClick(bool checked);
    void cancel();
    // An unattended clean (schedule, "/Auto", "/Clear", end of logon).
    StartResult startUnattendedClean();

    // Messages posted by the worker (0x5408, 0x5409) and by the pane itself
    // (0x5430); anything else is ignored. Messages of an earlier run are dropped.
    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void onTimer();

    int progressPosition() const { return barPosition_; }
    const std::string& progressText() const { return barText_; }
    bool progressTextShown() const { return barTextShown_; }
    bool hiddenPassRunning() const { return hiddenPass_; }
    bool workerAlive() const { return worker_ && !worker_->finished(); }
    // The last worker (results and totals once it has finished); may be null.
    const TClearTaskThread* lastWorker() const { return worker_.get(); }
    void waitForWorker();

  private:
    class StampedTarget;
    bool selectionHasGroup(std::string_view group) const;
    bool browserBlocks();
    void setBar(int position, std::string text, bool shown);
    void restoreAfterHiddenPass();

    Inputs in_;
    bool busy_ = false;
    int runMode_ = kRunTest;
    int64_t preCountTotal_ = 0;
    std::vector<std::string> jobList_;
    int timerStep_ = 50;
    bool timerOn_ = false;
    bool hiddenPass_ = false;  // the hidden count of a Clean button run is the running pass
    bool logHidden_ = false;
    bool savedFastScan_ = false;
    std::atomic<bool> fastScan_{false};
    int barPosition_ = 0;
    std::string barText_;
    bool barTextShown_ = false;
    std::string testCaption_ = "Test";
    intptr_t serial_ = 0;
    std::unique_ptr<StampedTarget> target_;
    std::unique_ptr<TClearTaskThread> worker_;
};

// A posted message, as the CLI and the tests carry them.
struct PostedMessage {
    uint32_t msg = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
};

// A thread-safe message queue: the window's message loop for front ends without one.
class MessageQueue : public MessageTarget {
  public:
    void post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) override;
    // The next message, waiting at most `timeout`.
    std::optional<PostedMessage> next(std::chrono::milliseconds timeout);
    size_t pending() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<PostedMessage> queue_;
};

// Delivers queued messages to the controller until it is no longer Busy, or
// until keepGoing (called between messages) returns false. True when the run
// ended on its own.
bool runMessageLoop(CleanRunController& controller, MessageQueue& queue,
                    const std::function<bool()>& keepGoing = {});

}  // namespace brisko
