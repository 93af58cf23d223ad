#pragma once
// The Cleaner pane's log list, progress bar, run buttons and "Fast Mode" box,
// and the run controller behind them. The widgets are children of the pane's
// group box (the window lays them out beside its clean tree); the run logic is
// CleanRunController's, and this class is its view.
#include <QObject>
#include <chrono>
#include <cstdint>
#include <memory>

#include "cleaner/clean_run.h"

class QAction;
class QCheckBox;
class QListView;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace brisko {

class CleanLogModel;
class QtCleanLog;
class QtMessageTarget;
class QtPrompter;
struct RunFlags;

class CleanerPane final : public QObject, public CleanRunView {
    Q_OBJECT

  public:
    struct Inputs {
        Machine& machine;
        TOptionsSetting& settings;
        CheckTree& cleanTree;
        QtPrompter& prompter;
        // Where the worker posts its messages; whoever receives them hands
        // them to handleMessage(). Null: the pane receives them itself.
        MessageTarget* window = nullptr;
        // The window's run flags, kept in step with the controller's.
        RunFlags* flags = nullptr;
    };

    // host is the pane's group box: the widgets become its children.
    CleanerPane(Inputs inputs, QWidget* host);
    ~CleanerPane() override;

    QListView* lMain() const { return lMain_; }
    QProgressBar* ProgressBar1() const { return ProgressBar1_; }
    QPushButton* bTest() const { return bTest_; }
    QPushButton* bClean() const { return bClean_; }
    QCheckBox* cbFastMode() const { return cbFastMode_; }
    QTimer* Timer1() const { return Timer1_; }
    QAction* aSaveText() const { return aSaveText_; }
    // The row below the tree and the log: Fast Mode, the bar, Test and Clean.
    QWidget* controlRow() const { return controlRow_; }

    CleanRunController& controller() { return *controller_; }
    CleanLogModel& logModel() { return *model_; }
    // The log's lines, including any the worker has written but the list does
    // not show yet.
    std::vector<std::string> logLines();

    // 0x5408, 0x5409 and 0x5430 as the window receives them.
    void handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam);

    // The Test button reads "Cancel".
    bool cleanInProgress() const;
    void cancelClean();
    // Schedule, "/Auto", "/Clear" and the end of the logon.
    StartResult startUnattendedClean();
    // Runs the event loop until the run ends or limit passes; true when it ended.
    bool waitForCleanRun(std::chrono::milliseconds limit);
    // Sets the box without it counting as the user's click.
    void setFastMode(bool on);

    void bTestClick();
    void bCleanClick();
    void cbFastModeClick();
    void Timer1Timer();
    // "S&ave to text file": the save dialog, then the file.
    void aSaveTextExecute();
    // A press on a label of the clean tree: "<New List>" under "Custom Lists"
    // opens the custom list editor once the press is over.
    void tvCleanItemsLabelPressed(CheckNode* node);
    // "Edit Custom Item" for the user's custom list; returns when it closes.
    void openCustomListEditor();

    // CleanRunView.
    bool confirmClean() override;
    void setTestButtonCaption(std::string_view caption) override;
    void showProgressBar() override;
    void setProgress(int position) override;
    void setProgressText(std::string_view text, bool shown) override;
    void setLogTextHidden(bool hidden) override;
    void clearLog() override;
    void setLogDoubleBuffered(bool on) override;
    void fitLogAndScrollToEnd() override;
    void setAnimationTimer(bool enabled) override;

  signals:
    // A run that began is over: finished, or cancelled and its worker gone.
    // removing: it was a run that removes (its registry changes
    // are to be written).
    void cleanRunEnded(bool removing);

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createControls();
    void syncFlags();
    void afterStart(StartResult result);
    void watchCancelledWorker(bool removing);
    void updateItemWidth();
    void updateSaveEnabled();
    void showLogMenu(const QPoint& pos);

    Inputs in_;
    QWidget* host_;
    std::unique_ptr<QtMessageTarget> ownTarget_;
    // Destroyed in reverse: the controller (which waits for its worker)
    // before the sink the worker writes into, the sink before the model.
    std::unique_ptr<CleanLogModel> model_;
    std::unique_ptr<QtCleanLog> sink_;
    std::unique_ptr<CleanRunController> controller_;

    QListView* lMain_ = nullptr;
    QProgressBar* ProgressBar1_ = nullptr;
    QPushButton* bTest_ = nullptr;
    QPushButton* bClean_ = nullptr;
    QCheckBox* cbFastMode_ = nullptr;
    QWidget* controlRow_ = nullptr;
    QTimer* Timer1_ = nullptr;
    QTimer* workerWatch_ = nullptr;
    QMenu* pmLog_ = nullptr;
    QAction* aSaveText_ = nullptr;

    bool logTextHidden_ = false;
    int fittedWidth_ = 0;  // widest line + 10 once a run has finished; 0 before
    bool watchRemoving_ = false;
};

}  // namespace brisko
