#include "ui/hive_progress_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <thread>

#include "core/machine/machine.h"
#include "defrag/hive_sizes.h"
#include "ui/qt_message_target.h"

namespace brisko {

TfrmGetNewHiveProgess::TfrmGetNewHiveProgess(Machine& machine, std::vector<HiveEntry> hives,
                                             bool isWow64, bool unattended, QWidget* parent)
    : QDialog(parent),
      machine_(machine),
      hives_(std::move(hives)),
      wow64_(isWow64),
      unattended_(unattended) {
    setObjectName(QStringLiteral("TfrmGetNewHiveProgess"));
    setWindowTitle(QStringLiteral("Defrag Registry"));
    setModal(true);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    Label1_ = new QLabel(QStringLiteral("Analyzing registry. Please wait."), this);
    Label1_->setObjectName(QStringLiteral("Label1"));
    ProgressBar1_ = new QProgressBar(this);
    ProgressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1_->setRange(0, 1000);
    ProgressBar1_->setTextVisible(true);
    auto* label2 = new QLabel(QStringLiteral("Checking: "), this);
    label2->setObjectName(QStringLiteral("Label2"));
    Memo1_ = new QLineEdit(QStringLiteral("Registry Key"), this);
    Memo1_->setObjectName(QStringLiteral("Memo1"));
    Memo1_->setReadOnly(true);
    bStop_ = new QPushButton(QStringLiteral("Stop"), this);
    bStop_->setObjectName(QStringLiteral("bStop"));
    connect(bStop_, &QPushButton::clicked, this, &TfrmGetNewHiveProgess::bStopClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1_);
    layout->addWidget(ProgressBar1_);
    auto* row = new QHBoxLayout;
    row->addWidget(label2);
    row->addWidget(Memo1_, 1);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bStop_);
    layout->addLayout(buttons);
    setFixedSize(QSize(460, sizeHint().height()));

    Timer1_ = new QTimer(this);
    Timer1_->setInterval(1000);
    connect(Timer1_, &QTimer::timeout, this, &TfrmGetNewHiveProgess::Timer1Timer);
    target_ = std::make_shared<QtMessageTarget>(this);
    status_ = std::make_shared<StatusLine>();
}

TfrmGetNewHiveProgess::~TfrmGetNewHiveProgess() {
    abandonWorker();
}

std::string TfrmGetNewHiveProgess::statusText() const {
    return closedByWorker_ ? status_->get() : std::string();
}

std::vector<HiveCopyOutcome> TfrmGetNewHiveProgess::outcomes() const {
    return outcomes_;
}

void TfrmGetNewHiveProgess::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (started_) return;
    started_ = true;
    ProgressBar1_->setValue(0);
    // The copying starts once the dialog is up (WM_HIVECOPY_START to itself).
    target_->post(WM_HIVECOPY_START);
}

bool TfrmGetNewHiveProgess::event(QEvent* event) {
    if (event->type() == MessageEvent::eventType()) {
        auto* m = static_cast<MessageEvent*>(event);
        if (m->msg == WM_HIVECOPY_START) {
            startCopying();
        } else if (m->msg == WM_HIVECOPY_DONE) {
            hiveCopyDone(m->wParam, m->lParam);
        } else if (m->msg == kWmClose) {
            closedByWorker_ = true;
            Timer1_->stop();
            if (worker_) outcomes_ = worker_->outcomes();
            Memo1_->setText(QString::fromStdString(status_->get()));
            done(QDialog::Accepted);
        }
        return true;
    }
    return QDialog::event(event);
}

int TfrmGetNewHiveProgess::run() {
    if (!unattended_) return exec();
    // Unattended: the same run without ever showing the dialog.
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    started_ = true;
    target_->post(WM_HIVECOPY_START);
    loop.exec();
    return result();
}

void TfrmGetNewHiveProgess::startCopying() {
    if (stopped_) {
        done(QDialog::Rejected);  // stopped before the first hive: nothing is copied
        return;
    }
    worker_ = std::make_unique<TScanDefragTaskThread>(machine_, hives_, wow64_, target_, status_);
    worker_->start();
    std::vector<int64_t> sizes;
    for (const auto& h : hives_) sizes.push_back(HiveFileSize(machine_.files(), h.file));
    progress_.start(std::move(sizes), wow64_);
    Timer1_->start();
}

void TfrmGetNewHiveProgess::hiveCopyDone(uintptr_t firstMs, intptr_t copied) {
    int64_t firstCopy =
        hives_.empty() ? 0 : HiveFileSize(machine_.files(), HiveCopyFile(hives_[0].file));
    progress_.hiveDone(firstMs, copied, firstCopy);
    ProgressBar1_->setValue(progress_.bar());
    Memo1_->setText(QString::fromStdString(status_->get()));
}

void TfrmGetNewHiveProgess::Timer1Timer() {
    Memo1_->setText(QString::fromStdString(status_->get()));
    size_t i = progress_.current();
    int64_t copy =
        i < hives_.size() ? HiveFileSize(machine_.files(), HiveCopyFile(hives_[i].file)) : 0;
    if (!progress_.tick(copy)) Timer1_->stop();
    ProgressBar1_->setValue(progress_.bar());
}

void TfrmGetNewHiveProgess::bStopClick() {
    stopped_ = true;
    Label1_->setText(QStringLiteral("Stop Process..."));
    Timer1_->stop();
    if (worker_) worker_->stop();
    bStop_->setEnabled(false);
}

void TfrmGetNewHiveProgess::closeEvent(QCloseEvent* event) {
    Timer1_->stop();
    // Closed by the user while the worker runs: the analysis is abandoned.
    if (!closedByWorker_ && !stopped_) abandonWorker();
    QDialog::closeEvent(event);
}

void TfrmGetNewHiveProgess::abandonWorker() {
    if (!worker_) return;
    target_->detach();
    worker_->stop();
    if (worker_->finished()) {
        worker_.reset();
        return;
    }
    // It finishes the hive in progress on its own and is freed then.
    std::thread([w = std::move(worker_)]() mutable { w.reset(); }).detach();
}

}  // namespace brisko
