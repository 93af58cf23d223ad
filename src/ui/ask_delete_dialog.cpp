#include "ui/ask_delete_dialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "core/settings.h"
#include "ui/qt_text.h"

namespace brisko {

namespace {

QLabel* textLabel(QWidget* parent, std::string_view text, const char* name) {
    auto* l = new QLabel(qs(text), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    return l;
}

}  // namespace

TfrmAskDelete::TfrmAskDelete(TOptionsSetting& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setObjectName(QStringLiteral("TfrmAskDelete"));
    setWindowTitle(qs(kAskDeleteCaption));
    setModal(true);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(40, 40));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    QLabel* question = textLabel(this, kAskDeleteQuestion, "lQuestion");
    QLabel* proceed = textLabel(this, kAskDeleteProceed, "lProceed");
    for (QLabel* l : {question, proceed}) {
        l->setStyleSheet(QStringLiteral("color: #C00000; font-weight: bold;"));
        texts->addWidget(l);
    }
    texts->addSpacing(8);
    int n = 0;
    for (std::string_view line : kAskDeleteHint) {
        QLabel* l = textLabel(this, line, n == 0 ? "lHint1" : n == 1 ? "lHint2" : "lHint3");
        texts->addWidget(l);
        ++n;
    }
    texts->addSpacing(10);
    cbDontShow_ = new QCheckBox(qs(kAskDeleteDontShow), this);
    cbDontShow_->setObjectName(QStringLiteral("cbDontShow"));
    connect(cbDontShow_, &QCheckBox::clicked, this,
            [this](bool checked) { settings_.IsAskBeforeClear = !checked; });
    texts->addWidget(cbDontShow_);

    auto* top = new QHBoxLayout;
    top->setSpacing(14);
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    bOK_ = new QPushButton(QStringLiteral("&OK"), this);
    bOK_->setObjectName(QStringLiteral("bOK"));
    bOK_->setDefault(true);
    bCancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    bCancel_->setObjectName(QStringLiteral("bCancel"));
    for (QPushButton* b : {bOK_, bCancel_}) b->setMinimumWidth(88);
    connect(bOK_, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bOK_);
    buttons->addWidget(bCancel_);
    buttons->addStretch();

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(18, 16, 18, 14);
    root->setSpacing(14);
    root->addLayout(top);
    root->addLayout(buttons);
    // A dialog of one size, as the user cannot make it show more.
    root->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmAskDelete::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr) {
        QRect r = frameGeometry();
        r.moveCenter(owner->frameGeometry().center());
        move(r.topLeft());
    }
}

}  // namespace brisko
