#include "ui/restore_dialog.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "base/text.h"
#ifndef _WIN32
#include "core/machine/image/image_files.h"
#include "core/machine/image/image_machine.h"
#endif
#include "core/messages.h"
#include "core/settings.h"
#include "registry/backup_store.h"
#include "registry/registry_fix.h"
#include "ui/backup_hint_dialog.h"
#include "ui/qt_text.h"

namespace brisko {

namespace {
std::string str(const QString& s) {
    return s.toUtf8().toStdString();
}
// Name order without case, newest (largest) name first.
class BackupItem : public QTreeWidgetItem {
  public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
    }
};
}  // namespace

TfrmRestore::TfrmRestore(Machine& machine, const TOptionsSetting& settings, Prompter& prompter,
                         QWidget* parent)
    : QDialog(parent), machine_(machine), settings_(settings), prompter_(prompter) {
    setObjectName(QStringLiteral("frmRestore"));
    setWindowTitle(qs(kProgramTitle));
    auto* group = new QGroupBox(qs(kRestoreGroupCaption), this);
    eFolder_ = new QLineEdit(group);
    eFolder_->setObjectName(QStringLiteral("eFolder"));
    auto* bBrowse = new QPushButton(QStringLiteral("..."), group);
    bBrowse->setObjectName(QStringLiteral("bBrowse"));
    bBrowse->setFixedWidth(32);
    auto* folderRow = new QHBoxLayout(group);
    folderRow->addWidget(eFolder_, 1);
    folderRow->addWidget(bBrowse);

    ListView1_ = new QTreeWidget(this);
    ListView1_->setObjectName(QStringLiteral("ListView1"));
    ListView1_->setHeaderLabels(
        {QStringLiteral("Backup file"), QStringLiteral("Date"), QStringLiteral("Size")});
    ListView1_->setRootIsDecorated(false);
    ListView1_->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1_->setMinimumSize(520, 260);
    ListView1_->header()->setSectionResizeMode(0, QHeaderView::Stretch);

    bRestore_ = new QPushButton(QStringLiteral("&Restore"), this);
    bRestore_->setObjectName(QStringLiteral("bRestore"));
    auto* bOpen = new QPushButton(QStringLiteral("&Open Directory"), this);
    bOpen->setObjectName(QStringLiteral("bOpenDirectory"));
    bDelete_ = new QPushButton(QStringLiteral("&Delete"), this);
    bDelete_->setObjectName(QStringLiteral("bDelete"));
    auto* bClose = new QPushButton(QStringLiteral("&Close"), this);
    bClose->setObjectName(QStringLiteral("bClose"));
    auto* buttons = new QHBoxLayout;
    for (auto* b : {bRestore_, bOpen, bDelete_}) buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(bClose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(ListView1_, 1);
    layout->addLayout(buttons);

    connect(bBrowse, &QPushButton::clicked, this, &TfrmRestore::bBrowseClick);
    connect(bOpen, &QPushButton::clicked, this, &TfrmRestore::bOpenDirectoryClick);
    connect(bRestore_, &QPushButton::clicked, this, &TfrmRestore::bRestoreClick);
    connect(bDelete_, &QPushButton::clicked, this, &TfrmRestore::bDeleteClick);
    connect(bClose, &QPushButton::clicked, this, &QDialog::accept);
    connect(ListView1_, &QTreeWidget::itemSelectionChanged, this, &TfrmRestore::updateButtons);
    connect(ListView1_, &QTreeWidget::itemDoubleClicked, this, [this] { bRestoreClick(); });
    updateButtons();
}

void TfrmRestore::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    setFolder(qs(settings_.OutputDirectory));
}

void TfrmRestore::setFolder(const QString& folder) {
    eFolder_->setText(folder);
    ListView1_->clear();
    fillList();
}

void TfrmRestore::fillList() {
    auto rows = listBackups(machine_.files(), str(eFolder_->text()));
    if (!rows) {
        prompter_.ask(kNoBackupFolderText, MB_OK | MB_ICONINFORMATION);
        return;
    }
    ListView1_->setSortingEnabled(false);
    ListView1_->clear();
    const QLocale locale = QLocale::system();
    for (const auto& r : *rows) {
        if (!nameFilter_.empty() && findNoCase(r.name, nameFilter_) == std::string::npos) continue;
        QDateTime when = QDateTime::fromSecsSinceEpoch(fileTimeToUnix(r.writeTime));
        auto* item = new BackupItem(ListView1_);
        item->setText(0, qs(r.name));
        item->setText(1, locale.toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                             locale.toString(when.time(), QLocale::LongFormat));
        item->setText(2, qs(backupSizeText(r.size) + (r.whole ? "" : " (cut short)")));
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    }
    ListView1_->setSortingEnabled(true);
    ListView1_->sortByColumn(0, Qt::DescendingOrder);
    ListView1_->resizeColumnToContents(1);
    updateButtons();
}

void TfrmRestore::bBrowseClick() {
    // The folders are the machine's: the dialog starts where the field points.
#ifdef _WIN32
    QString start = eFolder_->text();
    QString chosen = QFileDialog::getExistingDirectory(this, qs(kBrowsePrompt), start);
    if (chosen.isEmpty()) return;
    std::string folder = str(QDir::toNativeSeparators(chosen));
#else
    auto* image = dynamic_cast<ImageMachine*>(&machine_);
    QString start;
    if (image)
        if (auto host = image->imageFiles().resolve(str(eFolder_->text())))
            start = QString::fromStdString(host->string());
    QString chosen = QFileDialog::getExistingDirectory(this, qs(kBrowsePrompt), start);
    if (chosen.isEmpty()) return;
    std::string folder = str(chosen);
    if (image) {
        auto win = image->imageFiles().toWindowsPath(chosen.toStdString());
        if (!win) {
            prompter_.ask("The folder " + folder + " is not on this machine.",
                          MB_OK | MB_ICONINFORMATION);
            return;
        }
        folder = *win;
    }
#endif
    setFolder(qs(folder));
}

void TfrmRestore::bOpenDirectoryClick() {
    std::string folder = str(eFolder_->text());
    bool opened = false;
#ifndef _WIN32
    if (auto* image = dynamic_cast<ImageMachine*>(&machine_)) {
        if (auto host = image->imageFiles().resolve(folder))
            opened = QDesktopServices::openUrl(
                QUrl::fromLocalFile(QString::fromStdString(host->string())));
    } else
#endif
    {
        opened = machine_.shellExecute("Open", folder, "");
    }
    if (!opened)
        prompter_.ask("The folder " + folder + " cannot be opened: " +
                          (machine_.files().directoryExists(folder)
                               ? std::string("this desktop has no program to show folders.")
                               : std::string(kNoBackupFolderText)),
                      MB_OK | MB_ICONINFORMATION);
}

std::string TfrmRestore::selectedPath() const {
    auto* item = ListView1_->currentItem();
    if (!item || !item->isSelected()) return {};
    return backupPath(str(eFolder_->text()), str(item->text(0)));
}

void TfrmRestore::bRestoreClick() {
    std::string file = selectedPath();
    if (file.empty()) return;
    // A backup cut short (a full disk, a kill) would put cut values in place.
    if (!backupEndsWhole(machine_.files(), file)) {
        prompter_.ask(file + " is cut short and cannot be restored.", MB_OK | MB_ICONERROR);
        return;
    }
    bool ok = RunRegedit(machine_, prompter_, "Regedit /s \"" + file + "\"", kRestoreHint, this);
    if (ok && settings_.DeleteBackupFile) bDeleteClick();
}

void TfrmRestore::bDeleteClick() {
    std::string file = selectedPath();
    if (file.empty()) return;
    int index = ListView1_->indexOfTopLevelItem(ListView1_->currentItem());
    if (!deleteBackup(machine_.files(), file)) {
        prompter_.ask("Cannot delete " + file + ".", MB_OK | MB_ICONERROR);
        return;
    }
    delete ListView1_->takeTopLevelItem(index);
    int count = ListView1_->topLevelItemCount();
    if (count > 0) {
        auto* next = ListView1_->topLevelItem(std::min(index, count - 1));
        ListView1_->setCurrentItem(next);
        next->setSelected(true);
    }
    updateButtons();
}

void TfrmRestore::updateButtons() {
    bool selected = !ListView1_->selectedItems().isEmpty();
    bRestore_->setEnabled(selected);
    bDelete_->setEnabled(selected);
}

}  // namespace brisko
