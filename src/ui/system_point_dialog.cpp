#include "ui/system_point_dialog.h"

#include <QCloseEvent>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "core/machine/machine.h"
#include "tools/restore_point.h"
#include "ui/qt_message_target.h"

namespace brisko {

TfrmSystemPoint::TfrmSystemPoint(Machine& machine, Prompter& prompter, QWidget* parent)
    : QDialog(parent), machine_(machine), prompter_(prompter) {
    setObjectName(QStringLiteral("TfrmSystemPoint"));
    setWindowTitle(QStringLiteral("Create System Point"));
    setModal(true);
    // No title-bar buttons: the dialog ends when the worker reports.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

    auto* title = new QLabel(QStringLiteral("Creating Restore Point"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    auto* text = new QLabel(QStringLiteral("A restore point is being created. It lets you safely "
                                           "return your system\nto the state it is in now."),
                            this);
    auto* wait = new QLabel(QStringLiteral("Please wait..."), this);
    ProgressBar1_ = new QProgressBar(this);
    ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1_->setRange(0, 100);
    ProgressBar1_->setValue(0);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(text);
    layout->addWidget(wait);
    layout->addWidget(ProgressBar1_);
    setFixedSize(sizeHint().expandedTo(QSize(380, 0)));

    Timer1_ = new QTimer(this);
    Timer1_->setInterval(1000);
    connect(Timer1_, &QTimer::timeout, this, &TfrmSystemPoint::Timer1Timer);
    Timer1_->start();
    target_ = std::make_shared<QtMessageTarget>(this);
}

TfrmSystemPoint::~TfrmSystemPoint() {
    // An abandoned worker finishes on its own and posts into nothing.
    if (target_) target_->detach();
}

bool TfrmSystemPoint::Execute(Machine& machine, Prompter& prompter, QWidget* parent) {
    TfrmSystemPoint dialog(machine, prompter, parent);
    return dialog.exec() == QDialog::Accepted;
}

void TfrmSystemPoint::Timer1Timer() {
    ProgressBar1_->setValue(NextSystemPointBar(ProgressBar1_->value()));
}

void TfrmSystemPoint::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    done_ = false;
    worker_ = std::make_unique<TCreateSystemPointThread>(machine_, target_);
    worker_->start();
}

bool TfrmSystemPoint::event(QEvent* event) {
    if (event->type() == MessageEvent::eventType()) {
        auto* m = static_cast<MessageEvent*>(event);
        if (m->msg == WM_RESTOREPOINT_DONE) restorePointDone(m->lParam);
        return true;
    }
    return QDialog::event(event);
}

void TfrmSystemPoint::restorePointDone(intptr_t lParam) {
    if (done_) return;
    Timer1_->stop();
    bool goOn = ContinueAfterRestorePoint(lParam, prompter_);
    done_ = true;
    setResult(goOn ? QDialog::Accepted : QDialog::Rejected);
    done(goOn ? QDialog::Accepted : QDialog::Rejected);
}

void TfrmSystemPoint::closeEvent(QCloseEvent* event) {
    Timer1_->stop();
    if (!done_) {
        target_->detach();
        setResult(QDialog::Rejected);
    }
    QDialog::closeEvent(event);
}

void TfrmSystemPoint::reject() {
    // Escape or the window's close before the worker reported: the caller stops.
    if (!done_) target_->detach();
    Timer1_->stop();
    QDialog::reject();
}

}  // namespace brisko
