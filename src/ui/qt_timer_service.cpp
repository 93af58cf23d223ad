#include "ui/qt_timer_service.h"

#include <QPointer>
#include <QTimer>

namespace brisko {

namespace {

class QtProgramTimer final : public ProgramTimer {
  public:
    QtProgramTimer(QObject* owner, const std::string& name, std::function<void()> onTick)
        : timer_(new QTimer(owner)) {
        timer_->setObjectName(QString::fromStdString(name));
        QObject::connect(timer_, &QTimer::timeout, timer_, std::move(onTick));
    }
    ~QtProgramTimer() override { delete timer_.data(); }
    void start(int ms) override {
        if (timer_) timer_->start(ms);
    }
    void stop() override {
        if (timer_) timer_->stop();
    }
    bool isActive() const override { return timer_ && timer_->isActive(); }
    int interval() const override { return timer_ ? timer_->interval() : 0; }

  private:
    QPointer<QTimer> timer_;
};

}  // namespace

std::unique_ptr<ProgramTimer> QtTimerService::createTimer(const std::string& name,
                                                          std::function<void()> onTick) {
    return std::make_unique<QtProgramTimer>(owner_, name, std::move(onTick));
}

}  // namespace brisko
