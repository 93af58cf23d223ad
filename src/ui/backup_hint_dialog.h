#pragma once
// The progress hint shown while the registry editor runs (a full backup or a
// restore): its text, a bar that creeps on, and "Stop". It closes with OK
// when the process ends by itself and with Cancel when the user stops it.
#include <QDialog>
#include <QString>
#include <memory>
#include <string>
#include <string_view>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace brisko {

class Machine;
class Prompter;
class RegeditProcess;

inline constexpr int kBackupHintTimerMs = 500;
inline constexpr int kBackupHintMax = 500;

class TfrmBackupHint : public QDialog {
    Q_OBJECT

  public:
    TfrmBackupHint(RegeditProcess& process, const QString& hint, QWidget* parent = nullptr);

    // One 500 ms tick: closes with OK once the process has ended, else moves the bar.
    void timerTick();
    void bStopClick();

    QLabel* lHint() const { return lHint_; }
    QProgressBar* progressBar() const { return pbHint_; }
    QPushButton* bStop() const { return bStop_; }
    QTimer* timer() const { return timer_; }

  protected:
    void reject() override;  // Esc and the close box stop the process too

  private:
    RegeditProcess& process_;
    QLabel* lHint_ = nullptr;
    QProgressBar* pbHint_ = nullptr;
    QPushButton* bStop_ = nullptr;
    QTimer* timer_ = nullptr;
};

// RunRegedit: starts the registry editor's command line and shows the hint
// modally until it ends. True when the program ran to its end and did its
// job; a program that ended with an error shows it and answers false, so a
// failed restore never deletes its backup. "Please check if Regedit.exe
// exists." when it cannot be started. After an import the machine reads its
// hives again.
bool RunRegedit(Machine& machine, Prompter& prompter, std::string_view commandLine,
                std::string_view hint, QWidget* parent = nullptr);

}  // namespace brisko
