#include "ui/custom_list_registry_dialog.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "cleaner/items/custom_list.h"
#include "core/machine/machine.h"
#include "core/text.h"

namespace brisko {

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

}  // namespace

TfrmAddRegistry::TfrmAddRegistry(Machine& machine, QWidget* parent)
    : QDialog(parent), machine_(machine) {
    setObjectName(QStringLiteral("TfrmAddRegistry"));
    setWindowTitle(QStringLiteral("Add Registry"));
    setModal(true);

    auto* group = new QGroupBox(this);
    auto* lKey = new QLabel(QStringLiteral("Registry Key"), group);
    QFont bold = lKey->font();
    bold.setBold(true);
    lKey->setFont(bold);
    auto* lHint = new QLabel(
        QStringLiteral("Enter the registry key like: HKEY_CURRENT_USER\\Software\\Microsoft"),
        group);
    lHint->setEnabled(false);  // the muted colour of a hint
    eKey_ = new QLineEdit(group);
    eKey_->setObjectName(QStringLiteral("eKey"));
    eKey_->setMinimumWidth(440);
    lKey->setBuddy(eKey_);

    rbDeleteKey_ = new QRadioButton(QStringLiteral("Delete key"), group);
    rbDeleteKey_->setObjectName(QStringLiteral("rbDeleteKey"));
    rbDeleteValues_ = new QRadioButton(QStringLiteral("Delete values under the key"), group);
    rbDeleteValues_->setObjectName(QStringLiteral("rbDeleteValues"));
    rbDeleteValue_ = new QRadioButton(QStringLiteral("Delete value"), group);
    rbDeleteValue_->setObjectName(QStringLiteral("rbDeleteValue"));
    auto* choices = new QButtonGroup(this);
    for (auto* rb : {rbDeleteKey_, rbDeleteValues_, rbDeleteValue_}) choices->addButton(rb);
    rbDeleteKey_->setChecked(true);

    auto* lValue = new QLabel(QStringLiteral("Value Name"), group);
    eValueName_ = new QLineEdit(group);
    eValueName_->setObjectName(QStringLiteral("eValueName"));
    lValue->setBuddy(eValueName_);

    bRegedit_ = new QPushButton(QStringLiteral("&Run Registry Editor"), group);
    bRegedit_->setObjectName(QStringLiteral("bRegedit"));
    bRegedit_->setAutoDefault(false);

    auto* grid = new QGridLayout(group);
    grid->addWidget(lKey, 0, 0, 1, 2);
    grid->addWidget(lHint, 1, 0, 1, 2);
    grid->addWidget(eKey_, 2, 0, 1, 2);
    grid->addWidget(rbDeleteKey_, 3, 0, 1, 2);
    grid->addWidget(rbDeleteValues_, 4, 0, 1, 2);
    grid->addWidget(rbDeleteValue_, 5, 0, 1, 2);
    grid->addWidget(lValue, 6, 0);
    grid->addWidget(eValueName_, 6, 1);
    auto* regeditRow = new QHBoxLayout;
    regeditRow->addStretch();
    regeditRow->addWidget(bRegedit_);
    grid->addLayout(regeditRow, 7, 0, 1, 2);

    bOK_ = new QPushButton(QStringLiteral("&OK"), this);
    bOK_->setObjectName(QStringLiteral("bOK"));
    bOK_->setDefault(true);
    bCancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel_->setObjectName(QStringLiteral("bCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK_);
    buttons->addWidget(bCancel_);

    auto* root = new QVBoxLayout(this);
    root->addWidget(group);
    root->addLayout(buttons);

    connect(eKey_, &QLineEdit::textChanged, this, &TfrmAddRegistry::updateControls);
    connect(eValueName_, &QLineEdit::textChanged, this, &TfrmAddRegistry::updateControls);
    for (auto* rb : {rbDeleteKey_, rbDeleteValues_, rbDeleteValue_})
        connect(rb, &QRadioButton::toggled, this, &TfrmAddRegistry::updateControls);
    connect(bRegedit_, &QPushButton::clicked, this, &TfrmAddRegistry::bRegeditClick);
    connect(bOK_, &QPushButton::clicked, this, &TfrmAddRegistry::bOKClick);
    connect(bCancel_, &QPushButton::clicked, this, &QDialog::reject);
    updateControls();
}

std::string TfrmAddRegistry::entry() const {
    const std::string key = eKey_->text().toStdString();
    if (rbDeleteValues_->isChecked()) return key + ",";
    if (rbDeleteValue_->isChecked()) return key + "," + eValueName_->text().toStdString();
    return key;
}

void TfrmAddRegistry::setEntry(std::string_view row) {
    const size_t comma = row.find(',');
    if (comma == std::string_view::npos) {
        eKey_->setText(qs(row));
        eValueName_->clear();
        rbDeleteKey_->setChecked(true);
        return;
    }
    eKey_->setText(qs(row.substr(0, comma)));
    const std::string_view name = row.substr(comma + 1);
    eValueName_->setText(qs(name));
    (name.empty() ? rbDeleteValues_ : rbDeleteValue_)->setChecked(true);
}

void TfrmAddRegistry::updateControls() {
    eValueName_->setEnabled(rbDeleteValue_->isChecked());
    const bool root = upperCase(eKey_->text().toStdString()).find("HKEY_") != std::string::npos;
    const bool choice = rbDeleteKey_->isChecked() || rbDeleteValues_->isChecked() ||
                        (rbDeleteValue_->isChecked() && !eValueName_->text().isEmpty());
    bOK_->setEnabled(root && choice);
}

void TfrmAddRegistry::bOKClick() {
    if (auto why = refuseRegistryEntry(entry())) {
        QMessageBox::warning(this, QStringLiteral("Brisko Cleaner"), qs(*why));
        eKey_->setFocus();
        return;
    }
    accept();
}

void TfrmAddRegistry::bRegeditClick() {
    // On an image there is no editor to open; the machine answers that quietly.
    machine_.shellExecute("Open", "Regedit.exe", "");
}

}  // namespace brisko
