#pragma once
// The Registry pane without its widgets: starting and cancelling a scan, the
// end-of-scan handling, the problem list with its checks and actions, and the
// texts the pane shows. A window (or the CLI) mirrors this state and forwards
// button clicks, timer ticks and the worker's messages to it.
//
// Threads: every method is for the UI thread, except that the worker writes
// the title, the key display and the rows through the ScanDisplay side, which
// is guarded; `changed` may therefore be called on the worker thread.
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/machine/registry_view.h"
#include "core/messages.h"
#include "registry/problem_filter.h"
#include "registry/problem_list.h"
#include "registry/registry_fix.h"
#include "registry/scan_task_thread.h"

namespace brisko {

struct TOptionsSetting;

inline constexpr std::string_view kScanCaption = "Scan";
inline constexpr std::string_view kCancelCaption = "Cancel";
inline constexpr std::string_view kScanIdleTitle = "Select the sections to scan";
inline constexpr std::string_view kNoSectionsText =
    "Please select the sections which you want to scan from the left list.";
inline constexpr std::string_view kPreparingCaption = "Prepairing...";
inline constexpr std::string_view kFinishedCaption = "Finished!";
inline constexpr std::string_view kCancelledCaption = "Cancelled";
inline constexpr int kProgressMax = 1000;
inline constexpr int kProgressTimerMs = 500;
// Widths of the columns "Problem", "Data", "Registry key" for an empty list,
// as shares of the list's width.
inline constexpr int kColumnShares[3] = {100, 190, 140};
inline constexpr int kColumnShareBase = 450;

struct ScanRunHooks {
    // The pane's state changed. May be called on the worker thread.
    std::function<void()> changed;
    // Started with "/Clear" and nothing to scan: the window closes.
    std::function<void()> closeWindow;
    // Started with "/Clear" and the scan has ended: fix the checked rows, then close.
    std::function<void()> autoFixAndClose;
};

class ScanRun : private ScanDisplay {
  public:
    // settings supplies IncludeRemoveMedia and the ignore lists, and takes the
    // entries of "Add to Ignore Lists". The prompter shows the no-section box.
    ScanRun(Machine& machine, TOptionsSetting& settings, int windowsVersionCode,
            MessageTarget& target, Prompter& prompter,
            const ScannerTable& scanners = defaultScannerTable());
    ~ScanRun() override;

    ScanRunHooks hooks;
    bool autoClearRun = false;  // started with "/Clear"

    // bScanClick: starts a scan over the section codes, or cancels the running one.
    void scanButtonClick(const std::vector<int>& sections);
    // False when nothing was started (no section selected).
    bool start(const std::vector<int>& sections);
    // A caller that only passes the rows on (the CLI printing them) has them
    // handed over as they are found, filtered and checked, on the worker's
    // thread, instead of kept in the list: rowCount() and the status line
    // count them all the same. Set before start(); empty keeps them.
    using RowSink = std::function<void(RegistryProblem&& row)>;
    void handRowsTo(RowSink sink) { sink_ = std::move(sink); }
    // Stops the worker without finishing its section and ends the scan at once:
    // the partial result is checked and filtered like a finished one.
    void cancel();
    // WM_REGSCAN_SECTION and WM_REGSCAN_DONE from the worker; other numbers
    // are ignored. A late WM_REGSCAN_DONE (after a cancel) does nothing.
    void handleMessage(uint32_t msg);
    // The 500 ms progress timer.
    void progressTick();

    // Pane state.
    bool scanning() const { return scanning_; }
    std::string_view buttonCaption() const { return scanning_ ? kCancelCaption : kScanCaption; }
    std::string titleText() const;
    std::string keyText() const;
    bool keyDisplayVisible() const { return keyVisible_; }
    bool restoreVisible() const { return restoreVisible_; }
    bool progressVisible() const { return progressVisible_; }
    bool progressTimerRunning() const { return timerRunning_; }
    int progressPosition() const { return progressPosition_; }
    int progressStep() const { return progressStep_; }
    std::string_view progressCaption() const { return progressCaption_; }
    std::string statusText() const;
    // Sections that failed in the last scan, with a note for each.
    std::vector<ScanFailure> failures() const { return failures_; }
    const TScanTaskThread* worker() const { return worker_.get(); }

    // The problem list.
    std::vector<RegistryProblem> rows() const;
    size_t rowCount() const;
    std::optional<RegistryProblem> row(size_t i) const;
    void setRowChecked(size_t i, bool checked);  // a click on a row's check box
    void removeRow(size_t i);                    // the fix removes what it fixed
    // The end of "Fix Errors": the rows the fix took away leave the list,
    // what its deletions left behind joins it unchecked, the whole is
    // filtered again, and the bar reads "Fix errors finished!".
    void fixFinished(const FixReport& report);
    // The line under the list after a fix that left entries behind; empty
    // otherwise, and again once a new scan starts.
    const std::string& fixNote() const { return fixNote_; }
    // The last scan's sections scanned again on this thread, checked and
    // filtered like a finished scan; the list is left as it is. What Fix
    // Errors uses to find what its own deletions left behind.
    std::vector<RegistryProblem> scanAgain() const;
    std::optional<size_t> selectedRow() const { return selected_; }
    void setSelectedRow(std::optional<size_t> i);
    bool rowSelected() const { return selected_.has_value(); }

    // List actions; each refreshes the status line.
    void selectAll();
    void selectNone();
    void selectItem();
    void deselectItem();
    void selectAllOfType();
    void deselectAllOfType();
    // "Add to &Ignore Lists" for the selected row. Returns the rows removed.
    size_t addToIgnoreLists();
    bool actionEnabled(std::string_view action) const;

  private:
    void showTitle(std::string_view text) override;
    void showKey(std::string_view text) override;
    void addProblem(RegistryProblem row) override;

    void finishScan(bool cancelled = false);
    void notify();
    // Frees the filter of the ended scan on a thread of its own.
    void retireFilter();

    Machine& machine_;
    TOptionsSetting& settings_;
    int windowsVersionCode_;
    MessageTarget& target_;
    Prompter& prompter_;
    const ScannerTable& scanners_;

    bool scanning_ = false;
    bool keyVisible_ = false;
    bool restoreVisible_ = true;
    bool progressVisible_ = false;
    bool timerRunning_ = false;
    int progressPosition_ = 0;
    int progressStep_ = 10;
    size_t sectionCount_ = 0;  // of the running scan, those with a scanner
    size_t sectionsDone_ = 0;
    std::vector<bool> sectionScans_;  // per code given: whether it has a scanner
    size_t sectionMessages_ = 0;      // WM_REGSCAN_SECTION received
    std::string progressCaption_;
    std::optional<size_t> selected_;
    std::vector<ScanFailure> failures_;
    std::string fixNote_;

    mutable std::mutex mutex_;  // guards what the worker writes
    std::string title_{kScanIdleTitle};
    std::string key_;
    std::vector<RegistryProblem> rows_;
    // The end-of-scan filter, run as the rows arrive (a cancel of a long scan
    // then only drops what is marked); keep_ follows rows_ while scanning.
    std::unique_ptr<ViewRegistry> filterView_;
    std::unique_ptr<ProblemFilter> filter_;
    std::vector<bool> keep_;
    RowSink sink_;
    size_t handed_ = 0;  // rows given to sink_ in this scan
    // A filter remembers every row a scan found, to drop repeats; a long
    // scan's takes a good part of a second to free, which the window
    // would otherwise spend between Cancel and the list.
    std::thread retiring_;

    std::unique_ptr<TScanTaskThread> worker_;
};

}  // namespace brisko
