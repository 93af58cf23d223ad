#include "registry/scan_task_thread.h"

#include <algorithm>
#include <exception>

#include "registry/section_tree.h"

namespace brisko {

int scanProgressStep(const std::vector<int>& sections) {
    static constexpr int kLong[] = {kSecClassesRoot, kSecCurrentUser, kSecLocalMachine, kSecUsers,
                                    kSecEmptyKeys};
    static constexpr int kSteps[] = {10, 5, 4, 3, 2, 1};
    int count = 0;
    for (int code : kLong)
        if (std::find(sections.begin(), sections.end(), code) != sections.end()) ++count;
    return kSteps[count];
}

std::string scanFailureNote(int code, std::string_view what) {
    std::string caption(sectionCaption(code));
    if (caption.empty()) caption = std::to_string(code);
    std::string note = "Skipped \"" + caption + "\": the section could not be scanned";
    if (!what.empty()) note += " (" + std::string(what) + ")";
    return note + ".";
}

TScanTaskThread::TScanTaskThread(Machine& machine, ScanEnvironment env, std::vector<int> sections,
                                 const ScannerTable& scanners, ScanDisplay& display,
                                 MessageTarget& target)
    : machine_(machine),
      env_(std::move(env)),
      sections_(std::move(sections)),
      scanners_(scanners),
      display_(display),
      target_(target) {}

TScanTaskThread::~TScanTaskThread() {
    stopAndWait();
}

void TScanTaskThread::start() {
    if (thread_.joinable() || finished()) return;
    thread_ = std::jthread([this](std::stop_token st) { Execute(st); });
}

void TScanTaskThread::stopAndWait() {
    if (!thread_.joinable()) return;
    thread_.request_stop();
    thread_.join();
}

void TScanTaskThread::join() {
    if (thread_.joinable()) thread_.join();
}

std::vector<ScanFailure> TScanTaskThread::failures() const {
    std::lock_guard lock(failuresMutex_);
    return failures_;
}

void TScanTaskThread::runSection(ScanContext& ctx, int code) {
    const ScannerFn* scanner = scanners_.find(code);
    if (!scanner) return;  // grouping nodes and sections without a scanner
    std::string_view status = sectionStatusText(code);
    if (!status.empty()) ctx.showStatus(status);
    // A failing scanner costs its own section only: the rows it found stay,
    // the user is told, and the scan goes on to end with WM_REGSCAN_DONE.
    std::string what;
    try {
        (*scanner)(ctx);
        return;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    std::string note = scanFailureNote(code, what);
    {
        std::lock_guard lock(failuresMutex_);
        failures_.push_back({code, note});
    }
    display_.showTitle(note);
}

void TScanTaskThread::Execute(std::stop_token stop) {
    struct MarkFinished {
        std::atomic<bool>& flag;
        ~MarkFinished() { flag.store(true, std::memory_order_release); }
    } markFinished{finished_};

    ScanContext ctx(machine_, env_, sections_, display_, stop);
    display_.showTitle("");
    display_.showKey("");
    for (int code : sections_) {
        if (stop.stop_requested()) return;
        runSection(ctx, code);
        if (stop.stop_requested()) return;
        target_.post(WM_REGSCAN_SECTION, 0, 0);
    }
    display_.showTitle(kScanOptimizingText);
    display_.showKey(kScanPleaseWaitText);
    // Flags first: whoever handles the message may look at them.
    completed_.store(true, std::memory_order_release);
    finished_.store(true, std::memory_order_release);
    target_.post(WM_REGSCAN_DONE, 0, 0);
}

}  // namespace brisko
