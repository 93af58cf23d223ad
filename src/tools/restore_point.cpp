#include "tools/restore_point.h"

namespace brisko {

bool ShouldCreateRestorePoint(bool restorePointOption, int windowsVersionCode, bool unattended) {
    return restorePointOption && !unattended && windowsVersionCode >= 9 && windowsVersionCode <= 13;
}

bool CreateRestorePoint(Machine& machine, std::string* why) {
    auto* service = machine.restorePoints();
    if (!service) {
        if (why) *why = "This machine has no System Restore.";
        return false;
    }
    try {
        if (service->createRestorePoint(kRestorePointDescription)) return true;
        if (why) *why = service->lastError();
    } catch (const std::exception& e) {
        if (why) *why = e.what();
    }
    return false;
}

int NextSystemPointBar(int p) {
    if (p < 0) return 0;
    if (p <= 30) return p + 10;
    if (p <= 50) return p + 5;
    if (p <= 60) return p + 3;
    if (p <= 80) return p + 2;
    if (p <= 99) return p + 1;
    return 100;
}

bool ContinueAfterRestorePoint(intptr_t lParam, Prompter& prompter) {
    if (lParam == 0) return true;
    int answer =
        prompter.ask(kRestorePointFailedQuestion, MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2);
    return answer != IDNO;
}

TCreateSystemPointThread::TCreateSystemPointThread(Machine& machine,
                                                   std::shared_ptr<MessageTarget> target)
    : machine_(machine), target_(std::move(target)) {}

TCreateSystemPointThread::~TCreateSystemPointThread() = default;

void TCreateSystemPointThread::start() {
    thread_ = std::jthread([this] {
        // Every way out gives the dialog an answer.
        bool made = CreateRestorePoint(machine_);
        finished_ = true;
        if (target_) target_->post(WM_RESTOREPOINT_DONE, 0, made ? 0 : 1);
    });
}

}  // namespace brisko
