#include "ui/qt_message_target.h"

#include <QCoreApplication>

namespace brisko {

QEvent::Type MessageEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

QtMessageTarget::QtMessageTarget(QObject* receiver) : receiver_(receiver) {
    // destroyed() is emitted from the receiver's destructor on its own thread;
    // a direct connection clears the pointer before the object is gone.
    if (receiver_)
        destroyed_ = QObject::connect(receiver_, &QObject::destroyed, [this] { detach(); });
}

QtMessageTarget::~QtMessageTarget() {
    QObject::disconnect(destroyed_);
}

void QtMessageTarget::post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    std::lock_guard lock(mutex_);
    if (!receiver_) return;
    // postEvent is thread-safe and takes ownership of the event.
    QCoreApplication::postEvent(receiver_, new MessageEvent(msg, wParam, lParam));
}

void QtMessageTarget::detach() {
    std::lock_guard lock(mutex_);
    receiver_ = nullptr;
}

}  // namespace brisko
