#include "ui/tools_pane.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/text.h"
#include "core/machine/machine.h"
#include "core/messages.h"
#include "core/settings.h"
#include "tools/startup_delete.h"
#include "ui/elided_label.h"
#include "ui/qt_prompter.h"
#include "ui/qt_text.h"
#include "ui/restore_dialog.h"

namespace brisko {

namespace {

enum Column { kColName, kColFile, kColLocation };

}  // namespace

ToolsPane::ToolsPane(Machine& machine, TOptionsSetting& settings, Prompter& prompter,
                     int windowsVersionCode, QWidget* parent)
    : QWidget(parent),
      machine_(machine),
      settings_(settings),
      prompter_(prompter),
      versionCode_(windowsVersionCode) {
    setObjectName(QStringLiteral("ToolsPane"));
    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(10);

    toolColumn_ = new QVBoxLayout;
    toolColumn_->setSpacing(6);
    bStartup_ = new QPushButton(QStringLiteral("&Startup"), this);
    bStartup_->setObjectName(QStringLiteral("bStartup"));
    bStartup_->setToolTip(
        QStringLiteral("Startup manager for Windows to optimize Windows startup configuration"));
    connect(bStartup_, &QPushButton::clicked, this, &ToolsPane::bStartupClick);
    toolColumn_->addWidget(bStartup_);
    // Under "Startup": what the Startup manager deleted comes back from here.
    bRestoreStartup_ = new QPushButton(QStringLiteral("&Restore..."), this);
    bRestoreStartup_->setObjectName(QStringLiteral("bRestoreStartup"));
    bRestoreStartup_->setToolTip(
        QStringLiteral("Put back startup entries deleted here, from their backups"));
    connect(bRestoreStartup_, &QPushButton::clicked, this, &ToolsPane::bRestoreStartupClick);
    toolColumn_->addWidget(bRestoreStartup_);

    bWindowsBackup_ = new QPushButton(QStringLiteral("&Windows Backup..."), this);
    bWindowsBackup_->setObjectName(QStringLiteral("bWindowsBackup"));
    connect(bWindowsBackup_, &QPushButton::clicked, this, &ToolsPane::bWindowsBackupClick);
    std::string program = backupProgram();
    if (program.empty()) {
        // A disabled button shows no tool tip on most styles; the text says why too.
        bWindowsBackup_->setEnabled(false);
        bWindowsBackup_->setToolTip(QStringLiteral(
            "This machine has no Windows backup program (neither ntbackup.exe nor sdclt.exe in "
            "its system folder)."));
    } else {
        bWindowsBackup_->setToolTip(
            QStringLiteral("Use the windows backup tool to backup the system (%1)")
                .arg(qs(program)));
    }
    toolColumn_->addWidget(bWindowsBackup_);
    toolColumn_->addStretch();
    root->addLayout(toolColumn_);

    auto* right = new QVBoxLayout;
    lvStartup_ = new QTreeWidget(this);
    lvStartup_->setObjectName(QStringLiteral("lvStartup"));
    lvStartup_->setRootIsDecorated(false);
    lvStartup_->setUniformRowHeights(true);
    lvStartup_->setAllColumnsShowFocus(true);
    lvStartup_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvStartup_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvStartup_->setHeaderLabels(
        {QStringLiteral("Startup Program"), QStringLiteral("File"), QStringLiteral("Location")});
    lvStartup_->header()->setStretchLastSection(true);
    lvStartup_->setColumnWidth(kColName, 160);
    lvStartup_->setColumnWidth(kColFile, 220);
    connect(lvStartup_, &QTreeWidget::itemChanged, this, [this] { updateButtons(); });
    right->addWidget(lvStartup_, 1);

    auto* buttons = new QHBoxLayout;
    lStatus_ = new ElidedLabel(this);
    lStatus_->setObjectName(QStringLiteral("lStartupStatus"));
    buttons->addWidget(lStatus_, 1);
    bSelectAll_ = new QPushButton(QStringLiteral("Select &All"), this);
    bSelectAll_->setObjectName(QStringLiteral("bSelectAll"));
    bSelectAll_->setToolTip(QStringLiteral("Select all entries in the list"));
    connect(bSelectAll_, &QPushButton::clicked, this, &ToolsPane::bSelectAllClick);
    bSelectNone_ = new QPushButton(QStringLiteral("Select &None"), this);
    bSelectNone_->setObjectName(QStringLiteral("bSelectNone"));
    bSelectNone_->setToolTip(QStringLiteral("Cancel all entries in the list"));
    connect(bSelectNone_, &QPushButton::clicked, this, &ToolsPane::bSelectNoneClick);
    bDeleteEntry_ = new QPushButton(QStringLiteral("&Delete Entry"), this);
    bDeleteEntry_->setObjectName(QStringLiteral("bDeleteEntry"));
    bDeleteEntry_->setToolTip(QStringLiteral("Delete the selected entries"));
    connect(bDeleteEntry_, &QPushButton::clicked, this, &ToolsPane::bDeleteEntryClick);
    buttons->addWidget(bSelectAll_);
    buttons->addWidget(bSelectNone_);
    buttons->addSpacing(20);
    buttons->addWidget(bDeleteEntry_);
    right->addLayout(buttons);
    root->addLayout(right, 1);

    setTabOrder(bStartup_, bRestoreStartup_);
    setTabOrder(bRestoreStartup_, bWindowsBackup_);
    setTabOrder(bWindowsBackup_, lvStartup_);
    setTabOrder(lvStartup_, bSelectAll_);
    setTabOrder(bSelectAll_, bSelectNone_);
    setTabOrder(bSelectNone_, bDeleteEntry_);
    updateButtons();
}

QPushButton* ToolsPane::addToolButton(const QString& objectName, const QString& caption,
                                      const QString& hint, std::function<void()> onClick) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(objectName);
    b->setToolTip(hint);
    connect(b, &QPushButton::clicked, this, [onClick = std::move(onClick)] {
        if (onClick) onClick();
    });
    // Above "Windows Backup..." and the stretch.
    toolColumn_->insertWidget(toolColumn_->indexOf(bWindowsBackup_), b);
    QWidget::setTabOrder(toolColumn_->itemAt(toolColumn_->indexOf(b) - 1)->widget(), b);
    QWidget::setTabOrder(b, bWindowsBackup_);
    return b;
}

std::string ToolsPane::backupProgram() const {
    std::string system = includeTrailingBackslash(machine_.systemDirectory());
    for (const char* name : {"ntbackup.exe", "sdclt.exe"})
        if (machine_.files().fileExists(system + name)) return system + name;
    return {};
}

void ToolsPane::hideWindowsBackup() {
    bWindowsBackup_->hide();
}

void ToolsPane::bWindowsBackupClick() {
    std::string program = backupProgram();
    if (program.empty() || !machine_.shellExecute("Open", program, "")) {
        prompter_.ask("Windows Backup cannot be started on this machine" +
                          (program.empty() ? std::string(".") : " (" + program + ")."),
                      MB_OK | MB_ICONINFORMATION);
    }
}

void ToolsPane::bRestoreStartupClick() {
    TfrmRestore dialog(machine_, settings_, prompter_, window());
    dialog.setNameFilter(kStartupBackupMark);
    dialog.exec();
    // A restore brings entries back; the list shows what the machine holds.
    bStartupClick();
}

void ToolsPane::addRow(const StartupEntry& e) {
    auto* item = new QTreeWidgetItem;
    item->setText(kColName, qs(e.name));
    item->setText(kColFile, qs(e.file));
    item->setText(kColLocation, qs(e.location));
    // Cells cut by their column still show in full as a tool tip.
    for (int c = 0; c < 3; ++c) item->setToolTip(c, item->text(c));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
                   Qt::ItemNeverHasChildren);
    item->setCheckState(kColName, Qt::Unchecked);
    lvStartup_->addTopLevelItem(item);
}

void ToolsPane::bStartupClick() {
    QSignalBlocker block(lvStartup_);
    lvStartup_->clear();
    rows_ = ListStartupEntries(machine_, versionCode_);
    lvStartup_->setUpdatesEnabled(false);
    for (const StartupEntry& e : rows_) addRow(e);
    if (!rows_.empty()) {
        for (int c = 0; c < 3; ++c) lvStartup_->resizeColumnToContents(c);
    }
    lvStartup_->setUpdatesEnabled(true);
    lStatus_->setFullText(rows_.size() == 1 ? QStringLiteral("1 entry")
                                            : QStringLiteral("%1 entries").arg(rows_.size()));
    updateButtons();
}

void ToolsPane::bSelectAllClick() {
    QSignalBlocker block(lvStartup_);
    for (int i = 0; i < lvStartup_->topLevelItemCount(); ++i)
        lvStartup_->topLevelItem(i)->setCheckState(kColName, Qt::Checked);
    updateButtons();
}

void ToolsPane::bSelectNoneClick() {
    QSignalBlocker block(lvStartup_);
    for (int i = 0; i < lvStartup_->topLevelItemCount(); ++i)
        lvStartup_->topLevelItem(i)->setCheckState(kColName, Qt::Unchecked);
    updateButtons();
}

void ToolsPane::updateButtons() {
    int n = lvStartup_->topLevelItemCount();
    bool anyTicked = false;
    for (int i = 0; i < n && !anyTicked; ++i)
        anyTicked = lvStartup_->topLevelItem(i)->checkState(kColName) == Qt::Checked;
    bSelectAll_->setEnabled(n > 0);
    bSelectNone_->setEnabled(n > 0);
    bDeleteEntry_->setEnabled(anyTicked);
}

void ToolsPane::bDeleteEntryClick() {
    std::string folder = settings_.OutputDirectory;
    if (!folder.empty() && !machine_.files().directoryExists(folder)) {
        int a = prompter_.ask(folder + ",can not find the backup folder.\ncreates a new directory?",
                              MB_YESNO | MB_ICONINFORMATION);
        if (a != IDYES) return;
        if (!machine_.files().forceDirectories(folder)) {
            prompter_.ask("Cannot create " + folder, MB_OK | MB_ICONERROR);
            return;
        }
    }
    StartupBackup backup(machine_, folder);
    std::vector<std::string> failures;
    size_t deleted = 0;
    QSignalBlocker block(lvStartup_);
    // Bottom-up, so removing a row does not move the rows still to be visited.
    for (int i = lvStartup_->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = lvStartup_->topLevelItem(i);
        if (item->checkState(kColName) != Qt::Checked || size_t(i) >= rows_.size()) continue;
        StartupDeleteResult r = DeleteStartupEntry(machine_, rows_[size_t(i)], backup);
        if (!r.rowGone()) {
            failures.push_back(rows_[size_t(i)].name + ": " + r.message);
            continue;
        }
        if (r.outcome == StartupDeleteOutcome::Deleted) ++deleted;
        delete lvStartup_->takeTopLevelItem(i);
        rows_.erase(rows_.begin() + i);
    }
    bool written = !commitRegistry || commitRegistry();
    updateButtons();
    lStatus_->setFullText(
        backup.regFile().empty()
            ? QStringLiteral("%1 deleted").arg(deleted)
            : QStringLiteral("%1 deleted; backup in %2").arg(deleted).arg(qs(backup.regFile())));
    if (!failures.empty()) {
        std::string text = "These entries were not deleted:\n";
        for (const auto& f : failures) text += "\n" + f;
        prompter_.ask(text, MB_OK | MB_ICONWARNING);
    }
    if (!written) bStartupClick();  // show what the machine really holds
}

}  // namespace brisko
