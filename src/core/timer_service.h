#pragma once
// Timers a window arms (the schedule, the animation). The desktop program's
// run on its event loop; a test's tick when the test says so, so a four-hour
// schedule can be checked without waiting four hours.
#include <functional>
#include <memory>
#include <string>

namespace brisko {

class ProgramTimer {
  public:
    virtual ~ProgramTimer() = default;
    // (Re)starts the countdown; a running timer starts over.
    virtual void start(int intervalMs) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    virtual int interval() const = 0;
};

class TimerService {
  public:
    virtual ~TimerService() = default;
    // onTick runs on the thread of the window that armed the timer.
    virtual std::unique_ptr<ProgramTimer> createTimer(const std::string& name,
                                                      std::function<void()> onTick) = 0;
};

}  // namespace brisko
