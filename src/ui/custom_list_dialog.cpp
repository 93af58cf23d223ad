#include "ui/custom_list_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "cleaner/items/custom_list.h"
#include "core/machine/machine.h"
#include "ui/custom_list_folder_dialog.h"
#include "ui/custom_list_registry_dialog.h"
#include "ui/qt_text.h"

namespace brisko {

TfrmNewCustomItem::TfrmNewCustomItem(Machine& machine, QWidget* parent)
    : QDialog(parent), machine_(machine) {
    setObjectName(QStringLiteral("TfrmNewCustomItem"));
    setWindowTitle(QStringLiteral("Edit Custom Item"));
    setModal(true);
    resize(600, 360);

    auto* lContent = new QLabel(QStringLiteral("Content"), this);
    lbContent_ = new QListWidget(this);
    lbContent_->setObjectName(QStringLiteral("lbContent"));
    lContent->setBuddy(lbContent_);

    bAddFolder_ = new QPushButton(QStringLiteral("Add &File && Folder"), this);
    bAddFolder_->setObjectName(QStringLiteral("bAddFolder"));
    bAddRegistry_ = new QPushButton(QStringLiteral("Add &Registry"), this);
    bAddRegistry_->setObjectName(QStringLiteral("bAddRegistry"));
    bEdit_ = new QPushButton(QStringLiteral("&Edit"), this);
    bEdit_->setObjectName(QStringLiteral("bEdit"));
    bRemove_ = new QPushButton(QStringLiteral("R&emove Selected"), this);
    bRemove_->setObjectName(QStringLiteral("bRemove"));
    bOK_ = new QPushButton(QStringLiteral("&OK"), this);
    bOK_->setObjectName(QStringLiteral("bOK"));
    bCancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel_->setObjectName(QStringLiteral("bCancel"));
    for (auto* b : {bAddFolder_, bAddRegistry_, bEdit_, bRemove_, bOK_, bCancel_})
        b->setAutoDefault(false);

    auto* side = new QVBoxLayout;
    side->addWidget(bAddFolder_);
    side->addWidget(bAddRegistry_);
    side->addWidget(bEdit_);
    side->addWidget(bRemove_);
    side->addStretch();
    auto* middle = new QHBoxLayout;
    middle->addWidget(lbContent_, 1);
    middle->addLayout(side);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK_);
    buttons->addWidget(bCancel_);
    auto* root = new QVBoxLayout(this);
    root->addWidget(lContent);
    root->addLayout(middle, 1);
    root->addLayout(buttons);

    connect(bAddFolder_, &QPushButton::clicked, this, &TfrmNewCustomItem::bAddFolderClick);
    connect(bAddRegistry_, &QPushButton::clicked, this, &TfrmNewCustomItem::bAddRegistryClick);
    connect(bEdit_, &QPushButton::clicked, this, &TfrmNewCustomItem::bEditClick);
    connect(bRemove_, &QPushButton::clicked, this, &TfrmNewCustomItem::bRemoveClick);
    connect(bOK_, &QPushButton::clicked, this, &TfrmNewCustomItem::bOKClick);
    connect(bCancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(lbContent_, &QListWidget::currentRowChanged, this, &TfrmNewCustomItem::updateButtons);
    connect(lbContent_, &QListWidget::itemDoubleClicked, this, [this] {
        if (bEdit_->isEnabled()) bEditClick();
    });

    for (const auto& row : loadCustomList(machine_)) addRow(row);
    updateButtons();
}

std::vector<std::string> TfrmNewCustomItem::rows() const {
    std::vector<std::string> out;
    for (int i = 0; i < lbContent_->count(); ++i)
        out.push_back(lbContent_->item(i)->text().toStdString());
    return out;
}

void TfrmNewCustomItem::addRow(const std::string& entry) {
    lbContent_->addItem(qs(entry));
}

void TfrmNewCustomItem::updateButtons() {
    auto* current = lbContent_->currentItem();
    bRemove_->setEnabled(current != nullptr);
    bEdit_->setEnabled(current && isRegistryRow(current->text().toStdString()));
    bOK_->setEnabled(lbContent_->count() > 0);
}

void TfrmNewCustomItem::bAddFolderClick() {
    TfrmAddFolder dialog(machine_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    addRow(dialog.entry());
    lbContent_->setCurrentRow(lbContent_->count() - 1);
    updateButtons();
}

void TfrmNewCustomItem::bAddRegistryClick() {
    TfrmAddRegistry dialog(machine_, this);
    if (dialog.exec() != QDialog::Accepted) return;
    addRow(dialog.entry());
    lbContent_->setCurrentRow(lbContent_->count() - 1);
    updateButtons();
}

// Only registry rows are edited; a file row is removed and added again.
void TfrmNewCustomItem::bEditClick() {
    auto* current = lbContent_->currentItem();
    if (!current || !isRegistryRow(current->text().toStdString())) return;
    TfrmAddRegistry dialog(machine_, this);
    dialog.setEntry(current->text().toStdString());
    if (dialog.exec() != QDialog::Accepted) return;
    current->setText(qs(dialog.entry()));
    updateButtons();
}

void TfrmNewCustomItem::bRemoveClick() {
    const int row = lbContent_->currentRow();
    if (row < 0) return;
    delete lbContent_->takeItem(row);
    const int count = lbContent_->count();
    if (count > 0) {
        lbContent_->setCurrentRow(row < count ? row : count - 1);
        lbContent_->setFocus();
    }
    updateButtons();
}

void TfrmNewCustomItem::bOKClick() {
    if (lbContent_->count() == 0) return;
    if (!saveCustomList(machine_, rows())) {
        QMessageBox::warning(
            this, QStringLiteral("Brisko Cleaner"),
            qs("The custom list could not be saved to " + customListPath(machine_) + "."));
        return;
    }
    accept();
}

}  // namespace brisko
