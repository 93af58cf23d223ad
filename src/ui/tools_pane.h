#pragma once
// The Tools pane: a column of tool buttons and the Startup manager's list.
// "Startup" fills the list of programs Windows starts at logon; ticked rows
// are deleted after a backup in the registry backup folder. Other dialogs of
// the program put their buttons into the column with addToolButton.
#include <QWidget>
#include <functional>
#include <vector>

#include "tools/startup_list.h"

class QPushButton;
class QTreeWidget;
class QVBoxLayout;

namespace brisko {

class ElidedLabel;
class Machine;
class Prompter;
struct TOptionsSetting;

class ToolsPane final : public QWidget {
    Q_OBJECT

  public:
    ToolsPane(Machine& machine, TOptionsSetting& settings, Prompter& prompter,
              int windowsVersionCode, QWidget* parent = nullptr);

    // Adds a button to the tool column (below the ones already there, above
    // "Windows Backup..."). The pane owns it.
    QPushButton* addToolButton(const QString& objectName, const QString& caption,
                               const QString& hint, std::function<void()> onClick);

    QTreeWidget* lvStartup() const { return lvStartup_; }
    QPushButton* bWindowsBackup() const { return bWindowsBackup_; }
    QPushButton* bRestoreStartup() const { return bRestoreStartup_; }
    // The line under the list: the count, or what the last deletion did and
    // where its backup went (the whole path in its tool tip).
    ElidedLabel* statusLine() const { return lStatus_; }
    const std::vector<StartupEntry>& rows() const { return rows_; }
    // Called after registry changes, so they reach the hive files; the main
    // window sets it. False: the changes were not written.
    std::function<bool()> commitRegistry;

    void bStartupClick();
    void bDeleteEntryClick();
    void bSelectAllClick();
    void bSelectNoneClick();
    void bWindowsBackupClick();
    // "Restore...": the startup backups in the Restore dialog; the list is
    // read again afterwards.
    void bRestoreStartupClick();
    // Hides "Windows Backup..." (the 9x family has none).
    void hideWindowsBackup();

  private:
    void addRow(const StartupEntry& e);
    void updateButtons();
    // The Windows path of the machine's backup program; empty when it has none.
    std::string backupProgram() const;

    Machine& machine_;
    TOptionsSetting& settings_;
    Prompter& prompter_;
    int versionCode_;
    std::vector<StartupEntry> rows_;

    QVBoxLayout* toolColumn_ = nullptr;
    QPushButton* bStartup_ = nullptr;
    QPushButton* bWindowsBackup_ = nullptr;
    QTreeWidget* lvStartup_ = nullptr;
    QPushButton* bDeleteEntry_ = nullptr;
    QPushButton* bSelectAll_ = nullptr;
    QPushButton* bSelectNone_ = nullptr;
    QPushButton* bRestoreStartup_ = nullptr;
    ElidedLabel* lStatus_ = nullptr;
};

}  // namespace brisko
