#pragma once
// The message pump of the desktop window: pending events are processed by Qt, and a call
// from the serial event thread is queued onto the GUI thread and waited for.
#include "tools/message_pump.h"

#include <QObject>

namespace tarnik {

class QtMessagePump final : public QObject, public MessagePump {
    Q_OBJECT
public:
    // Lives in the thread that creates it, which must be the GUI thread.
    explicit QtMessagePump(QObject* parent = nullptr);
    void processMessages() override;
    void callSync(std::function<void()> fn) override;
    void waitForWork(std::uint32_t timeoutMs, Clock& clock) override;
};

} // namespace tarnik
