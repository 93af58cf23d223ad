#include "core/main_lifecycle.h"

#include <optional>

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
    // Every call on its own: whatever one of them throws, the rest still runs
    // and the failure is remembered under its step number.
    auto attempt = [this](int step, auto&& fn) {
        try {
            fn();
        } catch (...) {
            closeFailures_ |= 1u << (step - 1);
        }
    };

    attempt(1, [&] {
        if (view_.cleanInProgress()) view_.cancelClean();
    });
    attempt(1, [&] {
        if (view_.scanInProgress()) view_.cancelScan();
    });
    attempt(2, [&] { view_.releaseJobList(); });
    attempt(3, [&] { view_.storeTreeState(); });
    attempt(3, [&] { copyExpansion(m.sectionTree, m.cleanTree, m.Settings.FirstNodeExpand); });
    attempt(4, [&] {
        // Without a readable placement the settings are still saved; the
        // stored window entries then stay as they were.
        std::optional<WindowPlacement> placement;
        try {
            placement = view_.windowPlacement();
        } catch (...) {
            closeFailures_ |= 1u << 3;
        }
        SaveSettings(machine_, m.Settings, &m.cleanTree, &m.sectionTree,
                     placement ? &*placement : nullptr);
    });
    attempt(5, [&] {
        if (!m.Settings.EnableHotkey) return;
        view_.unregisterHotkey();
    });
    attempt(5, [&] {
        if (!m.Settings.EnableHotkey || !m.flags.BrowsersHidden) return;
        view_.showHiddenBrowsers();
        m.flags.BrowsersHidden = false;
    });
    attempt(6, [&] {
        m.Settings.IgnoreValueList.clear();
        m.Settings.IgnoreKeyList.clear();
    });
    attempt(7, [&] { view_.deleteHiveCopies(); });
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
        std::optional<WindowPlacement> placement;
        try {
            placement = view_.windowPlacement();
        } catch (...) {
        }
        SaveSettings(machine_, m.Settings, &m.cleanTree, &m.sectionTree,
                     placement ? &*placement : nullptr);
    } catch (...) {
    }
    onClose();
    return true;
}

}  // namespace brisko
