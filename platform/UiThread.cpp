#include "platform/UiThread.h"

#include <QCoreApplication>
#include <QThread>

namespace platform {

void PumpMessages() {
    if (QCoreApplication::instance() && IsUiThread()) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

bool IsUiThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void RunOnUiThread(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || IsUiThread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

}  // namespace platform

namespace platform {

void PumpingClock::SleepMs(std::uint32_t ms) {
    if (!IsUiThread()) {
        inner_.SleepMs(ms);
        return;
    }
    // Dispatch what has come in, then sleep; a long sleep is cut into steps
    // of at most 50 ms so the window never stands still for longer.
    constexpr std::uint32_t kStep = 50;
    std::uint32_t left = ms;
    do {
        PumpMessages();
        const std::uint32_t step = left < kStep ? left : kStep;
        inner_.SleepMs(step);
        left -= step;
    } while (left > 0);
    PumpMessages();
}

}  // namespace platform
