#include "registry/scan_run.h"

#include <algorithm>

#include "core/machine/machine.h"
#include "core/settings.h"
#include "registry/leftover_scan.h"
#include "registry/problem_filter.h"

namespace brisko {

ScanRun::ScanRun(Machine& machine, TOptionsSetting& settings, int windowsVersionCode,
                 MessageTarget& target, Prompter& prompter, const ScannerTable& scanners)
    : machine_(machine),
      settings_(settings),
      windowsVersionCode_(windowsVersionCode),
      target_(target),
      prompter_(prompter),
      scanners_(scanners) {}

ScanRun::~ScanRun() {
    // The worker writes into this object: it must be gone first.
    if (worker_) worker_->stopAndWait();
    if (retiring_.joinable()) retiring_.join();
}

void ScanRun::retireFilter() {
    if (retiring_.joinable()) retiring_.join();
    keep_.clear();
    keep_.shrink_to_fit();
    if (!filter_ && !filterView_) return;
    retiring_ = std::thread([filter = std::move(filter_), view = std::move(filterView_)]() mutable {
        filter.reset();  // it holds the view: first
        view.reset();
    });
}

void ScanRun::notify() {
    if (hooks.changed) hooks.changed();
}

// --- what the worker writes -------------------------------------------------

void ScanRun::showTitle(std::string_view text) {
    {
        std::lock_guard lock(mutex_);
        title_ = text;
    }
    notify();
}

void ScanRun::showKey(std::string_view text) {
    {
        std::lock_guard lock(mutex_);
        key_ = text;
    }
    notify();
}

void ScanRun::addProblem(RegistryProblem row) {
    {
        std::lock_guard lock(mutex_);
        if (sink_) {
            // Filtered and checked now, as the end of the scan would.
            if (filter_ && !filter_->keep(row)) return;
            row.checked = true;
            ++handed_;
            sink_(std::move(row));
        } else {
            if (filter_) keep_.push_back(filter_->keep(row));
            rows_.push_back(std::move(row));
        }
    }
    notify();
}

std::string ScanRun::titleText() const {
    std::lock_guard lock(mutex_);
    return title_;
}

std::string ScanRun::keyText() const {
    std::lock_guard lock(mutex_);
    return key_;
}

// --- start, cancel, end -----------------------------------------------------

void ScanRun::scanButtonClick(const std::vector<int>& sections) {
    if (scanning_)
        cancel();
    else
        start(sections);
}

bool ScanRun::start(const std::vector<int>& sections) {
    if (scanning_) return false;
    restoreVisible_ = false;
    keyVisible_ = true;
    progressCaption_.clear();
    if (sections.empty()) {
        // Nothing starts, so the pane keeps its idle look.
        restoreVisible_ = true;
        keyVisible_ = false;
        if (autoClearRun) {
            if (hooks.closeWindow) hooks.closeWindow();
        } else {
            prompter_.ask(kNoSectionsText, MB_OK | MB_ICONINFORMATION);
        }
        notify();
        return false;
    }
    // The previous worker has ended (its scan was finished or cancelled).
    worker_.reset();
    {
        std::lock_guard lock(mutex_);
        rows_.clear();
        key_.clear();
        handed_ = 0;
    }
    selected_.reset();
    failures_.clear();
    fixNote_.clear();
    scanning_ = true;
    progressVisible_ = true;
    progressPosition_ = 0;
    progressStep_ = scanProgressStep(sections);
    // The group nodes ("My Computers", "Files and Folders") come with the
    // ticked sections but scan nothing: the bar counts only what scans.
    sectionScans_.clear();
    for (int code : sections) sectionScans_.push_back(scanners_.find(code) != nullptr);
    sectionCount_ = size_t(std::count(sectionScans_.begin(), sectionScans_.end(), true));
    sectionsDone_ = 0;
    sectionMessages_ = 0;
    bool ignoreRemovable = settings_.IncludeRemoveMedia;
    if (!ignoreRemovable) {
        // Probing the floppy drives can take a moment on a real machine.
        progressCaption_ = kPreparingCaption;
        notify();
    }
    auto env = makeScanEnvironment(machine_, ignoreRemovable, windowsVersionCode_);
    {
        // Rows name keys as the scan sees them: in the program's view.
        std::lock_guard lock(mutex_);
        retireFilter();
        filterView_ =
            std::make_unique<ViewRegistry>(machine_.registry(), programView(machine_.isWow64()));
        filter_ = std::make_unique<ProblemFilter>(
            makeFilterLists(settings_.IgnoreKeyList, settings_.IgnoreValueList, windowsVersionCode_,
                            KeyIdentity::of(machine_.currentUser().sid, *filterView_)));
    }
    progressCaption_.clear();
    ScanDisplay& display = *this;
    worker_ = std::make_unique<TScanTaskThread>(machine_, std::move(env), sections, scanners_,
                                                display, target_);
    timerRunning_ = true;
    worker_->start();
    notify();
    return true;
}

void ScanRun::cancel() {
    if (!scanning_) return;
    // Rows arrive whole (one call each), so the last one is kept like the others.
    if (worker_) worker_->stopAndWait();
    restoreVisible_ = true;
    keyVisible_ = false;
    finishScan(true);
}

void ScanRun::handleMessage(uint32_t msg) {
    if (msg == WM_REGSCAN_SECTION) {
        // The bar shows the share of the sections done, so it says how far
        // the scan has come (one message after each section).
        if (scanning_ && sectionMessages_ < sectionScans_.size() &&
            sectionScans_[sectionMessages_++] && sectionsDone_ < sectionCount_) {
            ++sectionsDone_;
            progressPosition_ = int(sectionsDone_ * kProgressMax / sectionCount_);
        }
        notify();  // the status line follows the rows
        return;
    }
    if (msg != WM_REGSCAN_DONE) return;
    // Only the running worker's own message ends the scan; one still queued
    // from a scan that was cancelled is stale.
    if (!scanning_ || !worker_ || !worker_->completed()) return;
    finishScan();
}

void ScanRun::finishScan(bool cancelled) {
    if (worker_) {
        worker_->join();
        failures_ = worker_->failures();
    }
    scanning_ = false;
    timerRunning_ = false;
    {
        // Rows name keys as the scan saw them: in the program's view.
        ViewRegistry registry(machine_.registry(), programView(machine_.isWow64()));
        std::lock_guard lock(mutex_);
        title_ = kScanIdleTitle;
        setAllChecked(rows_, true);
        if (filter_ && keep_.size() == rows_.size()) {
            size_t kept = 0;
            for (size_t i = 0; i < rows_.size(); ++i)
                if (keep_[i]) {
                    if (kept != i) rows_[kept] = std::move(rows_[i]);
                    ++kept;
                }
            rows_.resize(kept);
        } else if (!rows_.empty()) {
            FilterProblems(rows_, settings_.IgnoreKeyList, settings_.IgnoreValueList,
                           windowsVersionCode_,
                           KeyIdentity::of(machine_.currentUser().sid, registry));
        }
        retireFilter();
    }
    if (selected_ && *selected_ >= rowCount()) selected_.reset();
    keyVisible_ = false;
    // A cancelled scan keeps the bar where it stopped and says so.
    if (!cancelled) progressPosition_ = kProgressMax;
    progressCaption_ = cancelled ? kCancelledCaption : kFinishedCaption;
    restoreVisible_ = true;
    notify();
    if (autoClearRun && hooks.autoFixAndClose) hooks.autoFixAndClose();
}

void ScanRun::progressTick() {
    // The bar follows the sections done (handleMessage); the tick only
    // refreshes the display while a scan runs.
    if (!timerRunning_) return;
    notify();
}

// --- the list ---------------------------------------------------------------

std::string ScanRun::statusText() const {
    std::lock_guard lock(mutex_);
    // Handed-over rows are all checked.
    if (sink_) return problemStatusText(handed_, handed_);
    return UpdateProblemStatus(rows_);
}

std::vector<RegistryProblem> ScanRun::rows() const {
    std::lock_guard lock(mutex_);
    return rows_;
}

size_t ScanRun::rowCount() const {
    std::lock_guard lock(mutex_);
    return sink_ ? handed_ : rows_.size();
}

std::optional<RegistryProblem> ScanRun::row(size_t i) const {
    std::lock_guard lock(mutex_);
    if (i >= rows_.size()) return std::nullopt;
    return rows_[i];
}

void ScanRun::setRowChecked(size_t i, bool checked) {
    {
        std::lock_guard lock(mutex_);
        if (i < rows_.size()) rows_[i].checked = checked;
    }
    notify();
}

void ScanRun::fixFinished(const FixReport& report) {
    {
        ViewRegistry registry(machine_.registry(), programView(machine_.isWow64()));
        std::lock_guard lock(mutex_);
        removeFixedRows(rows_, report);
        rows_.insert(rows_.end(), report.leftovers.begin(), report.leftovers.end());
        for (size_t i = rows_.size() - report.leftovers.size(); i < rows_.size(); ++i)
            rows_[i].checked = false;
        FilterProblems(rows_, settings_.IgnoreKeyList, settings_.IgnoreValueList,
                       windowsVersionCode_, KeyIdentity::of(machine_.currentUser().sid, registry));
    }
    fixNote_ = report.leftovers.empty()
                   ? std::string()
                   : std::to_string(report.leftovers.size()) +
                         " entries appeared after the fix, left behind by its deletions; they "
                         "are at the end of the list, unchecked.";
    selected_.reset();
    progressCaption_ = kFixFinishedCaption;
    notify();
}

std::vector<RegistryProblem> ScanRun::scanAgain() const {
    if (!worker_ || scanning_) return {};
    return scanInPlace(machine_, worker_->environment(), worker_->sections(), settings_,
                       windowsVersionCode_, scanners_);
}

void ScanRun::removeRow(size_t i) {
    {
        std::lock_guard lock(mutex_);
        if (i >= rows_.size()) return;
        rows_.erase(rows_.begin() + std::ptrdiff_t(i));
    }
    if (selected_) {
        if (*selected_ == i)
            selected_.reset();
        else if (*selected_ > i)
            --*selected_;
    }
    notify();
}

void ScanRun::setSelectedRow(std::optional<size_t> i) {
    if (i && *i >= rowCount()) i.reset();
    selected_ = i;
    notify();
}

void ScanRun::selectAll() {
    {
        std::lock_guard lock(mutex_);
        setAllChecked(rows_, true);
    }
    notify();
}

void ScanRun::selectNone() {
    {
        std::lock_guard lock(mutex_);
        setAllChecked(rows_, false);
    }
    notify();
}

void ScanRun::selectItem() {
    if (selected_) setRowChecked(*selected_, true);
}

void ScanRun::deselectItem() {
    if (selected_) setRowChecked(*selected_, false);
}

void ScanRun::selectAllOfType() {
    if (!selected_) return;
    {
        std::lock_guard lock(mutex_);
        setCheckedOfType(rows_, *selected_, true);
    }
    notify();
}

void ScanRun::deselectAllOfType() {
    if (!selected_) return;
    {
        std::lock_guard lock(mutex_);
        setCheckedOfType(rows_, *selected_, false);
    }
    notify();
}

size_t ScanRun::addToIgnoreLists() {
    if (!selected_) return 0;
    size_t removed;
    {
        std::lock_guard lock(mutex_);
        removed = addRowsToIgnoreLists(rows_, {*selected_}, settings_);
    }
    if (removed) selected_.reset();
    notify();
    return removed;
}

bool ScanRun::actionEnabled(std::string_view action) const {
    for (const auto& item : problemListMenu())
        if (!item.separator() && item.action == action)
            return menuItemEnabled(item, rowSelected(), rowCount() > 0);
    return true;
}

}  // namespace brisko
