#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QSessionManager>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <array>
#include <iostream>

#include "cleaner/clean_catalog.h"
#include "cleaner/items/application_items.h"
#include "core/machine/machine.h"
#include "registry/scan_run.h"
#include "registry/section_tree.h"
#include "ui/about_dialog.h"
#include "ui/check_tree_view.h"
#include "ui/cleaner_pane.h"
#include "ui/defrag_pane.h"
#include "ui/options_dialog.h"
#include "ui/qt_text.h"
#include "ui/qt_timer_service.h"
#include "ui/registry_pane.h"
#include "ui/tools_pane.h"
#include "ui/web_pages.h"

namespace brisko {

namespace {

// The Boss Key's identifier; on Windows the value of the "MyKTLVHotkey_Hide" atom.
constexpr int kHotkeyId = 0xC001;

// The tray icon's tip and the mouse messages its callback carries.
constexpr std::string_view kTrayTip = "Left Click to activate Cleaner\nRight Click to popup menu";
constexpr intptr_t kTrayLeftButtonDown = 513;
constexpr intptr_t kTrayRightButtonDown = 516;

// Browser windows the Boss Key hides and shows again.
constexpr std::array<std::string_view, 5> kBrowserWindowClasses = {
    "IEFrame", "NS_AE_WindowClass", "MozillaWindowClass", "MozillaUIWindowClass", "OpWindow"};

}  // namespace

void TfrmMain::addTrayIcon() {
    if (!trayIcon_) {
        trayIcon_ = new QSystemTrayIcon(windowIcon(), this);
        trayIcon_->setObjectName(QStringLiteral("trayIcon"));
        trayIcon_->setToolTip(QString::fromUtf8(kTrayTip.data(), qsizetype(kTrayTip.size())));
        connect(trayIcon_, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason why) {
                    // The right button's menu is the icon's own (the desktop shows it).
                    if (why == QSystemTrayIcon::Trigger)
                        postMessage(WM_TRAY_NOTIFY, 0, kTrayLeftButtonDown);
                });
        trayIcon_->setContextMenu(pmTray_);
    }
    trayIcon_->show();
}

void TfrmMain::removeTrayIcon() {
    if (trayIcon_) trayIcon_->hide();
}

void TfrmMain::trayNotify(intptr_t mouseMessage) {
    if (mouseMessage == kTrayLeftButtonDown) {
        ShowFromTray();
        // Back from the tray, the log's first line is where the eye starts.
        QListView* log = cleanerPane_ ? cleanerPane_->lMain() : nullptr;
        if (log && log->isVisible() && log->model() && log->model()->rowCount() > 0) {
            const QModelIndex first = log->model()->index(0, 0);
            log->setCurrentIndex(first);
            log->selectionModel()->select(first, QItemSelectionModel::ClearAndSelect);
        }
    } else if (mouseMessage == kTrayRightButtonDown) {
        activateWindow();
        pmTray_->popup(QCursor::pos());
    }
}

void TfrmMain::hideToTray(bool addIcon) {
    // Hiding without a notification area would leave no way back to the
    // window; there it stays minimised on the taskbar instead.
    const bool offscreen = QGuiApplication::platformName() == QLatin1String("offscreen");
    if (!offscreen && !QSystemTrayIcon::isSystemTrayAvailable()) {
        static bool told = false;
        if (!told) {
            told = true;
            std::cerr << kProgramTitle
                      << ": this desktop has no notification area; the window stays minimised "
                         "on the taskbar instead of going to the tray"
                      << std::endl;
        }
        if (!isMinimized()) showMinimized();
        return;
    }
    hiddenToTray_ = true;
    hide();
    if (addIcon || model_.start.startSwitch() == StartSwitch::Auto) addTrayIcon();
}

void TfrmMain::rememberExtendedStyle() {
    // Window styles are the toolkit's business here.
}

void TfrmMain::expandTopNodes() {
    tvCleanItems_->refreshExpansion();
    tvRegistry_->refreshExpansion();
}

void TfrmMain::setFastMode(bool on) {
    cleanerPane_->setFastMode(on);
}

void TfrmMain::unregisterHotkey() {
    if (HotkeyService* hk = machine_.hotkeys()) hk->unregisterHotkey(kHotkeyId);
    hotkeyId_ = 0;
}

void TfrmMain::registerHotkey() {
    HotkeyService* hk = machine_.hotkeys();
    if (!hk) return;  // no hot-key service on this machine: the feature is absent
    const TShortcut& key = model_.Settings.Hotkey;
    unsigned modifiers = (key.IsCtrl ? 2u : 0u) | (key.IsShift ? 4u : 0u) | (key.IsAlt ? 1u : 0u);
    if (hk->registerHotkey(kHotkeyId, modifiers, key.CharAscII)) {
        hotkeyId_ = kHotkeyId;
    } else {
        hotkeyId_ = 0;
        prompter_.ask("The hotkey for Boss Key failed, please try to use other key!",
                      MB_OK | MB_ICONERROR);
    }
}

void TfrmMain::showHiddenBrowsers() {
    for (const WindowRef& w : machine_.topLevelWindows()) {
        for (std::string_view cls : kBrowserWindowClasses) {
            if (w.className == cls) machine_.showWindow(w.handle, true);
        }
    }
}

void TfrmMain::toggleBrowsers(uintptr_t hotkeyId) {
    bool& hidden = model_.flags.BrowsersHidden;
    hidden = !hidden;
    if (hotkeyId_ == 0 || hotkeyId != uintptr_t(hotkeyId_)) return;
    for (const WindowRef& w : machine_.topLevelWindows()) {
        for (std::string_view cls : kBrowserWindowClasses) {
            if (w.className == cls) machine_.showWindow(w.handle, !hidden);
        }
    }
}

}  // namespace brisko
