#include "tools/plain_message_pump.h"

namespace tarnik {

PlainMessagePump::PlainMessagePump() : mainThread_(std::this_thread::get_id()) {}

void PlainMessagePump::processMessages() {
    std::size_t count;
    {
        std::lock_guard lock(mutex_);
        count = queue_.size();
    }
    // One call at a time, so that a call which processes messages itself (a nested pump)
    // takes the next ones in order.
    for (; count > 0; --count) {
        Call* call;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            call = queue_.front();
            queue_.pop_front();
        }
        Run(*call);
    }
}

void PlainMessagePump::Run(Call& call) {
    std::exception_ptr error;
    try {
        call.fn();
    } catch (...) {
        error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    call.error = error;
    call.done = true;
    callDone_.notify_all();
}

void PlainMessagePump::callSync(std::function<void()> fn) {
    if (OnMainThread()) {
        fn();
        return;
    }
    Call call{std::move(fn), nullptr, false};
    std::unique_lock lock(mutex_);
    queue_.push_back(&call);
    workArrived_.notify_all();
    callDone_.wait(lock, [&] { return call.done; });
    if (call.error) std::rethrow_exception(call.error);
}

bool PlainMessagePump::WaitForWork(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    workArrived_.wait_for(lock, timeout, [&] { return !queue_.empty() || woken_; });
    woken_ = false;
    return !queue_.empty();
}

void PlainMessagePump::Wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    workArrived_.notify_all();
}

std::size_t PlainMessagePump::Pending() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

} // namespace tarnik
