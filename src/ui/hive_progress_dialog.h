#pragma once
// "Defrag Registry": the progress of the hive analysis. Its worker writes a
// compact copy of each hive; the bar follows the copy files' sizes. Stop ends
// the run after the hive in progress; closing the dialog abandons it.
#include <QDialog>
#include <memory>
#include <vector>

#include "defrag/hive_copy_progress.h"
#include "defrag/hive_list.h"
#include "defrag/scan_defrag_task_thread.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace brisko {

class Machine;
class QtMessageTarget;

class TfrmGetNewHiveProgess final : public QDialog {
    Q_OBJECT

  public:
    TfrmGetNewHiveProgess(Machine& machine, std::vector<HiveEntry> hives, bool isWow64,
                          bool unattended, QWidget* parent = nullptr);
    ~TfrmGetNewHiveProgess() override;

    // Shown modally; in an unattended run it stays hidden. Returns when the
    // worker closed it, or the user did.
    int run();

    // After the dialog closed: the status line ("Finish" when every hive was
    // handled) and what became of each copy.
    std::string statusText() const;
    std::vector<HiveCopyOutcome> outcomes() const;

    QProgressBar* progressBar() const { return ProgressBar1_; }
    QPushButton* stopButton() const { return bStop_; }
    QLabel* label1() const { return Label1_; }
    void bStopClick();
    void Timer1Timer();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    void startCopying();
    void hiveCopyDone(uintptr_t firstMs, intptr_t copied);
    void abandonWorker();

    Machine& machine_;
    std::vector<HiveEntry> hives_;
    bool wow64_, unattended_;
    QLabel* Label1_ = nullptr;
    QProgressBar* ProgressBar1_ = nullptr;
    QLineEdit* Memo1_ = nullptr;
    QPushButton* bStop_ = nullptr;
    QTimer* Timer1_ = nullptr;
    HiveCopyProgress progress_;
    std::shared_ptr<QtMessageTarget> target_;
    std::shared_ptr<StatusLine> status_;
    std::unique_ptr<TScanDefragTaskThread> worker_;
    std::vector<HiveCopyOutcome> outcomes_;
    bool started_ = false, stopped_ = false, closedByWorker_ = false;
};

}  // namespace brisko
