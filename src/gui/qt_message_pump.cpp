#include "gui/qt_message_pump.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <exception>

namespace tarnik {

QtMessagePump::QtMessagePump(QObject* parent) : QObject(parent) {}

void QtMessagePump::processMessages() {
    QCoreApplication::processEvents();
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
