#include "ui/reg_add_registry_dialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "registry/problem_list.h"
#include "ui/qt_text.h"
#include "ui/registry_entry_box.h"

namespace brisko {

TfrmRegAddRegistry::TfrmRegAddRegistry(Machine& machine, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TfrmRegAddRegistry"));
    setWindowTitle(qs(kRegAddCaption));
    setModal(true);

    box_ = new RegistryEntryBox(machine, qs(kRegAddGroupLabel), qs(kRegAddHint),
                                QStringLiteral("eRegistryKey"),
                                QStringLiteral("&Launch Registry Editor"), this);
    box_->hint()->setWordWrap(true);
    box_->keyEdit()->setMinimumWidth(420);

    connect(box_->keyEdit(), &QLineEdit::textChanged, this,
            &TfrmRegAddRegistry::eRegistryKeyChange);
    connect(box_->okButton(), &QPushButton::clicked, this, &QDialog::accept);
    eRegistryKeyChange();
}

QLineEdit* TfrmRegAddRegistry::eRegistryKey() const {
    return box_->keyEdit();
}

QPushButton* TfrmRegAddRegistry::okButton() const {
    return box_->okButton();
}

QPushButton* TfrmRegAddRegistry::cancelButton() const {
    return box_->cancelButton();
}

QPushButton* TfrmRegAddRegistry::regeditButton() const {
    return box_->regeditButton();
}

std::string TfrmRegAddRegistry::registryKey() const {
    return box_->key();
}

void TfrmRegAddRegistry::setRegistryKey(std::string_view text) {
    box_->keyEdit()->setText(qs(text));
}

void TfrmRegAddRegistry::eRegistryKeyChange() {
    box_->okButton()->setEnabled(box_->keyNamesRoot());
}

void TfrmRegAddRegistry::bRegeditClick() {
    box_->launchRegedit();
}

}  // namespace brisko
