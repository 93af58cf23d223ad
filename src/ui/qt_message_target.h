#pragma once
// Worker messages delivered to a Qt object as posted events, so the receiver
// handles them on its own thread in the order they were posted.
#include <QEvent>
#include <QObject>
#include <cstdint>
#include <mutex>

#include "core/messages.h"

namespace brisko {

class MessageEvent : public QEvent {
  public:
    MessageEvent(uint32_t msg, uintptr_t wParam, intptr_t lParam)
        : QEvent(eventType()), msg(msg), wParam(wParam), lParam(lParam) {}
    // One event type for every message number; the number travels in msg.
    static QEvent::Type eventType();

    const uint32_t msg;
    const uintptr_t wParam;
    const intptr_t lParam;
};

// post() may be called from any thread. Once the receiver is destroyed (or the
// target detached), later posts are dropped instead of reaching a dead object.
class QtMessageTarget : public MessageTarget {
  public:
    explicit QtMessageTarget(QObject* receiver);
    ~QtMessageTarget() override;
    QtMessageTarget(const QtMessageTarget&) = delete;
    QtMessageTarget& operator=(const QtMessageTarget&) = delete;

    void post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) override;
    void detach();

  private:
    std::mutex mutex_;
    QObject* receiver_;
    QMetaObject::Connection destroyed_;
};

}  // namespace brisko
