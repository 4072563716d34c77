#include "gui/qt_message_pump.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <exception>

namespace tarnik {

QtMessagePump::QtMessagePump(QObject* parent) : QObject(parent) {}

void QtMessagePump::processMessages() {
    QCoreApplication::processEvents();
}

void QtMessagePump::waitForWork(std::uint32_t timeoutMs, Clock&) {
    // The timer's event ends the wait when nothing else (an arrival handed over by the serial
    // event thread, user input) comes first.
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer); // a turnaround guard is a few milliseconds
    timer.setSingleShot(true);
    timer.start(static_cast<int>(timeoutMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void QtMessagePump::callSync(std::function<void()> fn) {
    if (QThread::currentThread() == thread()) {
        fn();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        this,
        [&fn, &error] {
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error) std::rethrow_exception(error);
}

} // namespace tarnik
