#include "ui/backup_hint_dialog.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/machine/machine.h"
#include "core/messages.h"
#include "registry/regedit_process.h"
#include "ui/qt_text.h"

namespace brisko {

TfrmBackupHint::TfrmBackupHint(RegeditProcess& process, const QString& hint, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint),
      process_(process) {
    setObjectName(QStringLiteral("frmBackupHint"));
    setWindowTitle(qs(kProgramTitle));
    setModal(true);
    lHint_ = new QLabel(hint, this);
    lHint_->setObjectName(QStringLiteral("lHint"));
    pbHint_ = new QProgressBar(this);
    pbHint_->setObjectName(QStringLiteral("pbHint"));
    pbHint_->setRange(0, kBackupHintMax);
    pbHint_->setValue(0);
    pbHint_->setTextVisible(false);
    pbHint_->setMinimumWidth(320);
    bStop_ = new QPushButton(QStringLiteral("Stop"), this);
    bStop_->setObjectName(QStringLiteral("bStop"));
    connect(bStop_, &QPushButton::clicked, this, &TfrmBackupHint::bStopClick);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lHint_);
    layout->addWidget(pbHint_);
    layout->addWidget(bStop_, 0, Qt::AlignHCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    timer_ = new QTimer(this);
    timer_->setInterval(kBackupHintTimerMs);
    connect(timer_, &QTimer::timeout, this, &TfrmBackupHint::timerTick);
    timer_->start();
}

void TfrmBackupHint::timerTick() {
    if (process_.finished()) {
        timer_->stop();
        accept();
        return;
    }
    pbHint_->setValue(backupHintStep(pbHint_->value()));
}

void TfrmBackupHint::bStopClick() {
    timer_->stop();
    process_.terminate();
    QDialog::reject();
}

void TfrmBackupHint::reject() {
    bStopClick();
}

bool RunRegedit(Machine& machine, Prompter& prompter, std::string_view commandLine,
                std::string_view hint, QWidget* parent) {
    std::string error;
    auto process = RegeditProcess::start(machine, commandLine, &error);
    if (!process) {
        prompter.ask(error.empty() ? kRegeditMissingText : error, MB_OK | MB_ICONINFORMATION);
        return false;
    }
    bool ok;
    {
        TfrmBackupHint hintDialog(*process, qs(hint), parent);
        ok = hintDialog.exec() == QDialog::Accepted;
    }
    // Stopped or not, the import may have landed (it commits as one step).
    if (process->command().kind == RegeditCommand::Import) reloadRegistryAfterImport(machine);
    if (ok && process->exitCode() != 0) {
        std::string why = process->errorOutput();
        prompter.ask(why.empty() ? "The registry editor ended with an error." : why,
                     MB_OK | MB_ICONERROR);
        return false;
    }
    return ok;
}

}  // namespace brisko
