#include "ui/registry_entry_box.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/machine/machine.h"
#include "core/machine/registry_view.h"
#include "registry/problem_list.h"
#include "registry/problem_report.h"
#include "ui/registry_viewer.h"

namespace brisko {

RegistryEntryBox::RegistryEntryBox(Machine& machine, const QString& caption, const QString& hint,
                                   const QString& keyName, const QString& regeditCaption,
                                   QDialog* dialog)
    : QGroupBox(dialog), machine_(machine) {
    caption_ = new QLabel(caption, this);
    caption_->setObjectName(QStringLiteral("lRegistryKey"));
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    hint_ = new QLabel(hint, this);
    hint_->setObjectName(QStringLiteral("lHint"));
    hint_->setEnabled(false);  // drawn in the muted colour of a hint
    key_ = new QLineEdit(this);
    key_->setObjectName(keyName);
    caption_->setBuddy(key_);
    regedit_ = new QPushButton(regeditCaption, this);
    regedit_->setObjectName(QStringLiteral("bRegedit"));
    regedit_->setAutoDefault(false);

    auto* inBox = new QVBoxLayout(this);
    inBox->addWidget(caption_);
    inBox->addWidget(hint_);
    inBox->addWidget(key_);
    choices_ = new QVBoxLayout;
    inBox->addLayout(choices_);
    auto* regeditRow = new QHBoxLayout;
    regeditRow->addStretch();
    regeditRow->addWidget(regedit_);
    inBox->addLayout(regeditRow);

    ok_ = new QPushButton(QStringLiteral("&OK"), dialog);
    ok_->setObjectName(QStringLiteral("bOK"));
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("&Cancel"), dialog);
    cancel_->setObjectName(QStringLiteral("bCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);

    auto* root = new QVBoxLayout(dialog);
    root->addWidget(this);
    root->addLayout(buttons);

    connect(regedit_, &QPushButton::clicked, this, &RegistryEntryBox::launchRegedit);
    connect(cancel_, &QPushButton::clicked, dialog, &QDialog::reject);
}

std::string RegistryEntryBox::key() const {
    return key_->text().toStdString();
}

bool RegistryEntryBox::keyNamesRoot() const {
    return regAddOkEnabled(key());
}

void RegistryEntryBox::launchRegedit() {
    if (machine_.shellExecute("Open", "Regedit.exe", "")) return;
    // No registry editor to start (an offline machine): our own viewer, at
    // the key typed so far or as near to it as the registry goes.
    auto* viewer = new TfrmRegistryViewer(machine_, window());
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    std::string path = key().substr(0, key().find(','));
    while (!path.empty()) {
        if (auto t =
                findRegeditTarget(machine_.registry(), programView(machine_.isWow64()), path)) {
            viewer->navigate(t->key, t->value);
            break;
        }
        const size_t cut = path.rfind('\\');
        path.resize(cut == std::string::npos ? 0 : cut);
    }
    viewer->show();
}

}  // namespace brisko
