#include "core/main_lifecycle.h"

#include "core/machine/machine.h"
#include "core/messages.h"

namespace brisko {

void MainLifecycle::onCreate() {
    MainModel& m = model_;
    view_.setupWindow();
    m.flags = RunFlags{};

    m.Settings.IgnoreValueList.clear();
    m.Settings.IgnoreKeyList.clear();
    m.Settings.IgnoreValueCount = 0;
    m.Settings.IgnoreKeyCount = 0;

    view_.addApplicationItems();
    view_.scrollCleanTreeToTop();

    LoadSettings(machine_, m.Settings, &m.cleanTree, view_.windowMetrics());
    view_.showCleanTreeChecks();

    if (m.start.startSwitch() == StartSwitch::Auto) view_.addTrayIcon();
    view_.rememberExtendedStyle();

    applyExpansion(m.Settings.FirstNodeExpand, m.sectionTree, m.cleanTree);
    view_.expandTopNodes();
    view_.setFastMode(m.Settings.FastScan);

    if (m.Settings.EnableHotkey) {
        view_.unregisterHotkey();
        view_.registerHotkey();
    }

    m.sectionTree.setAllExpanded(true);
    view_.expandTopNodes();

    m.windowsVersionCode = WindowsVersionCode(machine_.version());
    if (hidesWindowsBackup(m.windowsVersionCode)) view_.hideWindowsBackup();
    view_.createHiveLists();
    if (!registryAnalysisAvailable(m.windowsVersionCode)) view_.showUnsupportedDefrag();

    view_.showCleanerPane();
}

void MainLifecycle::onFirstShow() {
    if (shown_) return;
    shown_ = true;
    MainModel& m = model_;
    view_.layoutPanes();

    applyNodeChecks(m.Settings.TreeViewNodeCheck, m.sectionTree);
    view_.showSectionTreeChecks();

    view_.setMinimumSize(kMinWindowWidth, kMinWindowHeight);

    if (registryAnalysisAvailable(m.windowsVersionCode)) {
        view_.buildHiveList();
        StartSwitch sw = m.start.startSwitch();
        if (sw == StartSwitch::Regdefrag) {
            m.flags.UnattendedRun = true;
            view_.postMessage(WM_RUN_REGDEFRAG);
        } else if (sw == StartSwitch::Regscan) {
            m.flags.UnattendedRun = true;
            view_.postMessage(WM_RUN_REGSCAN);
        }
    }

    if (m.Settings.WindowState == TWindowState::wsMaximized)
        view_.postMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
}

void MainLifecycle::onActivate() {
    if (activated_) return;  // see the note at the top of the header
    activated_ = true;
    MainModel& m = model_;
    const TOptionsSetting& s = m.Settings;

    if (s.WindowState == TWindowState::wsMaximized)
        view_.maximize();
    else
        view_.setBounds(s.Left, s.Top, s.Width, s.Height);

    StartSwitch sw = m.start.startSwitch();
    if (sw == StartSwitch::Auto) {
        view_.postMessage(WM_SYSCOMMAND, SC_MINIMIZE, 1);
        if (s.StartClean) view_.postMessage(WM_AUTO_CLEAN);
    }
    if (sw == StartSwitch::Clear) {
        m.flags.AutoClearRun = true;
        view_.postMessage(WM_AUTO_CLEAN);
    } else {
        view_.armScheduleTimer(s.AutoClean, scheduleIntervalMs(s.CleanInterval));
    }
}

void MainLifecycle::onClose() {
    if (closed_) return;
    closed_ = true;
    closeFailures_ = 0;
    MainModel& m = model_;
    unsigned step = 0;
    // Each step on its own: whatever one of them throws, the rest still runs.
    auto guarded = [&](auto&& fn) {
        ++step;
        try {
            fn();
        } catch (...) {
            closeFailures_ |= 1u << (step - 1);
        }
    };

    guarded([&] {
        bool cleaning = view_.cleanInProgress();
        bool scanning = view_.scanInProgress();
        std::exception_ptr first;
        if (cleaning) try {
                view_.cancelClean();
            } catch (...) {
                first = std::current_exception();
            }
        if (scanning) view_.cancelScan();
        if (first) std::rethrow_exception(first);
    });
    guarded([&] { view_.releaseJobList(); });
    guarded([&] {
        view_.storeTreeState();
        copyExpansion(m.sectionTree, m.cleanTree, m.Settings.FirstNodeExpand);
    });
    guarded([&] {
        WindowPlacement placement = view_.windowPlacement();
        SaveSettings(machine_, m.Settings, &m.cleanTree, &m.sectionTree, &placement);
    });
    guarded([&] {
        if (!m.Settings.EnableHotkey) return;
        view_.unregisterHotkey();
        if (m.flags.BrowsersHidden) {
            view_.showHiddenBrowsers();
            m.flags.BrowsersHidden = false;
        }
    });
    guarded([&] {
        m.Settings.IgnoreValueList.clear();
        m.Settings.IgnoreKeyList.clear();
    });
    guarded([&] { view_.deleteHiveCopies(); });
    view_.terminate();
}

bool MainLifecycle::onQueryEndSession() {
    MainModel& m = model_;
    try {
        if (m.Settings.ShutdownClean && !view_.cleanInProgress()) {
            m.flags.RunMode = kRunModeUnattended;
            view_.startUnattendedClean();
            if (view_.cleanInProgress()) view_.waitForCleanRun(kEndOfLogonCleanWait);
        }
    } catch (...) {
        // The logon ends whatever the clean did; the settings still get saved.
    }
    try {
        WindowPlacement placement = view_.windowPlacement();
        SaveSettings(machine_, m.Settings, &m.cleanTree, &m.sectionTree, &placement);
    } catch (...) {
    }
    onClose();
    return true;
}

}  // namespace brisko
