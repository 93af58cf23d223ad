#pragma once
// The Options dialog: five tabs over a working copy of the settings, plus the
// auto-start value in the Run key, the cookie keep list and the Boss Key's
// test registration. Nothing takes effect before "&OK"; "&Cancel" forgets it.
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;

namespace brisko {

class HotkeyEdit;
class Machine;
class Prompter;

// What the dialog asks of the main window after "&OK".
struct OptionsHost {
    // Withdraws the Boss Key registration and registers the settings' key when on.
    std::function<void()> reregisterHotkey;
    // Arms the schedule timer from the settings.
    std::function<void()> armSchedule;
    // Writes the settings file (with the window's trees and bounds); false on failure.
    std::function<bool()> saveSettings;
    // Writes the registry changes (the auto-start value) to the hives.
    std::function<bool()> commitRegistry;
};

class TfrmOptions final : public QDialog {
    Q_OBJECT

  public:
    TfrmOptions(Machine& machine, TOptionsSetting& settings, Prompter& prompter, OptionsHost host,
                QWidget* parent = nullptr);
    ~TfrmOptions() override;

    const TOptionsSetting& workingCopy() const { return work_; }
    QTabWidget* pages() const { return pcOptions_; }

    // Controls, by their names.
    QCheckBox* cbAutoStart = nullptr;
    QCheckBox* cbAskClear = nullptr;
    QCheckBox* cbWipeFile = nullptr;
    QComboBox* cbWipeNumber = nullptr;
    QCheckBox* cbDeleteBackupFile = nullptr;
    QCheckBox* cbIgnoreRemoveMedia = nullptr;
    QCheckBox* cbIncludeCDdrive = nullptr;
    QCheckBox* cbCreateRestore = nullptr;
    QCheckBox* cbFastScan = nullptr;
    QCheckBox* cbShowLogTempInternetFiles = nullptr;
    QCheckBox* cbShowLogRecycleBin = nullptr;
    QLineEdit* eOutputFolder = nullptr;
    QPushButton* bBrowse = nullptr;
    QListWidget* ListBox1 = nullptr;
    QListWidget* ListBox2 = nullptr;
    QPushButton* bAddCookies = nullptr;
    QPushButton* bRemoveCookies = nullptr;
    QPushButton* bAddAll = nullptr;
    QPushButton* bRemoveAll = nullptr;
    QCheckBox* cbAutoWash = nullptr;
    QGroupBox* rgWashInterval = nullptr;
    QRadioButton* rbInterval[5] = {};
    QCheckBox* cbStartWash = nullptr;
    QCheckBox* cbShutdownWash = nullptr;
    QRadioButton* suiRadioButton1 = nullptr;
    QRadioButton* suiRadioButton2 = nullptr;
    HotkeyEdit* eHide = nullptr;
    QLabel* lHotkeyService = nullptr;
    QCheckBox* cbIE = nullptr;
    QCheckBox* cbNetscape = nullptr;
    QCheckBox* cbFirefox = nullptr;
    QCheckBox* cbOpera = nullptr;
    QTabWidget* pcIgnore = nullptr;
    QTreeWidget* lvValues = nullptr;
    QTreeWidget* lvKeys = nullptr;
    QPushButton* bAdd = nullptr;
    QPushButton* bEdit = nullptr;
    QPushButton* bRemove = nullptr;
    QPushButton* bOK = nullptr;
    QPushButton* bCancel = nullptr;

    void bOKClick();
    void bBrowseClick();
    void bAddCookiesClick();
    void bRemoveCookiesClick();
    void bAddAllClick();
    void bRemoveAllClick();
    void bAddClick();
    void bEditClick();
    void bRemoveClick();
    void cbAutoWashClick();
    void cbWipeFileClick();

  private:
    QWidget* createCommonTab();
    QWidget* createCookiesTab();
    QWidget* createScheduleTab();
    QWidget* createBossKeyTab();
    QWidget* createIgnoreTab();
    void fillControls();
    void fillCookies();
    void controlsToWork();
    bool hotkeyTest();
    void moveCookie(QListWidget* from, QListWidget* to, QListWidgetItem* item);
    QTreeWidget* visibleIgnoreList() const;
    static void addIgnoreRow(QTreeWidget* list, const std::string& text);

    Machine& machine_;
    TOptionsSetting& settings_;
    Prompter& prompter_;
    OptionsHost host_;
    TOptionsSetting work_;
    QTabWidget* pcOptions_ = nullptr;

    // The Boss Key as it was when the dialog opened (or last passed its test).
    bool hotkeyOnAtOpen_ = false;
    QString hotkeyTextAtOpen_;
    std::string keyNameAtOpen_;
    unsigned keyCodeAtOpen_ = 0;
    std::vector<std::string> keepAtOpen_;  // the cookie keep list as read
};

}  // namespace brisko
