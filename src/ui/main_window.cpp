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

TfrmMain::TfrmMain(Machine& machine, StartArgs start, QWidget* parent, TimerService* timers)
    : QWidget(parent),
      machine_(machine),
      lifecycle_(*this, machine, model_),
      messageTarget_(this),
      prompter_(this) {
    model_.start = std::move(start);
    model_.cleanTree = buildCleanTree();
    model_.sectionTree = buildSectionTree();
    // On a 9x machine the registry switches are ignored: the start is interactive.
    StartSwitch sw =
        effectiveStartSwitch(model_.start.startSwitch(), WindowsVersionCode(machine.version()));
    // These runs end on their own; nobody is there to answer a question.
    prompter_.setUnattended(sw == StartSwitch::Clear || sw == StartSwitch::Regdefrag ||
                            sw == StartSwitch::Regscan);
    setObjectName(QStringLiteral("TfrmMain"));
    if (!timers) {
        ownTimers_ = std::make_unique<QtTimerService>(this);
        timers = ownTimers_.get();
    }
    timers_ = timers;
    createControls();
    // The end of the logon (Windows) or of the desktop session.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        if (!lifecycle_.closed()) lifecycle_.onQueryEndSession();
    });
    connect(cleanerPane_, &CleanerPane::cleanRunEnded, this, &TfrmMain::cleanRunEnded);
    // "/Clear" with no section ticked ends at once, or when its clean is over.
    connect(registryPane_, &RegistryPane::closeRequested, this, [this] {
        if (!cleanInProgress()) close();
    });
    connect(registryPane_, &RegistryPane::autoClearScanEnded, this, &TfrmMain::registryScanEnded);
    lifecycle_.onCreate();
}

TfrmMain::~TfrmMain() {
    // A scan still running posts to the message target and reads the model:
    // its worker must end before they go (children outlive the members).
    delete registryPane_;
    registryPane_ = nullptr;
    messageTarget_.detach();
}

// ---------------------------------------------------------------- navigation

void TfrmMain::FlatButtonClick(int tag) {
    for (QToolButton* b : navButtons_) {
        if (b->isCheckable()) b->setChecked(b->property("tag").toInt() == tag);
    }
    for (QGroupBox* gb : {gbCleaner_, gbRegistry_, gbTools_, gbDefrag_})
        gb->setVisible(gb->property("tag").toInt() == tag);
    currentTag_ = tag;
}

void TfrmMain::bHelpClick() {
    // At the mouse when it was a click; beside the button when it came from the keyboard.
    QWidget* button = navButtons_.back();
    QPoint at = QCursor::pos();
    if (!button->rect().contains(button->mapFromGlobal(at)))
        at = button->mapToGlobal(QPoint(button->width(), 0));
    pmMore_->popup(at);
}

void TfrmMain::aAboutExecute() {
    TfrmAbout about(
        machine_, [this](std::string_view page) { openWebPage(page); }, this);
    about.exec();
}

void TfrmMain::openWebPage(std::string_view page) {
    QString file = webPageFile(page);
    if (file.isEmpty()) {
        prompter_.ask("The page " + std::string(page) + " is not installed with the program.",
                      MB_OK | MB_ICONERROR);
        return;
    }
    // The pages come with the program and open in the browser of the computer
    // it runs on (on an offline machine nothing can be opened inside it).
    const QUrl url = QUrl::fromLocalFile(file);
    if (machine_.shellExecute("Open", url.toString().toStdString(), "")) return;
    if (!QDesktopServices::openUrl(url))
        prompter_.ask("No web browser could be started to show " + file.toStdString() + ".",
                      MB_OK | MB_ICONINFORMATION);
}

bool TfrmMain::bOptionsClick() {
    OptionsHost host;
    host.reregisterHotkey = [this] {
        unregisterHotkey();
        if (model_.Settings.EnableHotkey) registerHotkey();
    };
    host.armSchedule = [this] { armScheduleFromSettings(); };
    host.saveSettings = [this] { return saveSettingsNow(); };
    host.commitRegistry = [this] { return commitRegistry(); };
    TfrmOptions dlg(machine_, model_.Settings, prompter_, std::move(host), this);
    if (dlg.exec() != QDialog::Accepted) return false;
    setFastMode(model_.Settings.FastScan);
    return true;
}

void TfrmMain::armScheduleFromSettings() {
    armScheduleTimer(model_.Settings.AutoClean, scheduleIntervalMs(model_.Settings.CleanInterval));
}

bool TfrmMain::saveSettingsNow() {
    storeTreeState();
    copyExpansion(model_.sectionTree, model_.cleanTree, model_.Settings.FirstNodeExpand);
    WindowPlacement placement = windowPlacement();
    return SaveSettings(machine_, model_.Settings, &model_.cleanTree, &model_.sectionTree,
                        &placement);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pTitle_ && event->type() == QEvent::MouseButtonPress) {
        // The update link handles its own clicks; the rest of the bar is the home page.
        QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
        QWidget* child = pTitle_->childAt(pos);
        if (child == lUpdate_ || child == iUpdate_) return false;
        openWebPage(kHomePage);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- creation

void TfrmMain::setupWindow() {
    resize(kDesignClientWidth, kDesignClientHeight);
    setWindowTitle(qs(kMainCaption));
    lTitle_->setText(qs(kProgramTitle));
    lTitleHint_->setText(qs(kTitleHint));
    lUpdate_->setText(
        QStringLiteral("<a href=\"%1\" style=\"color:white;\">Check for updates...</a>")
            .arg(qs(kUpdatePage).toHtmlEscaped()));
    gbRegistry_->hide();
    gbTools_->hide();
}

void TfrmMain::addApplicationItems() {
    BuildApplicationsNode(machine_, model_.cleanTree);
    tvCleanItems_->rebuild();
}

void TfrmMain::scrollCleanTreeToTop() {
    tvCleanItems_->scrollToTop();
}

void TfrmMain::showCleanTreeChecks() {
    tvCleanItems_->refreshChecks();
}

void TfrmMain::hideWindowsBackup() {
    toolsPane_->hideWindowsBackup();
}
void TfrmMain::createHiveLists() {
    if (defragPane_) defragPane_->createHiveLists();
}
void TfrmMain::showUnsupportedDefrag() {
    if (defragPane_) defragPane_->showUnsupportedDefrag();
}

void TfrmMain::showCleanerPane() {
    FlatButtonClick(kTagCleaner);
}

// ---------------------------------------------------------------- first show, activation

void TfrmMain::layoutPanes() {
    if (layout()) layout()->activate();
}

void TfrmMain::showSectionTreeChecks() {
    tvRegistry_->refreshChecks();
}

QSize TfrmMain::frameExtra() const {
    // Known once the window manager has framed the window; nothing before.
    QSize extra = frameGeometry().size() - geometry().size();
    return extra.isValid() ? extra : QSize(0, 0);
}

void TfrmMain::setMinimumSize(int width, int height) {
    minimumWindowSize_ = QSize(width, height);
    applyMinimumSize();
}

void TfrmMain::applyMinimumSize() {
    if (minimumWindowSize_.isEmpty()) return;
    // The limit is for the whole window, frame included.
    QWidget::setMinimumSize(minimumWindowSize_ - frameExtra());
}

void TfrmMain::buildHiveList() {
    if (defragPane_) defragPane_->buildHiveList();
}

// Once at start: the hives that refuse every change (damaged, or logs that
// cannot be applied) and why. The rest of the machine works as usual.
void TfrmMain::warnReadOnlyHives() {
    auto reasons = machine_.registry().readOnlyHives();
    if (reasons.empty()) return;
    std::string text = "Brisko Cleaner will not change these registry hives of this machine:\n";
    for (const auto& r : reasons) text += "\n" + r;
    text += "\n\nEverything else works as usual.";
    // After the show has finished: a box during the show event would hold it up.
    QTimer::singleShot(0, this, [this, text] { prompter_.ask(text, MB_OK | MB_ICONWARNING); });
}

void TfrmMain::maximize() {
    // Does not show a hidden window; a later show comes up maximised.
    setWindowState(windowState() | Qt::WindowMaximized);
}

void TfrmMain::setBounds(int left, int top, int width, int height) {
    // The stored bounds are the window's inside (its client area), as saved
    // below: what the window manager adds around it is not known for sure
    // until the window is framed, and mixing the two made the window grow and
    // wander a little at every start.
    applyMinimumSize();
    if (width > 0 && height > 0)
        setGeometry(left, top, std::max(width, minimumWidth()), std::max(height, minimumHeight()));
    else
        move(left, top);
    ensureOnScreen();
}

void TfrmMain::ensureOnScreen() {
    // Bounds saved on a screen that is no longer there would put the window
    // out of reach; bring such a window back to the middle of the screen.
    QRect frame = frameGeometry();
    const QRect visible = frame.adjusted(40, 20, -40, -20);
    for (QScreen* s : QGuiApplication::screens()) {
        if (s->availableGeometry().intersects(visible)) return;
    }
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TfrmMain::armScheduleTimer(bool enabled, int intervalMs) {
    if (enabled)
        Timer2_->start(intervalMs);
    else
        Timer2_->stop();
}

void TfrmMain::Timer2Timer() {
    // A tick while a run is going on changes nothing.
    if (model_.flags.Busy) return;
    cleanerPane_->startUnattendedClean();
}

void TfrmMain::postMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    messageTarget_.post(msg, wParam, lParam);
}

// ---------------------------------------------------------------- close

bool TfrmMain::cleanInProgress() {
    return cleanerPane_->cleanInProgress();
}
bool TfrmMain::scanInProgress() {
    return registryPane_->scanInProgress();
}
void TfrmMain::cancelClean() {
    cleanerPane_->cancelClean();
}
void TfrmMain::cancelScan() {
    registryPane_->cancelScan();
}
void TfrmMain::releaseJobList() {}

WindowPlacement TfrmMain::windowPlacement() {
    WindowPlacement p;
    p.showCmd = isMaximized() ? 3 : isMinimized() ? 2 : 1;
    // A maximised or minimised window is saved with the bounds it returns to;
    // always the client area, which is what setBounds restores.
    QRect client = (isMaximized() || isMinimized()) ? normalGeometry() : geometry();
    if (!client.isValid()) client = geometry();
    p.left = client.x();
    p.top = client.y();
    p.width = client.width();
    p.height = client.height();
    return p;
}

void TfrmMain::deleteHiveCopies() {
    if (defragPane_) defragPane_->deleteHiveCopies();
}

bool TfrmMain::commitRegistry() {
    if (machine_.registry().commit()) return true;
    std::cerr << kProgramTitle << ": the registry changes could not be written to the hive files"
              << std::endl;
    prompter_.ask("The registry changes could not be saved to the hive files of this machine.",
                  MB_OK | MB_ICONERROR);
    if (exitCode_ == 0) exitCode_ = 1;
    return false;
}

void TfrmMain::terminate() {
    if (terminated_) return;
    terminated_ = true;
    commitRegistry();
    hide();
    emit terminated(exitCode_);
}

void TfrmMain::startUnattendedClean() {
    cleanerPane_->startUnattendedClean();
}

bool TfrmMain::waitForCleanRun(std::chrono::milliseconds limit) {
    return cleanerPane_->waitForCleanRun(limit);
}

WindowMetrics TfrmMain::windowMetrics() {
    WindowMetrics m;
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (s) {
        m.screenWidth = s->geometry().width();
        m.screenHeight = s->geometry().height();
    }
    // The client area, like the bounds the window stores.
    m.width = width();
    m.height = height();
    return m;
}

// ---------------------------------------------------------------- messages and events

void TfrmMain::ShowFromTray() {
    hiddenToTray_ = false;
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    // A tray start keeps its icon: the program lives there.
    if (model_.start.startSwitch() != StartSwitch::Auto) removeTrayIcon();
    raise();
    activateWindow();
}

void TfrmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Minimising goes to the tray (after the state change has finished).
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !hiddenToTray_ &&
        isVisible())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized() && !hiddenToTray_) handleMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        });
}

void TfrmMain::handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    switch (msg) {
        case WM_SHOW_MAIN:
            ShowFromTray();
            break;
        case WM_SYSCOMMAND:
            if (wParam == SC_MAXIMIZE) {
                maximize();
            } else if (wParam == SC_MINIMIZE) {
                hideToTray(lParam != 1);
            }
            break;
        case WM_TRAY_NOTIFY:
            trayNotify(lParam);
            break;
        case WM_QUERYENDSESSION:
            if (!lifecycle_.closed()) lifecycle_.onQueryEndSession();
            break;
        case WM_HOTKEY:
            toggleBrowsers(wParam);
            break;
        case WM_AUTO_CLEAN:
            runAutoClean();
            break;
        case WM_CLEAN_PROGRESS:
        case WM_CLEAN_DONE:
        case WM_CLEAN_PASS:
            cleanerPane_->handleMessage(msg, wParam, lParam);
            break;
        case WM_REGSCAN_SECTION:
        case WM_REGSCAN_DONE:
            registryPane_->handleMessage(msg);
            break;
        case WM_RUN_REGDEFRAG:
        case WM_RUN_REGSCAN:
            runUnattendedRegistryJob(msg);
            break;
        default:
            break;
    }
}

void TfrmMain::runAutoClean() {
    hide();
    if (!model_.flags.Busy) cleanerPane_->startUnattendedClean();
    // The Scan button's action: a scan of the ticked sections (or the end of
    // one that runs). "/Clear" ends by itself once its clean and scan are over.
    registryPane_->bScanClick();
}

void TfrmMain::registryScanEnded() {
    // Every problem is checked now: "/Clear" fixes them, each backed up first.
    if (registryPane_->run().rowCount()) {
        registryPane_->bFixErrorsClick();
        // What the fix left behind joins the list unchecked and stays there.
        if (size_t left = checkedCount(registryPane_->run().rows())) {
            std::cerr << kProgramTitle << ": registry problems left unfixed: " << left << std::endl;
            exitCode_ = 1;
        }
    }
    if (!cleanInProgress()) close();  // else when the clean ends
}

void TfrmMain::cleanRunEnded(bool removing) {
    if (removing) commitRegistry();
    // Closing earlier would cancel the clean of "/Clear" half way.
    if (model_.flags.AutoClearRun && !cleanInProgress() && !scanInProgress()) close();
}

void TfrmMain::runUnattendedRegistryJob(uint32_t msg) {
    hide();
    bool ok = msg == WM_RUN_REGDEFRAG ? defragPane_->runRegdefrag()
                                      : defragPane_->runRegscan(model_.start.reportFile());
    if (!ok && exitCode_ == 0) exitCode_ = 1;
    close();
}

bool TfrmMain::event(QEvent* event) {
    if (event->type() == MessageEvent::eventType()) {
        auto* m = static_cast<MessageEvent*>(event);
        handleMessage(m->msg, m->wParam, m->lParam);
        return true;
    }
    if (event->type() == QEvent::WindowActivate) {
        applyMinimumSize();
        lifecycle_.onActivate();
    }
    return QWidget::event(event);
}

void TfrmMain::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (firstShowDone_) return;
    firstShowDone_ = true;
    lifecycle_.onFirstShow();
    warnReadOnlyHives();
    // Without a window manager (or on the offscreen platform) a window may
    // never be activated; its first-activation steps must run all the same.
    QTimer::singleShot(0, this, [this] {
        if (!lifecycle_.firstActivationDone()) lifecycle_.onActivate();
    });
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (!lifecycle_.closed()) lifecycle_.onClose();
    event->accept();
}

}  // namespace brisko
