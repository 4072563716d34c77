#pragma once
// The serial port component: one port, its line settings, the event thread TC32Thread that
// waits for port events and hands each one to the main thread, and block transfers bounded
// by 2000 ms. The system calls live in a backend (posix/ or win32/).
#include "serial/comm_port.h"
#include "serial/serial_backend.h"
#include "tools/message_pump.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tarnik {

// Waits for port events on a thread of its own. Each event goes to the main thread through
// MessagePump::callSync, and the thread waits until it has been dispatched there, so at
// most one event is in flight and every handler runs on the main thread.
class TC32Thread {
public:
    // Runs on the main thread; true when the dispatch read received bytes.
    using Signal = std::function<bool(TC32Thread& sender, std::uint32_t mask)>;

    // Starts running at once.
    TC32Thread(std::unique_ptr<EventWaiter> waiter, MessagePump& pump, Signal onSignal);
    // Stops and joins; the owner must have let a pending hand-off run (see TComm64::Close).
    ~TC32Thread();
    TC32Thread(const TC32Thread&) = delete;
    TC32Thread& operator=(const TC32Thread&) = delete;

    // Tells the thread to end; it touches the port no more once it has seen this.
    void RequestStop();
    // True when the thread body has ended within the time-out.
    bool WaitFinished(std::chrono::milliseconds timeout);
    void Join();

private:
    void Execute();
    bool HandOff(std::uint32_t mask);
    void MarkFinished();

    std::unique_ptr<EventWaiter> waiter_;
    MessagePump& pump_;
    Signal onSignal_;
    std::atomic<bool> terminated_{false};
    std::mutex mutex_;
    std::condition_variable finishedCv_;
    bool finished_ = false;
    std::thread thread_;
};

class TComm64 final : public CommPort {
public:
    // pump hands events to the main thread; the constructing thread is the main thread.
    explicit TComm64(MessagePump& pump);
    // A backend of the caller's choice (tests).
    TComm64(MessagePump& pump, std::unique_ptr<SerialBackend> backend);
    ~TComm64() override;
    TComm64(const TComm64&) = delete;
    TComm64& operator=(const TComm64&) = delete;

    // Closes, then opens DeviceName with the stored settings and starts the event thread.
    // Asked for inside an event dispatch, it is carried out when the dispatch has returned
    // and the call returns true (the outcome then shows in IsOpen and LastOpenFailure).
    bool Open() override;
    // Stops the event thread (running its pending hand-off meanwhile), drops unread input
    // and closes the port. Asked for inside a dispatch, it is carried out afterwards.
    void Close() override;
    bool IsOpen() const override;
    bool SetDTR(bool value) override;
    int ReadBlock(void* buffer, int count) override;
    int WriteBlock(const void* buffer, int count) override;

    // Runs the bound handlers of the events in mask, in the component's fixed order.
    void DispatchEvents(std::uint32_t mask);

protected:
    void ApplySetting() override;

private:
    enum class Request { None, Close, Open };

    bool OpenNow();
    void CloseNow();
    void StopThread();
    void JoinRetired();
    bool OnThreadSignal(TC32Thread& sender, std::uint32_t mask);
    void RunHandlers(std::uint32_t mask);
    void RunRequestAfterDispatch();
    LineConfig Line() const;

    MessagePump& pump_;
    std::unique_ptr<SerialBackend> backend_;
    std::unique_ptr<TC32Thread> thread_;
    // Threads stopped from inside their own hand-off: they end on their own once it has
    // returned, and are joined at the next Open, Close or destruction.
    std::vector<std::unique_ptr<TC32Thread>> retired_;
    // The thread whose hand-off is running on the main thread now, if any.
    TC32Thread* handOffThread_ = nullptr;
    int dispatchDepth_ = 0;
    // Bytes read so far, to tell the event thread whether a dispatch took input.
    std::uint64_t bytesRead_ = 0;
    bool closing_ = false;
    // The line settings last given to the open port.
    LineConfig applied_;
    Request request_ = Request::None;
};

} // namespace tarnik
