#include "ui/reg_add_registry_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/machine/machine.h"
#include "registry/problem_list.h"

namespace brisko {

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

}  // namespace

TfrmRegAddRegistry::TfrmRegAddRegistry(Machine& machine, QWidget* parent)
    : QDialog(parent), machine_(machine) {
    setObjectName(QStringLiteral("TfrmRegAddRegistry"));
    setWindowTitle(qs(kRegAddCaption));
    setModal(true);

    auto* group = new QGroupBox(this);
    auto* label = new QLabel(qs(kRegAddGroupLabel), group);
    label->setObjectName(QStringLiteral("lRegistryKey"));
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    auto* hint = new QLabel(qs(kRegAddHint), group);
    hint->setObjectName(QStringLiteral("lHint"));
    hint->setWordWrap(true);
    hint->setEnabled(false);  // drawn in the muted colour of a hint
    eRegistryKey_ = new QLineEdit(group);
    eRegistryKey_->setObjectName(QStringLiteral("eRegistryKey"));
    eRegistryKey_->setMinimumWidth(420);
    label->setBuddy(eRegistryKey_);
    bRegedit_ = new QPushButton(QStringLiteral("&Launch Registry Editor"), group);
    bRegedit_->setObjectName(QStringLiteral("bRegedit"));
    bRegedit_->setAutoDefault(false);

    auto* inGroup = new QVBoxLayout(group);
    inGroup->addWidget(label);
    inGroup->addWidget(hint);
    inGroup->addWidget(eRegistryKey_);
    auto* regeditRow = new QHBoxLayout;
    regeditRow->addStretch();
    regeditRow->addWidget(bRegedit_);
    inGroup->addLayout(regeditRow);

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

    connect(eRegistryKey_, &QLineEdit::textChanged, this, &TfrmRegAddRegistry::eRegistryKeyChange);
    connect(bRegedit_, &QPushButton::clicked, this, &TfrmRegAddRegistry::bRegeditClick);
    connect(bOK_, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel_, &QPushButton::clicked, this, &QDialog::reject);
    eRegistryKeyChange();
}

std::string TfrmRegAddRegistry::registryKey() const {
    return eRegistryKey_->text().toStdString();
}

void TfrmRegAddRegistry::setRegistryKey(std::string_view text) {
    eRegistryKey_->setText(qs(text));
}

void TfrmRegAddRegistry::eRegistryKeyChange() {
    bOK_->setEnabled(regAddOkEnabled(registryKey()));
}

void TfrmRegAddRegistry::bRegeditClick() {
    // On an image there is no editor to open; the machine answers that quietly.
    machine_.shellExecute("Open", "Regedit.exe", "");
}

}  // namespace brisko
