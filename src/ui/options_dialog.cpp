#include "ui/options_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/machine/machine.h"
#include "core/messages.h"
#include "core/options_edit.h"
#include "core/startup.h"
#include "ui/hotkey_edit.h"
#include "ui/machine_folder_dialog.h"
#include "ui/qt_prompter.h"
#include "ui/qt_text.h"
#include "ui/reg_add_registry_dialog.h"

namespace brisko {

namespace {

// The test registration's identifier; on Windows the "MyKTLVHotkey_Test" atom.
constexpr int kTestHotkeyId = 0xC002;

const char* const kWipeHint =
    "The more times a file is overwritten,the higher the security,and the longer the wash will "
    "take.";

QCheckBox* box(QWidget* parent, const char* name, const char* caption) {
    auto* cb = new QCheckBox(QString::fromUtf8(caption), parent);
    cb->setObjectName(QString::fromLatin1(name));
    return cb;
}

QPushButton* button(QWidget* parent, const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

}  // namespace

TfrmOptions::TfrmOptions(Machine& machine, TOptionsSetting& settings, Prompter& prompter,
                         OptionsHost host, QWidget* parent)
    : QDialog(parent),
      machine_(machine),
      settings_(settings),
      prompter_(prompter),
      host_(std::move(host)),
      work_(settings) {
    setObjectName(QStringLiteral("TfrmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    auto* layout = new QVBoxLayout(this);
    pcOptions_ = new QTabWidget(this);
    pcOptions_->setObjectName(QStringLiteral("pcOptions"));
    pcOptions_->addTab(createCommonTab(), QStringLiteral("Common"));
    pcOptions_->addTab(createCookiesTab(), QStringLiteral("Cookies"));
    pcOptions_->addTab(createScheduleTab(), QStringLiteral("Schedule"));
    pcOptions_->addTab(createBossKeyTab(), QStringLiteral("Boss Key"));
    pcOptions_->addTab(createIgnoreTab(), QStringLiteral("Ignore Lists"));
    layout->addWidget(pcOptions_, 1);

    auto* row = new QHBoxLayout;
    row->addStretch();
    bOK = button(this, "bOK", "&OK");
    bOK->setDefault(true);
    bCancel = button(this, "bCancel", "&Cancel");
    connect(bOK, &QPushButton::clicked, this, &TfrmOptions::bOKClick);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(bOK);
    row->addWidget(bCancel);
    layout->addLayout(row);

    fillControls();
    hotkeyOnAtOpen_ = work_.EnableHotkey;
    hotkeyTextAtOpen_ = eHide->text();
    keyNameAtOpen_ = work_.Hotkey.CharString;
    keyCodeAtOpen_ = work_.Hotkey.CharAscII;
    pcOptions_->setCurrentIndex(0);
    fillCookies();
}

TfrmOptions::~TfrmOptions() = default;

// ---------------------------------------------------------------- tabs

QWidget* TfrmOptions::createCommonTab() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    cbAutoStart = box(page, "cbAutoStart", "A&uto run when the computer starts");
    cbAskClear = box(page, "cbAskClear", "As&k before clearing the item");
    v->addWidget(cbAutoStart);
    v->addWidget(cbAskClear);
    auto* wipe = new QHBoxLayout;
    cbWipeFile = box(page, "cbWipeFile", "O&verwrite the cleared file,Number of times");
    cbWipeNumber = new QComboBox(page);
    cbWipeNumber->setObjectName(QStringLiteral("cbWipeNumber"));
    for (int i = 1; i <= 10; ++i) cbWipeNumber->addItem(QString::number(i));
    connect(cbWipeFile, &QCheckBox::clicked, this, &TfrmOptions::cbWipeFileClick);
    wipe->addWidget(cbWipeFile);
    wipe->addWidget(cbWipeNumber);
    wipe->addStretch();
    v->addLayout(wipe);
    cbDeleteBackupFile = box(page, "cbDeleteBackupFile",
                             "&Delete backup file after restoring the registry on restore dialog");
    cbIgnoreRemoveMedia =
        box(page, "cbIgnoreRemoveMedia", "&Ignore missing files on removable drives");
    cbIncludeCDdrive = box(page, "cbIncludeCDdrive", "Include all references to C&D drive");
    cbCreateRestore = box(page, "cbCreateRestore",
                          "Create a system &restore point before repair (XP, Vista, 7, 8)");
    cbFastScan =
        box(page, "cbFastScan", "&Fast mode, not show detailed log of all cleaner settings");
    cbShowLogTempInternetFiles =
        box(page, "cbShowLogTempInternetFiles", "Show detailed log of &Temporary Internet Files");
    cbShowLogRecycleBin =
        box(page, "cbShowLogRecycleBin", "Show detailed log of Empty Recycle &Bin");
    for (QCheckBox* cb :
         {cbDeleteBackupFile, cbIgnoreRemoveMedia, cbIncludeCDdrive, cbCreateRestore, cbFastScan,
          cbShowLogTempInternetFiles, cbShowLogRecycleBin})
        v->addWidget(cb);
    auto* group = new QGroupBox(
        QStringLiteral(
            "Select a destination folder to backup deleted registry entries by repairing"),
        page);
    group->setObjectName(QStringLiteral("gbOutputFolder"));
    auto* g = new QHBoxLayout(group);
    eOutputFolder = new QLineEdit(group);
    eOutputFolder->setObjectName(QStringLiteral("eOutputFolder"));
    bBrowse = button(group, "bBrowse", "...");
    bBrowse->setToolTip(QStringLiteral("Choose the folder"));
    connect(bBrowse, &QPushButton::clicked, this, &TfrmOptions::bBrowseClick);
    g->addWidget(eOutputFolder, 1);
    g->addWidget(bBrowse);
    v->addWidget(group);
    v->addStretch();
    return page;
}

QWidget* TfrmOptions::createCookiesTab() {
    auto* page = new QWidget;
    auto* grid = new QGridLayout(page);
    auto* lDelete = new QLabel(QStringLiteral("Cookies to &Delete"), page);
    auto* lKeep = new QLabel(QStringLiteral("Cookies to &Keep"), page);
    ListBox1 = new QListWidget(page);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox2 = new QListWidget(page);
    ListBox2->setObjectName(QStringLiteral("ListBox2"));
    lDelete->setBuddy(ListBox1);
    lKeep->setBuddy(ListBox2);
    for (QListWidget* l : {ListBox1, ListBox2}) l->setTextElideMode(Qt::ElideMiddle);
    bAddCookies = button(page, "bAddCookies", "Add         =>");
    bRemoveCookies = button(page, "bRemoveCookies", "Remove <=");
    bAddAll = button(page, "bAddAll", "Add All    =>");
    bRemoveAll = button(page, "bRemoveAll", "Remove All <=");
    connect(bAddCookies, &QPushButton::clicked, this, &TfrmOptions::bAddCookiesClick);
    connect(bRemoveCookies, &QPushButton::clicked, this, &TfrmOptions::bRemoveCookiesClick);
    connect(bAddAll, &QPushButton::clicked, this, &TfrmOptions::bAddAllClick);
    connect(bRemoveAll, &QPushButton::clicked, this, &TfrmOptions::bRemoveAllClick);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { moveCookie(ListBox1, ListBox2, item); });
    connect(ListBox2, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { moveCookie(ListBox2, ListBox1, item); });
    auto* mid = new QVBoxLayout;
    mid->addStretch();
    for (QPushButton* b : {bAddCookies, bRemoveCookies, bAddAll, bRemoveAll}) mid->addWidget(b);
    mid->addStretch();
    grid->addWidget(lDelete, 0, 0);
    grid->addWidget(lKeep, 0, 2);
    grid->addWidget(ListBox1, 1, 0);
    grid->addLayout(mid, 1, 1);
    grid->addWidget(ListBox2, 1, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    return page;
}

QWidget* TfrmOptions::createScheduleTab() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    cbAutoWash = box(page, "cbAutoWash", "&Automatic clean enabled");
    connect(cbAutoWash, &QCheckBox::clicked, this, &TfrmOptions::cbAutoWashClick);
    v->addWidget(cbAutoWash);
    rgWashInterval = new QGroupBox(QStringLiteral("Time Intervals"), page);
    rgWashInterval->setObjectName(QStringLiteral("rgWashInterval"));
    auto* grid = new QGridLayout(rgWashInterval);
    const char* captions[] = {"Every &15 minutes", "Every &30 minutes", "Every &hour",
                              "Every &4 hours", "Every &8 hours"};
    for (int i = 0; i < 5; ++i) {
        rbInterval[i] = new QRadioButton(QString::fromLatin1(captions[i]), rgWashInterval);
        rbInterval[i]->setObjectName(QStringLiteral("rbInterval%1").arg(i));
        // Two columns, filled top to bottom.
        grid->addWidget(rbInterval[i], i % 3, i / 3);
    }
    v->addWidget(rgWashInterval);
    cbStartWash = box(page, "cbStartWash", "Clean when Windows &start");
    cbShutdownWash = box(page, "cbShutdownWash", "Clean when Windows shut &down");
    v->addWidget(cbStartWash);
    v->addWidget(cbShutdownWash);
    v->addStretch();
    return page;
}

QWidget* TfrmOptions::createBossKeyTab() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    suiRadioButton1 = new QRadioButton(QStringLiteral("Do &not use Boss Key"), page);
    suiRadioButton1->setObjectName(QStringLiteral("suiRadioButton1"));
    suiRadioButton2 = new QRadioButton(QStringLiteral("A&ssign Boss Key to this hotkey"), page);
    suiRadioButton2->setObjectName(QStringLiteral("suiRadioButton2"));
    eHide = new HotkeyEdit(page);
    eHide->setObjectName(QStringLiteral("eHide"));
    eHide->setPlaceholderText(QStringLiteral("Press the keys"));
    connect(eHide, &HotkeyEdit::keyCaptured, this, [this] {
        work_.Hotkey.CharString = eHide->keyName();
        work_.Hotkey.CharAscII = uint16_t(eHide->keyCode());
    });
    v->addWidget(suiRadioButton1);
    v->addWidget(suiRadioButton2);
    v->addWidget(eHide);
    lHotkeyService = new QLabel(page);
    lHotkeyService->setObjectName(QStringLiteral("lHotkeyService"));
    lHotkeyService->setWordWrap(true);
    if (!machine_.hotkeys()) {
        // Said once, here: an offline machine has no keyboard to listen to.
        lHotkeyService->setText(QStringLiteral(
            "This machine has no global hot keys or windows to hide (it is a Windows installation "
            "opened from a folder). The Boss Key is saved for when Brisko Cleaner runs on it; "
            "nothing is registered now."));
    } else {
        lHotkeyService->hide();
    }
    v->addWidget(lHotkeyService);
    auto* group = new QGroupBox(QStringLiteral("Hide these types of windows with Boss Key"), page);
    group->setObjectName(QStringLiteral("gbBossWindows"));
    auto* g = new QGridLayout(group);
    cbIE = box(group, "cbIE", "&Internet Explorer");
    cbNetscape = box(group, "cbNetscape", "N&etscape");
    cbFirefox = box(group, "cbFirefox", "Mozilla &Firefox");
    cbOpera = box(group, "cbOpera", "&Opera");
    g->addWidget(cbIE, 0, 0);
    g->addWidget(cbNetscape, 0, 1);
    g->addWidget(cbFirefox, 1, 0);
    g->addWidget(cbOpera, 1, 1);
    v->addWidget(group);
    v->addStretch();
    return page;
}

QWidget* TfrmOptions::createIgnoreTab() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    auto* label =
        new QLabel(QStringLiteral("The following registry values and keys will be ignored:"), page);
    label->setWordWrap(true);
    v->addWidget(label);
    pcIgnore = new QTabWidget(page);
    pcIgnore->setObjectName(QStringLiteral("pcIgnore"));
    auto makeList = [&](const char* name) {
        auto* list = new QTreeWidget;
        list->setObjectName(QString::fromLatin1(name));
        list->setHeaderLabels({QStringLiteral("Items")});
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        list->setTextElideMode(Qt::ElideMiddle);
        connect(list, &QTreeWidget::itemDoubleClicked, this, [this] { bEditClick(); });
        return list;
    };
    lvValues = makeList("lvValues");
    lvKeys = makeList("lvKeys");
    pcIgnore->addTab(lvValues, QStringLiteral("Values"));
    pcIgnore->addTab(lvKeys, QStringLiteral("Keys"));
    v->addWidget(pcIgnore, 1);
    auto* row = new QHBoxLayout;
    row->addStretch();
    bAdd = button(page, "bAdd", "&Add");
    bEdit = button(page, "bEdit", "&Edit");
    bRemove = button(page, "bRemove", "&Remove");
    connect(bAdd, &QPushButton::clicked, this, &TfrmOptions::bAddClick);
    connect(bEdit, &QPushButton::clicked, this, &TfrmOptions::bEditClick);
    connect(bRemove, &QPushButton::clicked, this, &TfrmOptions::bRemoveClick);
    row->addWidget(bAdd);
    row->addWidget(bEdit);
    row->addWidget(bRemove);
    v->addLayout(row);
    return page;
}

// ---------------------------------------------------------------- settings <-> controls

void TfrmOptions::addIgnoreRow(QTreeWidget* list, const std::string& text) {
    auto* item = new QTreeWidgetItem(list, {qs(text)});
    item->setToolTip(0, item->text(0));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                   Qt::ItemNeverHasChildren);
    item->setCheckState(0, Qt::Unchecked);
}

void TfrmOptions::fillControls() {
    const TOptionsSetting& s = work_;
    cbAutoStart->setChecked(AutoStartEnabled(machine_));
    // Where no program of ours is installed, Windows would have nothing to start.
    if (const std::string why = AutoStartUnavailableReason(machine_); !why.empty()) {
        cbAutoStart->setEnabled(false);
        cbAutoStart->setToolTip(qs(why));
    }
    cbAskClear->setChecked(s.IsAskBeforeClear);
    cbWipeFile->setChecked(s.IsWipeFile);
    cbWipeNumber->setCurrentIndex(std::clamp(s.WipeNumber, 1, 10) - 1);
    cbDeleteBackupFile->setChecked(s.DeleteBackupFile);
    cbIgnoreRemoveMedia->setChecked(s.IncludeRemoveMedia);
    cbIncludeCDdrive->setChecked(s.IncludeCDdrive);
    cbCreateRestore->setChecked(s.RestorePoint);
    cbFastScan->setChecked(s.FastScan);
    cbShowLogTempInternetFiles->setChecked(s.ShowLogTempInternetFiles);
    cbShowLogRecycleBin->setChecked(s.ShowLogRecycleBin);
    eOutputFolder->setText(qs(s.OutputDirectory));
    cbAutoWash->setChecked(s.AutoClean);
    int interval = s.CleanInterval >= 0 && s.CleanInterval <= 4 ? s.CleanInterval : 0;
    rbInterval[interval]->setChecked(true);
    cbAutoWashClick();
    cbStartWash->setChecked(s.StartClean);
    cbShutdownWash->setChecked(s.ShutdownClean);
    (s.EnableHotkey ? suiRadioButton2 : suiRadioButton1)->setChecked(true);
    eHide->setText(qs(HotkeyText(s.Hotkey)));
    eHide->setKey(s.Hotkey.CharString, s.Hotkey.CharAscII);
    cbIE->setChecked(s.EnableIE);
    cbNetscape->setChecked(s.EnableNetscape);
    cbFirefox->setChecked(s.EnableFirefox);
    cbOpera->setChecked(s.EnableOpera);
    lvValues->clear();
    lvKeys->clear();
    for (const auto& v : s.IgnoreValueList) addIgnoreRow(lvValues, v);
    for (const auto& k : s.IgnoreKeyList) addIgnoreRow(lvKeys, k);
    if (s.IsWipeFile) cbWipeFile->setToolTip(QString::fromUtf8(kWipeHint));
}

void TfrmOptions::controlsToWork() {
    TOptionsSetting& s = work_;
    s.IsAskBeforeClear = cbAskClear->isChecked();
    s.IsWipeFile = cbWipeFile->isChecked();
    s.WipeNumber = cbWipeNumber->currentIndex() + 1;
    s.DeleteBackupFile = cbDeleteBackupFile->isChecked();
    s.IncludeRemoveMedia = cbIgnoreRemoveMedia->isChecked();
    s.IncludeCDdrive = cbIncludeCDdrive->isChecked();
    s.RestorePoint = cbCreateRestore->isChecked();
    s.FastScan = cbFastScan->isChecked();
    s.ShowLogTempInternetFiles = cbShowLogTempInternetFiles->isChecked();
    s.ShowLogRecycleBin = cbShowLogRecycleBin->isChecked();
    s.OutputDirectory = eOutputFolder->text().toStdString();
    s.AutoClean = cbAutoWash->isChecked();
    for (int i = 0; i < 5; ++i)
        if (rbInterval[i]->isChecked()) s.CleanInterval = i;
    s.StartClean = cbStartWash->isChecked();
    s.ShutdownClean = cbShutdownWash->isChecked();
    s.EnableHotkey = suiRadioButton2->isChecked();
    QString text = eHide->text();
    s.Hotkey.IsCtrl = text.contains(QLatin1String("Ctrl"));
    s.Hotkey.IsShift = text.contains(QLatin1String("Shift"));
    s.Hotkey.IsAlt = text.contains(QLatin1String("Alt"));
    s.Hotkey.CharString = eHide->keyName();
    s.Hotkey.CharAscII = uint16_t(eHide->keyCode());
    s.EnableIE = cbIE->isChecked();
    s.EnableNetscape = cbNetscape->isChecked();
    s.EnableFirefox = cbFirefox->isChecked();
    s.EnableOpera = cbOpera->isChecked();
    s.IgnoreValueList.clear();
    s.IgnoreKeyList.clear();
    for (int i = 0; i < lvValues->topLevelItemCount(); ++i)
        s.IgnoreValueList.push_back(lvValues->topLevelItem(i)->text(0).toStdString());
    for (int i = 0; i < lvKeys->topLevelItemCount(); ++i)
        s.IgnoreKeyList.push_back(lvKeys->topLevelItem(i)->text(0).toStdString());
    s.IgnoreValueCount = int32_t(s.IgnoreValueList.size());
    s.IgnoreKeyCount = int32_t(s.IgnoreKeyList.size());
}

void TfrmOptions::cbAutoWashClick() {
    rgWashInterval->setEnabled(cbAutoWash->isChecked());
}

void TfrmOptions::cbWipeFileClick() {
    if (cbWipeFile->isChecked()) {
        cbWipeFile->setToolTip(QString::fromUtf8(kWipeHint));
        // At once, not after the usual delay.
        QToolTip::showText(cbWipeFile->mapToGlobal(QPoint(0, cbWipeFile->height())),
                           cbWipeFile->toolTip(), cbWipeFile);
    } else {
        cbWipeFile->setToolTip(QString());
        QToolTip::hideText();
    }
}

void TfrmOptions::bBrowseClick() {
    MachineFolderDialog picker(machine_, QStringLiteral("Please select the directory"),
                               eOutputFolder->text().toStdString(), this);
    if (picker.exec() == QDialog::Accepted && !picker.folder().empty())
        eOutputFolder->setText(qs(picker.folder()));
}

// ---------------------------------------------------------------- OK

bool TfrmOptions::hotkeyTest() {
    if (eHide->text().isEmpty()) {
        prompter_.ask("The hotkey setting cannot be blank.", MB_OK | MB_ICONERROR);
        return false;
    }
    HotkeyService* hk = machine_.hotkeys();
    // Without the service nothing can be tried (the tab says so); the key is kept.
    if (!hk || eHide->text() == hotkeyTextAtOpen_) return true;
    unsigned mods = (work_.Hotkey.IsCtrl ? 2u : 0u) | (work_.Hotkey.IsShift ? 4u : 0u) |
                    (work_.Hotkey.IsAlt ? 1u : 0u);
    if (!hk->registerHotkey(kTestHotkeyId, mods, work_.Hotkey.CharAscII)) {
        // Without an identifier nothing was tried: the key itself may be fine.
        if (hk->lastFailure() == HotkeyService::Failure::NoIdentifier) {
            prompter_.ask("Hotkey setting failed, please run application again!",
                          MB_OK | MB_ICONERROR);
            return false;
        }
        prompter_.ask("The hotkey for Boss Key failed, please try to use other key!",
                      MB_OK | MB_ICONERROR);
        eHide->setText(hotkeyTextAtOpen_);
        eHide->setKey(keyNameAtOpen_, keyCodeAtOpen_);
        controlsToWork();
        return false;
    }
    hk->unregisterHotkey(kTestHotkeyId);
    keyNameAtOpen_ = work_.Hotkey.CharString;
    keyCodeAtOpen_ = work_.Hotkey.CharAscII;
    return true;
}

void TfrmOptions::bOKClick() {
    std::string folder = eOutputFolder->text().toStdString();
    if (folder.empty() || !machine_.files().directoryExists(folder)) {
        prompter_.ask(MissingBackupFolderText(folder), MB_OK | MB_ICONERROR);
        pcOptions_->setCurrentIndex(0);
        eOutputFolder->setFocus();
        return;
    }
    controlsToWork();
    bool hotkeyChanged = work_.EnableHotkey != hotkeyOnAtOpen_ ||
                         (work_.EnableHotkey && eHide->text() != hotkeyTextAtOpen_);
    if (hotkeyChanged && work_.EnableHotkey && !hotkeyTest()) return;

    settings_ = work_;
    if (hotkeyChanged && host_.reregisterHotkey) host_.reregisterHotkey();
    if (host_.armSchedule) host_.armSchedule();
    bool autoStartWritten = true;
    if (cbAutoStart->isEnabled()) {
        if (cbStartWash->isChecked()) cbAutoStart->setChecked(true);
        autoStartWritten = SetAutoStart(machine_, cbAutoStart->isChecked());
    }
    bool saved = host_.saveSettings ? host_.saveSettings()
                                    : SaveSettings(machine_, settings_, nullptr, nullptr, nullptr);
    std::vector<std::string> keep;
    for (int i = 0; i < ListBox2->count(); ++i)
        keep.push_back(ListBox2->item(i)->text().toStdString());
    // Unchanged, the file is left as it is (it may not even exist yet).
    bool keepWritten = keep == keepAtOpen_ || WriteCookieKeepList(machine_, keep);
    bool committed = !host_.commitRegistry || host_.commitRegistry();
    // The settings are in effect either way; say what could not be stored.
    std::string problems;
    if (!autoStartWritten || !committed)
        problems += "\nThe auto-start entry in the registry could not be changed.";
    if (!saved) problems += "\nThe settings file could not be written.";
    if (!keepWritten) problems += "\n\"Cookies.ini\" could not be written.";
    if (!problems.empty())
        prompter_.ask("Some options were not saved:" + problems, MB_OK | MB_ICONWARNING);
    accept();
}

// ---------------------------------------------------------------- cookies

void TfrmOptions::fillCookies() {
    if (UrlCacheService* cache = machine_.urlCache()) cache->endBrowserSession();
    ListBox1->clear();
    ListBox2->clear();
    std::vector<std::string> keep = ReadCookieKeepList(machine_);
    keepAtOpen_ = keep;
    for (const auto& k : keep) ListBox2->addItem(qs(k));
    for (const auto& host : ListCookieHosts(machine_, keep)) ListBox1->addItem(qs(host));
    for (QListWidget* l : {ListBox1, ListBox2})
        for (int i = 0; i < l->count(); ++i) l->item(i)->setToolTip(l->item(i)->text());
}

void TfrmOptions::moveCookie(QListWidget* from, QListWidget* to, QListWidgetItem* item) {
    if (!item) return;
    int row = from->row(item);
    to->addItem(from->takeItem(row));
    if (from->count() > 0) from->setCurrentRow(row < from->count() ? row : 0);
    if (to == ListBox2)
        ListBox2->setCurrentRow(0);
    else if (ListBox1->count() == 1)
        ListBox1->setCurrentRow(0);
}

void TfrmOptions::bAddCookiesClick() {
    if (ListBox1->currentItem() && ListBox1->currentItem()->isSelected())
        moveCookie(ListBox1, ListBox2, ListBox1->currentItem());
}

void TfrmOptions::bRemoveCookiesClick() {
    if (ListBox2->currentItem() && ListBox2->currentItem()->isSelected())
        moveCookie(ListBox2, ListBox1, ListBox2->currentItem());
}

void TfrmOptions::bAddAllClick() {
    while (ListBox1->count() > 0) ListBox2->addItem(ListBox1->takeItem(0));
    if (ListBox2->count() > 0) ListBox2->setCurrentRow(0);
}

void TfrmOptions::bRemoveAllClick() {
    while (ListBox2->count() > 0) ListBox1->addItem(ListBox2->takeItem(0));
    if (ListBox1->count() > 0) ListBox1->setCurrentRow(0);
}

// ---------------------------------------------------------------- ignore lists

QTreeWidget* TfrmOptions::visibleIgnoreList() const {
    return pcIgnore->currentIndex() == 1 ? lvKeys : lvValues;
}

void TfrmOptions::bAddClick() {
    TfrmRegAddRegistry dlg(machine_, this);
    if (dlg.exec() == QDialog::Accepted) addIgnoreRow(visibleIgnoreList(), dlg.registryKey());
}

void TfrmOptions::bEditClick() {
    QTreeWidget* list = visibleIgnoreList();
    QTreeWidgetItem* item = list->currentItem();
    if (!item || !item->isSelected()) return;
    TfrmRegAddRegistry dlg(machine_, this);
    dlg.setRegistryKey(item->text(0).toStdString());
    if (dlg.exec() == QDialog::Accepted) {
        item->setText(0, qs(dlg.registryKey()));
        item->setToolTip(0, item->text(0));
    }
}

void TfrmOptions::bRemoveClick() {
    QTreeWidget* list = visibleIgnoreList();
    for (int i = list->topLevelItemCount() - 1; i >= 0; --i)
        if (list->topLevelItem(i)->checkState(0) == Qt::Checked) delete list->takeTopLevelItem(i);
}

}  // namespace brisko
