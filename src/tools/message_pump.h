#pragma once
// Processing of pending main-thread work. The event thread of the serial port hands every
// port event to the main thread through callSync and waits until it has run there; the
// main thread runs such hand-offs (and, in the window, user input) in processMessages.
#include "tools/clock.h"

#include <cstdint>
#include <functional>

namespace tarnik {

class MessagePump {
public:
    virtual ~MessagePump() = default;
    // Runs the work that is waiting for the main thread. Called only on the main thread.
    virtual void processMessages() = 0;
    // Runs fn on the main thread and blocks the caller until it has run. Called on the
    // main thread itself, fn runs at once.
    virtual void callSync(std::function<void()> fn) = 0;
    // Blocks until work for the main thread is waiting or timeoutMs have passed on the
    // clock, whichever comes first; processMessages then runs the work. A pump that cannot
    // be woken early sleeps the whole time-out. Called only on the main thread.
    virtual void waitForWork(std::uint32_t timeoutMs, Clock& clock) { clock.SleepMs(timeoutMs); }
};

} // namespace tarnik
