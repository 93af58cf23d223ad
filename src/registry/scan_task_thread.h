#pragma once
// The registry scan worker: runs the scanners of the selected sections one
// after the other on its own thread, writes the two displays and the problem
// list through a ScanDisplay, and posts WM_REGSCAN_SECTION after each section
// and WM_REGSCAN_DONE at the end.
#include <atomic>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/messages.h"
#include "registry/scan_context.h"

namespace brisko {

inline constexpr std::string_view kScanOptimizingText = "Optimizing...Do not close the dialog.";
inline constexpr std::string_view kScanPleaseWaitText = "Please wait...";

// How far the progress animation moves per timer tick: the more of the long
// sections (the four hive walks and Empty Keys) are selected, the slower.
int scanProgressStep(const std::vector<int>& sections);

// A section whose scanner failed; the scan went on without it.
struct ScanFailure {
    int code = 0;
    std::string message;
};

class TScanTaskThread {
  public:
    // Nothing runs until start(). The machine, display and target must outlive
    // the worker; the scanner table is copied.
    TScanTaskThread(Machine& machine, ScanEnvironment env, std::vector<int> sections,
                    const ScannerTable& scanners, ScanDisplay& display, MessageTarget& target);
    // Stops the worker and waits for it.
    ~TScanTaskThread();
    TScanTaskThread(const TScanTaskThread&) = delete;
    TScanTaskThread& operator=(const TScanTaskThread&) = delete;

    void start();
    // Asks the running section to stop and waits until the thread has ended.
    // Nothing more is posted after a stop.
    void stopAndWait();
    void join();

    // Execute has returned (normally or stopped).
    bool finished() const { return finished_.load(std::memory_order_acquire); }
    // WM_REGSCAN_DONE was posted.
    bool completed() const { return completed_.load(std::memory_order_acquire); }
    const std::vector<int>& sections() const { return sections_; }
    const ScanEnvironment& environment() const { return env_; }
    std::vector<ScanFailure> failures() const;

    // The job itself; start() runs it on the worker thread. Public so a caller
    // without threads can run a scan in place.
    void Execute(std::stop_token stop);

  private:
    void runSection(ScanContext& ctx, int code);

    Machine& machine_;
    const ScanEnvironment env_;
    const std::vector<int> sections_;
    const ScannerTable scanners_;
    ScanDisplay& display_;
    MessageTarget& target_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> completed_{false};
    mutable std::mutex failuresMutex_;
    std::vector<ScanFailure> failures_;
    std::jthread thread_;  // last: stopped and joined before the members above go
};

// The note shown when a section's scanner failed.
std::string scanFailureNote(int code, std::string_view what);

}  // namespace brisko
