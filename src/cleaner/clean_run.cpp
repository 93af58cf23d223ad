#include "cleaner/clean_run.h"

#include <algorithm>

#include "cleaner/clean_catalog.h"
#include "core/check_tree.h"
#include "core/machine/machine.h"

namespace brisko {

// Stamps every message of one run with the run's serial number, so that a
// message still queued from a cancelled run cannot act on the next one.
class CleanRunController::StampedTarget : public MessageTarget {
  public:
    StampedTarget(MessageTarget& window, intptr_t serial) : window_(window), serial_(serial) {}
    void post(uint32_t msg, uintptr_t wParam, intptr_t) override {
        window_.post(msg, wParam, serial_);
    }

  private:
    MessageTarget& window_;
    const intptr_t serial_;
};

CleanRunController::CleanRunController(Inputs inputs) : in_(std::move(inputs)) {
    fastScan_ = in_.settings.FastScan;
}

CleanRunController::~CleanRunController() {
    worker_.reset();  // stops and waits before the target goes
    target_.reset();
}

void CleanRunController::setRunMode(int mode) {
    if (!busy_) runMode_ = mode;
}

bool CleanRunController::selectionHasGroup(std::string_view group) const {
    const CheckNode* node = in_.cleanTree.topLevelByCaption(group);
    if (!node) return false;
    // A group read from the settings file is not recomputed from its items, so
    // an item checked under an unchecked group still counts.
    if (node->checked) return true;
    return std::any_of(node->children.begin(), node->children.end(),
                       [](const auto& c) { return c->checked; });
}

bool CleanRunController::browserBlocks() {
    auto& m = in_.machine;
    if (selectionHasGroup("Mozilla Firefox") && (!m.findWindows("MozillaUIWindowClass").empty() ||
                                                 !m.findWindows("MozillaWindowClass").empty())) {
        in_.prompter.ask(kCloseFirefoxText, MB_OK | MB_ICONINFORMATION);
        return true;
    }
    if (selectionHasGroup("Google Chrome") && !m.findWindows("Chrome_WidgetWin_1").empty()) {
        in_.prompter.ask(kCloseChromeText, MB_OK | MB_ICONINFORMATION);
        return true;
    }
    return false;
}

void CleanRunController::setBar(int position, std::string text, bool shown) {
    barPosition_ = position;
    barText_ = std::move(text);
    barTextShown_ = shown;
    in_.view.setProgress(position);
    in_.view.setProgressText(barText_, shown);
}

void CleanRunController::restoreAfterHiddenPass() {
    logHidden_ = false;
    in_.view.setLogTextHidden(false);
    in_.settings.FastScan = savedFastScan_;
    fastScan_ = savedFastScan_;
    hiddenPass_ = false;
}

void CleanRunController::waitForWorker() {
    if (worker_) worker_->join();
}

StartResult CleanRunController::StartCleanRun() {
    jobList_ = checkedJobCaptions(in_.cleanTree);
    if (jobList_.empty()) {
        if (runMode_ != kRunUnattended)
            in_.prompter.ask(kSelectSectionsText, MB_OK | MB_ICONINFORMATION);
        return StartResult::NothingSelected;
    }
    if (busy_) return StartResult::Busy;
    if (worker_) {
        // A worker past its totals is ending; one that was cancelled may still
        // be on its current entry and must end before another run begins.
        if (worker_->completed() || worker_->finished())
            worker_->join();
        else
            return StartResult::Busy;
    }
    if (runMode_ != kRunCleanPass) {
        if (runMode_ != kRunTest && browserBlocks()) return StartResult::BrowserRunning;
        busy_ = true;
        if (in_.settings.IsAskBeforeClear && runMode_ != kRunTest && !AutoClearRun &&
            !in_.view.confirmClean()) {
            busy_ = false;
            return StartResult::NotConfirmed;
        }
    }
    busy_ = true;
    testCaption_ = "Cancel";
    in_.view.setTestButtonCaption(testCaption_);
    in_.view.showProgressBar();
    if (runMode_ == kRunCleanRequest) {
        logHidden_ = true;
        in_.view.setLogTextHidden(true);
        setBar(barPosition_, std::string(kPrepareToClean), true);
        savedFastScan_ = in_.settings.FastScan;
        in_.settings.FastScan = true;
        fastScan_ = true;
        runMode_ = kRunTest;
        hiddenPass_ = true;
    } else {
        // Empty text: the bar shows its percentage, during a clean pass only.
        setBar(0, std::string(), runMode_ == kRunCleanPass);
    }
    in_.view.clearLog();
    in_.view.setLogDoubleBuffered(true);

    worker_.reset();
    target_ = std::make_unique<StampedTarget>(in_.window, ++serial_);
    worker_ = std::make_unique<TClearTaskThread>(
        TClearTaskThread::Inputs{in_.machine, in_.settings, runMode_, jobList_, in_.prompter,
                                 in_.log, target_.get(), in_.table, &fastScan_, hiddenPass_});
    worker_->start();

    timerStep_ = runMode_ == kRunTest ? 50 : 20;
    timerOn_ = runMode_ == kRunTest && !logHidden_;
    if (timerOn_) in_.view.setAnimationTimer(true);
    return StartResult::Started;
}

StartResult CleanRunController::bTestClick() {
    if (testCaption_ != "Cancel") {
        setRunMode(kRunTest);
        return StartCleanRun();
    }
    cancel();
    return StartResult::Busy;
}

StartResult CleanRunController::bCleanClick() {
    if (busy_) return StartResult::Busy;
    preCountTotal_ = 0;
    runMode_ = kRunCleanRequest;
    return StartCleanRun();
}

void CleanRunController::cbFastModeClick(bool checked) {
    in_.settings.FastScan = checked;
    fastScan_ = checked;
}

StartResult CleanRunController::startUnattendedClean() {
    if (busy_) return StartResult::Busy;
    runMode_ = kRunUnattended;
    return StartCleanRun();
}

void CleanRunController::cancel() {
    testCaption_ = "Test";
    in_.view.setTestButtonCaption(testCaption_);
    in_.view.setLogDoubleBuffered(false);
    if (worker_) worker_->requestStop();
    timerOn_ = false;
    in_.view.setAnimationTimer(false);
    busy_ = false;
    if (hiddenPass_) restoreAfterHiddenPass();
    // The bar stays where the run stopped and says that it was cancelled.
    setBar(barPosition_, std::string(kCancelled), true);
    ++serial_;  // whatever the cancelled run still has queued is dropped
}

void CleanRunController::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (lParam != serial_) return;
    switch (msg) {
        case WM_CLEAN_PROGRESS:
            if (runMode_ == kRunCleanPass && preCountTotal_ != 0) {
                uint64_t pos =
                    static_cast<uint64_t>(wParam) * 1000 / static_cast<uint64_t>(preCountTotal_);
                barPosition_ = static_cast<int>(std::min<uint64_t>(pos, 1000));
                in_.view.setProgress(barPosition_);
            }
            break;
        case WM_CLEAN_DONE:
            if (hiddenPass_) {
                preCountTotal_ = static_cast<int64_t>(wParam);
                in_.view.clearLog();
                target_->post(WM_CLEAN_PASS, 0, 0);
                break;
            }
            testCaption_ = "Test";
            in_.view.setTestButtonCaption(testCaption_);
            in_.view.setLogDoubleBuffered(false);
            in_.view.fitLogAndScrollToEnd();
            timerOn_ = false;
            in_.view.setAnimationTimer(false);
            setBar(1000, std::string(kFinished), true);
            busy_ = false;
            break;
        case WM_CLEAN_PASS:
            if (!hiddenPass_) break;
            restoreAfterHiddenPass();
            runMode_ = kRunCleanPass;
            busy_ = false;
            waitForWorker();  // it posted its last message and is ending
            if (StartCleanRun() != StartResult::Started) {
                testCaption_ = "Test";
                in_.view.setTestButtonCaption(testCaption_);
            }
            break;
        default:
            break;
    }
}

void CleanRunController::onTimer() {
    if (!timerOn_) return;
    barPosition_ += timerStep_;
    if (barPosition_ >= 1000) barPosition_ = 0;
    in_.view.setProgress(barPosition_);
    if (barTextShown_ && barText_ == kFinished) {
        timerOn_ = false;
        in_.view.setAnimationTimer(false);
    }
}

// --- Message queue -------------------------------------------------------------

void MessageQueue::post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({msg, wParam, lParam});
    }
    cv_.notify_one();
}

std::optional<PostedMessage> MessageQueue::next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return !queue_.empty(); })) return std::nullopt;
    PostedMessage m = queue_.front();
    queue_.pop_front();
    return m;
}

size_t MessageQueue::pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

bool runMessageLoop(CleanRunController& controller, MessageQueue& queue,
                    const std::function<bool()>& keepGoing) {
    while (controller.Busy()) {
        if (keepGoing && !keepGoing()) return false;
        if (auto m = queue.next(std::chrono::milliseconds(100)))
            controller.handleMessage(m->msg, m->wParam, m->lParam);
    }
    return true;
}

}  // namespace brisko
