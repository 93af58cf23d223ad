#pragma once
// The main window: title bar, navigation column and the four panes. The
// sequence of creation, first show, activation and close is MainLifecycle's;
// this class does the widget work it asks for and turns Qt events into its
// steps.
#include <QWidget>
#include <memory>
#include <vector>

#include "core/main_lifecycle.h"
#include "core/timer_service.h"
#include "ui/qt_message_target.h"
#include "ui/qt_prompter.h"

class QGroupBox;
class QLabel;
class QMenu;
class QToolButton;
class QFrame;
class QTimer;
class QSystemTrayIcon;

namespace brisko {

class CheckTreeView;
class CleanerPane;
class RegistryPane;
class DefragPane;
class ToolsPane;
class QtTimerService;

// Navigation tags: a pane shows when its tag equals the clicked button's.
enum NavTag : int {
    kTagCleaner = 17,
    kTagRegistry = 18,
    kTagTools = 19,
    kTagOptions = 20,
    kTagDefrag = 21,
    kTagMore = 22,
};

class TfrmMain final : public QWidget, public MainWindowView {
    Q_OBJECT

  public:
    // Builds the trees, the controls, and runs the creation steps (the
    // settings are read here). timers: where the schedule and other timers come
    // from (the event loop's when null).
    TfrmMain(Machine& machine, StartArgs start, QWidget* parent = nullptr,
             TimerService* timers = nullptr);
    ~TfrmMain() override;

    MainModel& model() { return model_; }
    MainLifecycle& lifecycle() { return lifecycle_; }
    MessageTarget& messageTarget() { return messageTarget_; }
    QtPrompter& prompter() { return prompter_; }
    Machine& machine() { return machine_; }
    // The exit code of the program when the window ends it.
    int exitCode() const { return exitCode_; }
    // The periodic unattended clean.
    ProgramTimer* scheduleTimer() const { return Timer2_.get(); }
    // The Tools pane: the Startup manager and the tool buttons.
    ToolsPane* toolsPane() const { return toolsPane_; }
    // The notification-area icon; null until the window first goes to the tray.
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    QMenu* moreMenu() const { return pmMore_; }
    QMenu* trayMenu() const { return pmTray_; }
    // The program's own pages (help, home, updates) open in the host's browser.
    void openWebPage(std::string_view page);
    // Opens the Options dialog; true when it ended with OK.
    bool bOptionsClick();
    void aAboutExecute();
    // The window is hidden to the tray (hide-to-tray needs a notification area;
    // without one the window stays on the taskbar, minimised).
    bool hiddenToTray() const { return hiddenToTray_; }
    // The Cleaner pane's log, progress bar and run buttons.
    CleanerPane* cleanerPane() const { return cleanerPane_; }
    // The Registry pane's problem list, progress bar and Scan button.
    RegistryPane* registryPane() const { return registryPane_; }
    // The Defrag pane: hive list, analysis and defrag.
    DefragPane* defragPane() const { return defragPane_; }

    // The pane shown for a navigation tag (Cleaner, Registry, Tools, Defrag).
    void FlatButtonClick(int tag);
    int currentPaneTag() const { return currentTag_; }

    // Writes the registry changes of a finished job into the machine's hives;
    // tells the user when that fails.
    bool commitRegistry();
    void warnReadOnlyHives();

    // Window messages, as posted by workers and by the window itself.
    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void ShowFromTray();

    // MainWindowView.
    void setupWindow() override;
    void addApplicationItems() override;
    void scrollCleanTreeToTop() override;
    void showCleanTreeChecks() override;
    void addTrayIcon() override;
    void rememberExtendedStyle() override;
    void expandTopNodes() override;
    void setFastMode(bool on) override;
    void unregisterHotkey() override;
    void registerHotkey() override;
    void hideWindowsBackup() override;
    void createHiveLists() override;
    void showUnsupportedDefrag() override;
    void showCleanerPane() override;
    void layoutPanes() override;
    void showSectionTreeChecks() override;
    void setMinimumSize(int width, int height) override;
    void buildHiveList() override;
    void maximize() override;
    void setBounds(int left, int top, int width, int height) override;
    void armScheduleTimer(bool enabled, int intervalMs) override;
    void postMessage(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) override;
    bool cleanInProgress() override;
    bool scanInProgress() override;
    void cancelClean() override;
    void cancelScan() override;
    void releaseJobList() override;
    WindowPlacement windowPlacement() override;
    void showHiddenBrowsers() override;
    void deleteHiveCopies() override;
    void terminate() override;
    void startUnattendedClean() override;
    bool waitForCleanRun(std::chrono::milliseconds limit) override;
    WindowMetrics windowMetrics() override;

  signals:
    // The window has ended the program's work (closed, or an unattended run
    // is over); the application should quit with this code.
    void terminated(int exitCode);

  protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createControls();
    QWidget* createTitleBar();
    QWidget* createNavigation();
    QWidget* createPanes();
    QToolButton* addNavButton(const char* name, const char* caption, int tag, int iconKind);
    void bHelpClick();
    void hideToTray(bool addIcon);
    void removeTrayIcon();
    void trayNotify(intptr_t mouseMessage);
    void armScheduleFromSettings();
    bool saveSettingsNow();
    void runAutoClean();
    void runUnattendedRegistryJob(uint32_t msg);
    void ensureOnScreen();
    void applyMinimumSize();
    void toggleBrowsers(uintptr_t hotkeyId);
    void Timer2Timer();
    void cleanRunEnded(bool removing);
    void registryScanEnded();
    QSize frameExtra() const;

    Machine& machine_;
    MainModel model_;
    MainLifecycle lifecycle_;
    QtMessageTarget messageTarget_;
    QtPrompter prompter_;

    QFrame* pTitle_ = nullptr;
    QLabel* lTitle_ = nullptr;
    QLabel* lTitleHint_ = nullptr;
    QLabel* lUpdate_ = nullptr;
    QLabel* iUpdate_ = nullptr;
    std::vector<QToolButton*> navButtons_;
    QToolButton* bOptions_ = nullptr;
    QMenu* pmMore_ = nullptr;
    QGroupBox* gbCleaner_ = nullptr;
    QGroupBox* gbRegistry_ = nullptr;
    QGroupBox* gbTools_ = nullptr;
    QGroupBox* gbDefrag_ = nullptr;
    CheckTreeView* tvCleanItems_ = nullptr;
    CleanerPane* cleanerPane_ = nullptr;
    CheckTreeView* tvRegistry_ = nullptr;
    RegistryPane* registryPane_ = nullptr;
    DefragPane* defragPane_ = nullptr;
    std::unique_ptr<QtTimerService> ownTimers_;
    TimerService* timers_ = nullptr;
    std::unique_ptr<ProgramTimer> Timer2_;  // the schedule
    ToolsPane* toolsPane_ = nullptr;
    QSystemTrayIcon* trayIcon_ = nullptr;
    QMenu* pmTray_ = nullptr;
    bool hiddenToTray_ = false;

    int currentTag_ = 0;
    int exitCode_ = 0;
    int hotkeyId_ = 0;
    QSize minimumWindowSize_;
    bool firstShowDone_ = false;
    bool terminated_ = false;
};

}  // namespace brisko
