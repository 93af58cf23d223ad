#pragma once
// The life of the main window — creation, first show, activation, close and
// the end of the logon — as a sequence of steps run against a view. The Qt
// window implements MainWindowView and calls the lifecycle from its events;
// tests drive the same sequence with a fake view.
//
// Two choices this program makes:
// - Activation: the stored bounds and the start switch are applied on the
//   first activation only. Every later activation (after a modal dialog closes,
//   after a restore from the tray) does nothing: re-applying them would move a
//   window the user has moved, hide a window just brought back from the tray
//   under "/Auto", start a second unattended run under "/Clear", and restart
//   the schedule timer's countdown so that frequent activations would keep the
//   scheduled clean from ever running.
// - End of logon: when the shutdown clean is started, the logon waits for it
//   at most kEndOfLogonCleanWait (pumping the window's messages meanwhile), so
//   the clean has a real chance to finish; then the settings are saved and the
//   window closes, which cancels the clean if it still runs. The limit stays
//   below the time Windows gives a program before it offers to end it.
//
// Closing runs every step in its own guard: a step that throws is skipped and
// the following ones still run, so the settings are saved and the program ends
// even when, say, cancelling a worker fails.
#include <chrono>
#include <cstdint>
#include <string>

#include "core/check_tree.h"
#include "core/settings.h"
#include "core/startup.h"

namespace brisko {

class Machine;

inline constexpr std::chrono::milliseconds kEndOfLogonCleanWait{15000};

// What the lifecycle asks of the window. Widget work only: the data (settings,
// trees, flags) is in MainModel and the lifecycle changes it itself.
class MainWindowView {
  public:
    virtual ~MainWindowView() = default;

    // Creation.
    // Client area 697 x 456, caption, title labels, title image, update link,
    // Registry and Tools panes hidden, status label empty, registry progress
    // step 10.
    virtual void setupWindow() = 0;
    // Adds the installed applications of the data file to the "Applications"
    // group of the clean tree (the model) and shows them.
    virtual void addApplicationItems() = 0;
    virtual void scrollCleanTreeToTop() = 0;
    // The clean tree's check boxes show the model (after the settings load).
    virtual void showCleanTreeChecks() = 0;
    virtual void addTrayIcon() = 0;
    virtual void rememberExtendedStyle() = 0;
    // Both trees show the expansion of the model.
    virtual void expandTopNodes() = 0;
    virtual void setFastMode(bool on) = 0;
    virtual void unregisterHotkey() = 0;
    // Registers the Boss Key from the settings; tells the user when it fails.
    virtual void registerHotkey() = 0;
    virtual void hideWindowsBackup() = 0;
    // Creates the defrag pane's hive lists and empties its four result labels.
    virtual void createHiveLists() = 0;
    // Disables "Analyze Registry" and shows the unsupported-system row.
    virtual void showUnsupportedDefrag() = 0;
    // Grid lines in the defrag list, the Cleaner pane selected.
    virtual void showCleanerPane() = 0;

    // First show.
    virtual void layoutPanes() = 0;
    // The registry tree's check boxes show the model.
    virtual void showSectionTreeChecks() = 0;
    virtual void setMinimumSize(int width, int height) = 0;
    virtual void buildHiveList() = 0;

    // Activation.
    virtual void maximize() = 0;
    virtual void setBounds(int left, int top, int width, int height) = 0;
    // The schedule timer: enabled or not, with its period.
    virtual void armScheduleTimer(bool enabled, int intervalMs) = 0;

    // Messages the window posts to itself (handled later by its message loop).
    virtual void postMessage(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;

    // Close and end of logon.
    virtual bool cleanInProgress() = 0;  // the Test button reads "Cancel"
    virtual bool scanInProgress() = 0;   // the Scan button reads "Cancel"
    virtual void cancelClean() = 0;
    virtual void cancelScan() = 0;
    virtual void releaseJobList() = 0;
    // Lets the view write the expanded and checked states of its tree widgets
    // into the model when it does not keep them there as they change.
    virtual void storeTreeState() {}
    // The main window's placement and bounds for the save.
    virtual WindowPlacement windowPlacement() = 0;
    // Shows the browser windows the hot key hid.
    virtual void showHiddenBrowsers() = 0;
    // Deletes every hive copy (".fdc") of the defrag pane that still exists and
    // releases the hive lists.
    virtual void deleteHiveCopies() = 0;
    virtual void terminate() = 0;

    // End of logon: starts a Clean run in unattended mode (RunMode is already 1).
    virtual void startUnattendedClean() = 0;
    // Runs the window's messages until the clean run ends or limit passes;
    // true when it ended.
    virtual bool waitForCleanRun(std::chrono::milliseconds limit) = 0;

    // The main window's design size and the screen, for centring on load.
    virtual WindowMetrics windowMetrics() = 0;
};

// What the main window owns for the whole run.
struct MainModel {
    TOptionsSetting Settings;
    CheckTree cleanTree;    // the clean catalogue, built before creation
    CheckTree sectionTree;  // the registry sections, built before creation
    RunFlags flags;
    int windowsVersionCode = 10;
    StartArgs start;
};

class MainLifecycle {
  public:
    MainLifecycle(MainWindowView& view, Machine& machine, MainModel& model)
        : view_(view), machine_(machine), model_(model) {}

    void onCreate();
    void onFirstShow();
    void onActivate();
    void onClose();
    // WM_QUERYENDSESSION: true = the logon may end. Closes the window.
    bool onQueryEndSession();

    bool firstActivationDone() const { return activated_; }
    bool closed() const { return closed_; }
    // Steps of the last close that threw (0 when none): bit n-1 for step n.
    unsigned closeFailures() const { return closeFailures_; }

  private:
    MainWindowView& view_;
    Machine& machine_;
    MainModel& model_;
    bool shown_ = false;
    bool activated_ = false;
    bool closed_ = false;
    unsigned closeFailures_ = 0;
};

}  // namespace brisko
