#pragma once
// The message pump of the command-line front end and the tests: a queue of calls handed to
// the main thread (the thread that created the pump), run when that thread processes its
// messages. A caller on another thread blocks until its call has run.
#include "tools/message_pump.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace tarnik {

class PlainMessagePump final : public MessagePump {
public:
    PlainMessagePump();
    PlainMessagePump(const PlainMessagePump&) = delete;
    PlainMessagePump& operator=(const PlainMessagePump&) = delete;

    // Runs the calls waiting at entry (and nothing that arrives while they run).
    void processMessages() override;
    // On the main thread fn runs at once; elsewhere it waits in the queue and the caller
    // blocks until the main thread has run it. An exception of fn reaches the caller.
    void callSync(std::function<void()> fn) override;
    // Waits on the queue, not on the clock: the pump runs on the machine's own time.
    void waitForWork(std::uint32_t timeoutMs, Clock&) override {
        WaitForWork(std::chrono::milliseconds(timeoutMs));
    }

    // Blocks until a call waits, Wake is called or the time-out passes; true when a call
    // waits. For a main loop that has nothing else to do.
    bool WaitForWork(std::chrono::milliseconds timeout);
    // Ends a WaitForWork early (from any thread).
    void Wake();
    bool OnMainThread() const { return std::this_thread::get_id() == mainThread_; }
    // Number of calls waiting to run.
    std::size_t Pending() const;

private:
    struct Call {
        std::function<void()> fn;
        std::exception_ptr error;
        bool done = false;
    };

    void Run(Call& call);

    const std::thread::id mainThread_;
    mutable std::mutex mutex_;
    std::condition_variable workArrived_;
    std::condition_variable callDone_;
    std::deque<Call*> queue_;
    bool woken_ = false;
};

} // namespace tarnik
