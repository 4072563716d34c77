#include "serial/tcomm64.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

namespace tarnik {

// ---------------------------------------------------------------------------------------
// TC32Thread

TC32Thread::TC32Thread(std::unique_ptr<EventWaiter> waiter, MessagePump& pump, Signal onSignal)
    : waiter_(std::move(waiter)), pump_(pump), onSignal_(std::move(onSignal)),
      thread_([this] { Execute(); }) {}

TC32Thread::~TC32Thread() {
    RequestStop();
    Join();
}

void TC32Thread::RequestStop() {
    terminated_ = true;
    waiter_->Stop();
}

bool TC32Thread::WaitFinished(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return finishedCv_.wait_for(lock, timeout, [&] { return finished_; });
}

void TC32Thread::Join() {
    if (thread_.joinable()) thread_.join();
}

void TC32Thread::Execute() {
    try {
        while (!terminated_) {
            std::uint32_t mask = 0;
            if (waiter_->Wait(mask) != EventWaiter::Result::Event) continue;
            const bool inputTaken = HandOff(mask);
            // A stop asked for during the hand-off may already have closed the port.
            if (terminated_) break;
            waiter_->Dispatched(inputTaken);
        }
    } catch (...) {
        // The thread ends; the port stays usable for reads and writes.
    }
    waiter_->Finish();
    MarkFinished();
}

bool TC32Thread::HandOff(std::uint32_t mask) {
    bool inputTaken = false;
    try {
        pump_.callSync([&] {
            if (onSignal_) inputTaken = onSignal_(*this, mask);
        });
    } catch (...) {
        // A failing dispatch must not end the event thread.
    }
    return inputTaken;
}

void TC32Thread::MarkFinished() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    finishedCv_.notify_all();
}

// ---------------------------------------------------------------------------------------
// TComm64

namespace {

constexpr std::chrono::milliseconds kStopServeInterval{5};

// What the exception being handled says (the event thread's start, for example), if anything.
std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return {};
    }
}

} // namespace

TComm64::TComm64(MessagePump& pump) : TComm64(pump, SerialBackend::Create()) {}

TComm64::TComm64(MessagePump& pump, std::unique_ptr<SerialBackend> backend)
    : pump_(pump), backend_(std::move(backend)) {}

TComm64::~TComm64() {
    request_ = Request::None;
    CloseNow();
    JoinRetired();
}

bool TComm64::IsOpen() const {
    return backend_->IsOpen();
}

bool TComm64::Open() {
    if (dispatchDepth_ > 0) {
        request_ = Request::Open;
        return true;
    }
    return OpenNow();
}

void TComm64::Close() {
    if (dispatchDepth_ > 0) {
        request_ = Request::Close;
        return;
    }
    CloseNow();
}

bool TComm64::OpenNow() {
    try {
        CloseNow();
        if (closing_) return false; // asked for while a Close is still stopping the thread
        OpenFailure why = OpenFailure::None;
        std::string errorText;
        if (!backend_->Open(DeviceName(), ReadBufferSize, WriteBufferSize, why, errorText)) {
            SetLastOpenFailure(why == OpenFailure::None ? OpenFailure::Other : why,
                               std::move(errorText));
            return false;
        }
        applied_ = Line();
        for (LineField field :
             {LineField::BaudRate, LineField::Parity, LineField::Stopbits, LineField::Databits})
            backend_->ApplyField(field, applied_);
        thread_ =
            std::make_unique<TC32Thread>(backend_->CreateWaiter(SystemEventMask(MonitorEvents)),
                                         pump_, [this](TC32Thread& sender, std::uint32_t mask) {
                                             return OnThreadSignal(sender, mask);
                                         });
        SetLastOpenFailure(OpenFailure::None);
        return true;
    } catch (...) {
        thread_.reset();
        backend_->Close();
        SetLastOpenFailure(OpenFailure::Other, CurrentExceptionText());
        return false;
    }
}

void TComm64::CloseNow() {
    if (closing_) return;
    closing_ = true;
    JoinRetired();
    StopThread();
    backend_->Close();
    closing_ = false;
}

void TComm64::StopThread() {
    if (!thread_) return;
    thread_->RequestStop();
    // The thread may be blocked in a hand-off that waits for this (main) thread: keep
    // serving it until the thread has ended.
    while (!thread_->WaitFinished(kStopServeInterval))
        pump_.processMessages();
    thread_.reset();
}

void TComm64::JoinRetired() {
    auto keep = std::partition(retired_.begin(), retired_.end(),
                               [&](const auto& t) { return t.get() == handOffThread_; });
    for (auto it = keep; it != retired_.end(); ++it)
        (*it)->Join();
    retired_.erase(keep, retired_.end());
}

bool TComm64::OnThreadSignal(TC32Thread& sender, std::uint32_t mask) {
    TC32Thread* const outer = handOffThread_;
    const std::uint64_t readBefore = bytesRead_;
    handOffThread_ = &sender;
    DispatchEvents(mask);
    handOffThread_ = outer;
    return bytesRead_ != readBefore;
}

void TComm64::DispatchEvents(std::uint32_t mask) {
    ++dispatchDepth_;
    RunHandlers(mask);
    --dispatchDepth_;
    if (dispatchDepth_ == 0) RunRequestAfterDispatch();
}

void TComm64::RunHandlers(std::uint32_t mask) {
    if (!backend_->IsOpen()) return;
    const PortStatus status = backend_->ClearError();
    try {
        if ((mask & kEventRxChar) && OnRxCharSignal) OnRxCharSignal(status.inputCount);
        if ((mask & kEventRxFlag) && OnRxFlagSignal) OnRxFlagSignal();
        if ((mask & kEventCts) && OnCTSSignal) {
            std::uint32_t modem = 0;
            if (backend_->ModemStatus(modem)) OnCTSSignal((modem & kModemCtsOn) != 0);
        }
        if ((mask & kEventBreak) && OnBreakSignal) OnBreakSignal();
        if ((mask & kEventDsr) && OnDSRSignal) OnDSRSignal(!status.heldForDsr);
        if ((mask & kEventError) && OnErrorSignal) OnErrorSignal(static_cast<int>(status.errors));
        if ((mask & kEventRing) && OnRingSignal) OnRingSignal();
        if ((mask & kEventRlsd) && OnRLSDSignal) OnRLSDSignal();
        if ((mask & kEventTxEmpty) && OnTxEmptySignal) OnTxEmptySignal();
    } catch (...) {
        // The rest of this mask is skipped; the event thread goes on.
    }
}

void TComm64::RunRequestAfterDispatch() {
    const Request request = std::exchange(request_, Request::None);
    if (request == Request::None || closing_) return;
    // Inside the live thread's own hand-off the thread cannot be joined yet: it is told to
    // stop, ends once this hand-off has returned, and is joined later.
    if (thread_ && thread_.get() == handOffThread_) {
        thread_->RequestStop();
        retired_.push_back(std::move(thread_));
    }
    if (request == Request::Close)
        CloseNow();
    else
        OpenNow();
}

bool TComm64::SetDTR(bool value) {
    return backend_->IsOpen() && backend_->SetDTR(value);
}

int TComm64::ReadBlock(void* buffer, int count) {
    if (count < 1 || !backend_->IsOpen()) return -1;
    const int n = backend_->Read(buffer, count);
    if (n > 0) bytesRead_ += static_cast<std::uint64_t>(n);
    return n;
}

int TComm64::WriteBlock(const void* buffer, int count) {
    if (count < 1) return -2;
    if (!backend_->IsOpen()) return -1;
    int result = -2;
    try {
        result = backend_->Write(buffer, count);
    } catch (...) {
        // The value reached so far stands.
    }
    return result;
}

void TComm64::ApplySetting() {
    if (!backend_->IsOpen()) return;
    const LineConfig line = Line();
    // Only the field that changed goes to the line, as a single setting write does.
    if (line.baudRate != applied_.baudRate) backend_->ApplyField(LineField::BaudRate, line);
    if (line.parity != applied_.parity) backend_->ApplyField(LineField::Parity, line);
    if (line.stopbits != applied_.stopbits) backend_->ApplyField(LineField::Stopbits, line);
    if (line.databits != applied_.databits) backend_->ApplyField(LineField::Databits, line);
    applied_ = line;
}

LineConfig TComm64::Line() const {
    return {BaudRate(), Parity(), Stopbits(), Databits()};
}

} // namespace tarnik
