#include "ui/custom_list_folder_dialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "base/text.h"
#include "cleaner/items/custom_list.h"
#include "cleaner/items/data_file_items.h"
#include "core/machine/machine.h"
#include "ui/custom_list_browse_dialog.h"
#include "ui/qt_text.h"

namespace brisko {

TfrmAddFolder::TfrmAddFolder(Machine& machine, QWidget* parent)
    : QDialog(parent), machine_(machine) {
    setObjectName(QStringLiteral("TfrmAddFolder"));
    setWindowTitle(QStringLiteral("Add File and Folder"));
    setModal(true);

    rbSingleFile_ = new QRadioButton(QStringLiteral("Delete single file"), this);
    rbSingleFile_->setObjectName(QStringLiteral("rbSingleFile"));
    rbMultipleFiles_ =
        new QRadioButton(QStringLiteral("Delete folders containing multiple files"), this);
    rbMultipleFiles_->setObjectName(QStringLiteral("rbMultipleFiles"));
    auto* kind = new QButtonGroup(this);
    kind->addButton(rbSingleFile_);
    kind->addButton(rbMultipleFiles_);
    rbSingleFile_->setChecked(true);

    auto* lFolder = new QLabel(QStringLiteral("Folder"), this);
    eFolder_ = new QLineEdit(this);
    eFolder_->setObjectName(QStringLiteral("eFolder"));
    eFolder_->setMinimumWidth(380);
    eFolder_->setToolTip(QStringLiteral(
        "A folder of this machine; it may begin with %windir%, %ProgramFiles%, {Local AppData}, "
        "{Current AppData}, {Common AppData} or {C: Drive}"));
    lFolder->setBuddy(eFolder_);
    bBrowse_ = new QPushButton(QStringLiteral("..."), this);
    bBrowse_->setObjectName(QStringLiteral("bBrowse"));
    bBrowse_->setAutoDefault(false);
    bBrowse_->setFixedWidth(32);

    gbSelectFile_ = new QGroupBox(QStringLiteral("Select file"), this);
    gbSelectFile_->setObjectName(QStringLiteral("gbSelectFile"));
    lbFiles_ = new QListWidget(gbSelectFile_);
    lbFiles_->setObjectName(QStringLiteral("lbFiles"));
    (new QVBoxLayout(gbSelectFile_))->addWidget(lbFiles_);

    gbDeletingMode_ = new QGroupBox(QStringLiteral("Select deleting mode"), this);
    gbDeletingMode_->setObjectName(QStringLiteral("gbDeletingMode"));
    rbDeleteFolder_ = new QRadioButton(QStringLiteral("Delete this folder"), gbDeletingMode_);
    rbDeleteFolder_->setObjectName(QStringLiteral("rbDeleteFolder"));
    rbWildcard_ = new QRadioButton(
        QStringLiteral("Delete files in this folder(use wildcard match)"), gbDeletingMode_);
    rbWildcard_->setObjectName(QStringLiteral("rbWildcard"));
    auto* mode = new QButtonGroup(this);
    mode->addButton(rbDeleteFolder_);
    mode->addButton(rbWildcard_);
    rbDeleteFolder_->setChecked(true);
    eMask_ = new QLineEdit(QStringLiteral("*."), gbDeletingMode_);
    eMask_->setObjectName(QStringLiteral("eMask"));
    auto* lExample = new QLabel(QStringLiteral("(For example: *.txt)"), gbDeletingMode_);
    lExample->setEnabled(false);
    auto* modeLayout = new QGridLayout(gbDeletingMode_);
    modeLayout->addWidget(rbDeleteFolder_, 0, 0, 1, 2);
    modeLayout->addWidget(rbWildcard_, 1, 0, 1, 2);
    modeLayout->addWidget(eMask_, 2, 0);
    modeLayout->addWidget(lExample, 2, 1);
    modeLayout->setRowStretch(3, 1);

    bOK_ = new QPushButton(QStringLiteral("&OK"), this);
    bOK_->setObjectName(QStringLiteral("bOK"));
    bOK_->setDefault(true);
    bCancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel_->setObjectName(QStringLiteral("bCancel"));

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(lFolder);
    folderRow->addWidget(eFolder_, 1);
    folderRow->addWidget(bBrowse_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK_);
    buttons->addWidget(bCancel_);
    auto* root = new QVBoxLayout(this);
    root->addWidget(rbSingleFile_);
    root->addWidget(rbMultipleFiles_);
    root->addLayout(folderRow);
    // The two groups share one place; only one is shown at a time.
    root->addWidget(gbSelectFile_, 1);
    root->addWidget(gbDeletingMode_, 1);
    root->addLayout(buttons);

    connect(rbSingleFile_, &QRadioButton::toggled, this, [this](bool on) {
        if (on) fillFiles();
        updateControls();
    });
    connect(eFolder_, &QLineEdit::textChanged, this, [this] {
        fillFiles();
        updateControls();
    });
    connect(lbFiles_, &QListWidget::currentRowChanged, this, &TfrmAddFolder::updateControls);
    for (auto* rb : {rbDeleteFolder_, rbWildcard_})
        connect(rb, &QRadioButton::toggled, this, &TfrmAddFolder::updateControls);
    connect(eMask_, &QLineEdit::textChanged, this, &TfrmAddFolder::updateControls);
    connect(bBrowse_, &QPushButton::clicked, this, &TfrmAddFolder::bBrowseClick);
    connect(bOK_, &QPushButton::clicked, this, &TfrmAddFolder::bOKClick);
    connect(bCancel_, &QPushButton::clicked, this, &QDialog::reject);
    updateControls();
}

std::string TfrmAddFolder::existingFolder() const {
    const std::string text = eFolder_->text().trimmed().toStdString();
    if (text.empty()) return {};
    auto target = resolveFileEntry(machine_, text);
    if (!target || !machine_.files().directoryExists(target->folder)) return {};
    return target->folder;
}

void TfrmAddFolder::fillFiles() {
    lbFiles_->clear();
    if (!rbSingleFile_->isChecked()) return;
    const std::string folder = existingFolder();
    if (folder.empty()) return;
    auto entries = machine_.files().findFiles(folder, "*");
    if (!entries) return;
    QStringList names;
    for (const auto& e : *entries)
        if (!e.isDirectory()) names << qs(e.name);
    names.sort(Qt::CaseInsensitive);
    lbFiles_->addItems(names);
}

void TfrmAddFolder::updateControls() {
    const bool single = rbSingleFile_->isChecked();
    gbSelectFile_->setVisible(single);
    gbDeletingMode_->setVisible(!single);
    eMask_->setEnabled(rbWildcard_->isChecked());
    bool ok = !existingFolder().empty();
    if (single)
        ok = ok && lbFiles_->currentRow() >= 0;
    else if (rbWildcard_->isChecked())
        ok = ok && eMask_->text().size() > 2;
    bOK_->setEnabled(ok);
}

std::string TfrmAddFolder::entry() const {
    const std::string folder = eFolder_->text().trimmed().toStdString();
    if (rbSingleFile_->isChecked()) {
        auto* item = lbFiles_->currentItem();
        return folder + "," + (item ? item->text().toStdString() : std::string());
    }
    if (rbDeleteFolder_->isChecked()) return folder;
    return folder + "," + eMask_->text().trimmed().toStdString();
}

void TfrmAddFolder::bBrowseClick() {
    TfrmBrowseFolder browse(machine_, this);
    const std::string current = existingFolder();
    if (!current.empty()) browse.selectFolder(current);
    if (browse.exec() != QDialog::Accepted || browse.folder().empty()) return;
    eFolder_->setText(qs(browse.folder()));  // refills the file list
}

void TfrmAddFolder::bOKClick() {
    if (auto why = refuseNewListEntry(machine_, entry())) {
        QMessageBox::warning(this, QStringLiteral("Brisko Cleaner"), qs(*why));
        eFolder_->setFocus();
        return;
    }
    accept();
}

}  // namespace brisko
