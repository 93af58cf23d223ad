#pragma once
// Timers on the Qt event loop.
#include <QObject>

#include "core/timer_service.h"

namespace brisko {

class QtTimerService final : public TimerService {
  public:
    explicit QtTimerService(QObject* owner) : owner_(owner) {}
    std::unique_ptr<ProgramTimer> createTimer(const std::string& name,
                                              std::function<void()> onTick) override;

  private:
    QObject* owner_;
};

}  // namespace brisko
