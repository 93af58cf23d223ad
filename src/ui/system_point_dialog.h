#pragma once
// "Create System Point": makes a restore point on its worker before the
// registry is changed, with a bar that shows that work goes on. OK: the caller
// goes on (the restore point was made, or the user accepted its failure);
// Cancel: the caller stops.
#include <QDialog>
#include <memory>

class QProgressBar;
class QTimer;

namespace brisko {

class Machine;
class Prompter;
class QtMessageTarget;
class TCreateSystemPointThread;

class TfrmSystemPoint final : public QDialog {
    Q_OBJECT

  public:
    TfrmSystemPoint(Machine& machine, Prompter& prompter, QWidget* parent = nullptr);
    ~TfrmSystemPoint() override;

    // Shows the dialog modally and makes the restore point; true when the
    // caller goes on (used by Fix Errors and Defrag Registry).
    static bool Execute(Machine& machine, Prompter& prompter, QWidget* parent = nullptr);

    QProgressBar* progressBar() const { return ProgressBar1_; }
    QTimer* timer() const { return Timer1_; }
    void Timer1Timer();
    // Escape before the worker reported: the caller stops.
    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void restorePointDone(intptr_t lParam);

    Machine& machine_;
    Prompter& prompter_;
    QProgressBar* ProgressBar1_ = nullptr;
    QTimer* Timer1_ = nullptr;
    std::shared_ptr<QtMessageTarget> target_;
    std::unique_ptr<TCreateSystemPointThread> worker_;
    bool done_ = false;
    bool started_ = false;
};

}  // namespace brisko
