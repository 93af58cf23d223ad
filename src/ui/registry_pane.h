#pragma once
// The Registry pane: the section tree on the left, the problem list with its
// title, key display and status line on the right, the progress bar and the
// "Scan" button below. What the pane does is ScanRun's; the pane shows its
// state and forwards clicks, timer ticks and the worker's messages to it.
//
// The worker changes the run's state on its own thread. Those changes reach
// the widgets only through the UI thread: the pane is told, gathers the
// changes for a moment and then shows them all at once, so a hive walk that
// reports thousands of keys costs the window a few repaints a second.
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeView;

namespace brisko {

class CheckTreeView;
class Machine;
class MessageTarget;
class Prompter;
class ProblemListModel;
class ScanRun;
class ScannerTable;
struct MainModel;

class RegistryPane final : public QWidget {
    Q_OBJECT

  public:
    // tvRegistry (the section tree) joins the pane's layout. The model
    // supplies the sections, the settings, the Windows version and the
    // "/Clear" flag; all references must outlive the pane.
    RegistryPane(Machine& machine, MainModel& model, MessageTarget& target, Prompter& prompter,
                 const ScannerTable& scanners, CheckTreeView* tvRegistry,
                 QWidget* parent = nullptr);
    ~RegistryPane() override;

    // The pane's controller, made on first use (after the window's creation
    // steps have classified the Windows version).
    ScanRun& run();

    // "Scan" / "Cancel".
    void bScanClick();
    // WM_REGSCAN_SECTION and WM_REGSCAN_DONE.
    void handleMessage(uint32_t msg);
    bool scanInProgress() const;
    void cancelScan();

    // Shows the run's state now.
    void refresh();

    // The list actions, by action name ("aSelectAll" ...).
    QAction* action(std::string_view name) const;
    void aSelectAllExecute();
    void aSelectNoneExecute();
    void aSelectItemExecute();
    void aDeselectItemExecute();
    void aSelectAllTypeExecute();
    void aUnselectAllTypeExecute();
    void aIgnoreListAddExecute();
    // "Save as &Text...": asks for the file; saveAsText writes the list to it.
    void aSaveTextExecute();
    bool saveAsText(const QString& typed);
    // "&RegEdit...": the registry viewer at the selected row's key and value.
    void aOpenRegeditExecute();

    // "Fix Errors": backs up and deletes the checked rows. False when it
    // stopped before the rows (no backup folder, restore point cancelled).
    bool bFixErrorsClick();
    // "Restore": the backups, in TfrmRestore.
    void bRestoreRegistryClick();

    // Selects a row of the list as a click would (nullopt: none).
    void selectRow(std::optional<size_t> row);
    // Sets the enabling of the pop-up menu's items from the list's state.
    void updateActions();

    QTreeView* problemList() const { return lvRegistryData_; }
    ProblemListModel* problemModel() const { return model_.get(); }
    QMenu* popupMenu() const { return pmRegistry_; }
    QPushButton* scanButton() const { return bScan_; }
    QPushButton* fixButton() const { return bFixErrors_; }
    QPushButton* restoreButton() const { return bRestoreRegistry_; }
    QLabel* statusLabel() const { return lStatus_; }
    QLabel* failuresLabel() const { return lScanFailures_; }
    QLabel* titleLabel() const { return lScanTitle_; }
    QLineEdit* keyDisplay() const { return Memo1_; }
    QProgressBar* progressBar() const { return pbRegistry_; }

  signals:
    // Started with "/Clear" and no section ticked: the window closes.
    void closeRequested();
    // Started with "/Clear" and the scan has ended with every row checked.
    void autoClearScanEnded();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void createControls(CheckTreeView* tvRegistry);
    void createActions();
    void changedFromAnyThread();
    void sizeColumnsForEmptyList();
    void fitColumnsToContents();
    void syncSelection();
    void onViewSelectionChanged();
    void showPopup(const QPoint& pos);

    Machine& machine_;
    MainModel& mainModel_;
    MessageTarget& target_;
    Prompter& prompter_;
    const ScannerTable& scanners_;
    const std::thread::id uiThread_;  // the pane is made on the UI thread

    std::unique_ptr<ProblemListModel> model_;
    std::unique_ptr<ScanRun> run_;

    QLabel* lScanTitle_ = nullptr;
    QLineEdit* Memo1_ = nullptr;
    QTreeView* lvRegistryData_ = nullptr;
    QLabel* lStatus_ = nullptr;
    QLabel* lScanFailures_ = nullptr;
    QProgressBar* pbRegistry_ = nullptr;
    QPushButton* bScan_ = nullptr;
    QPushButton* bFixErrors_ = nullptr;
    QPushButton* bRestoreRegistry_ = nullptr;
    QMenu* pmRegistry_ = nullptr;
    QTimer* progressTimer_ = nullptr;
    QTimer* gatherTimer_ = nullptr;  // collects the worker's changes between repaints

    std::atomic<bool> refreshQueued_{false};
    bool wasScanning_ = false;
    bool resetList_ = false;   // rows were removed: the view starts over
    bool refreshing_ = false;  // refresh() runs; a nested call asks for another pass
    bool refreshAgain_ = false;
    bool syncingSelection_ = false;
    bool columnsSized_ = false;
};

}  // namespace brisko
