#include "ui/custom_list_registry_dialog.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <iterator>

#include "cleaner/items/custom_list.h"
#include "ui/qt_text.h"
#include "ui/registry_entry_box.h"

namespace brisko {

TfrmAddRegistry::TfrmAddRegistry(Machine& machine, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TfrmAddRegistry"));
    setWindowTitle(QStringLiteral("Add Registry"));
    setModal(true);

    box_ = new RegistryEntryBox(
        machine, QStringLiteral("Registry Key"),
        QStringLiteral("Enter the registry key like: HKEY_CURRENT_USER\\Software\\Microsoft"),
        QStringLiteral("eKey"), QStringLiteral("&Run Registry Editor"), this);
    box_->keyEdit()->setMinimumWidth(440);

    rbDeleteKey_ = new QRadioButton(QStringLiteral("Delete key"), box_);
    rbDeleteKey_->setObjectName(QStringLiteral("rbDeleteKey"));
    rbDeleteValues_ = new QRadioButton(QStringLiteral("Delete values under the key"), box_);
    rbDeleteValues_->setObjectName(QStringLiteral("rbDeleteValues"));
    rbDeleteValue_ = new QRadioButton(QStringLiteral("Delete value"), box_);
    rbDeleteValue_->setObjectName(QStringLiteral("rbDeleteValue"));
    auto* choices = new QButtonGroup(this);
    for (auto* rb : {rbDeleteKey_, rbDeleteValues_, rbDeleteValue_}) {
        choices->addButton(rb);
        box_->choices()->addWidget(rb);
    }
    rbDeleteKey_->setChecked(true);

    auto* lValue = new QLabel(QStringLiteral("Value Name"), box_);
    eValueName_ = new QLineEdit(box_);
    eValueName_->setObjectName(QStringLiteral("eValueName"));
    lValue->setBuddy(eValueName_);
    auto* valueRow = new QHBoxLayout;
    valueRow->addWidget(lValue);
    valueRow->addWidget(eValueName_, 1);
    box_->choices()->addLayout(valueRow);

    // Tab follows the layout: the choices before the registry editor button.
    QWidget* order[] = {box_->keyEdit(),  rbDeleteKey_,        rbDeleteValues_,
                        rbDeleteValue_,   eValueName_,         box_->regeditButton(),
                        box_->okButton(), box_->cancelButton()};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(box_->keyEdit(), &QLineEdit::textChanged, this, &TfrmAddRegistry::updateControls);
    connect(eValueName_, &QLineEdit::textChanged, this, &TfrmAddRegistry::updateControls);
    for (auto* rb : {rbDeleteKey_, rbDeleteValues_, rbDeleteValue_})
        connect(rb, &QRadioButton::toggled, this, &TfrmAddRegistry::updateControls);
    connect(box_->okButton(), &QPushButton::clicked, this, &TfrmAddRegistry::bOKClick);
    updateControls();
}

QLineEdit* TfrmAddRegistry::eKey() const {
    return box_->keyEdit();
}

QPushButton* TfrmAddRegistry::bRegedit() const {
    return box_->regeditButton();
}

QPushButton* TfrmAddRegistry::okButton() const {
    return box_->okButton();
}

QPushButton* TfrmAddRegistry::cancelButton() const {
    return box_->cancelButton();
}

std::string TfrmAddRegistry::entry() const {
    const std::string key = box_->key();
    if (rbDeleteValues_->isChecked()) return key + ",";
    if (rbDeleteValue_->isChecked()) return key + "," + eValueName_->text().toStdString();
    return key;
}

void TfrmAddRegistry::setEntry(std::string_view row) {
    const size_t comma = row.find(',');
    if (comma == std::string_view::npos) {
        eKey()->setText(qs(row));
        eValueName_->clear();
        rbDeleteKey_->setChecked(true);
        return;
    }
    eKey()->setText(qs(row.substr(0, comma)));
    const std::string_view name = row.substr(comma + 1);
    eValueName_->setText(qs(name));
    (name.empty() ? rbDeleteValues_ : rbDeleteValue_)->setChecked(true);
}

void TfrmAddRegistry::updateControls() {
    eValueName_->setEnabled(rbDeleteValue_->isChecked());
    const bool root = box_->keyNamesRoot();
    const bool choice = rbDeleteKey_->isChecked() || rbDeleteValues_->isChecked() ||
                        (rbDeleteValue_->isChecked() && !eValueName_->text().isEmpty());
    box_->okButton()->setEnabled(root && choice);
}

void TfrmAddRegistry::bOKClick() {
    if (auto why = refuseRegistryEntry(entry())) {
        QMessageBox::warning(this, QStringLiteral("Brisko Cleaner"), qs(*why));
        eKey()->setFocus();
        return;
    }
    accept();
}

void TfrmAddRegistry::bRegeditClick() {
    box_->launchRegedit();
}

}  // namespace brisko
