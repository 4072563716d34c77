#include "sim/loopback.h"

#include <algorithm>
#include <cstring>

namespace tarnik::sim {

bool SimulatedPort::Open() {
    Close();
    if (openFailure_ != OpenFailure::None) {
        SetLastOpenFailure(openFailure_);
        return false;
    }
    SetLastOpenFailure(OpenFailure::None);
    open_ = true;
    ++openCount_;
    openedWith_.push_back(Line());
    return true;
}

void SimulatedPort::Close() {
    if (!open_) return;
    open_ = false;
    input_.clear(); // unread input is gone after Close
}

bool SimulatedPort::SetDTR(bool value) {
    if (!open_) return false;
    dtr_ = value;
    return true;
}

int SimulatedPort::ReadBlock(void* buffer, int count) {
    if (count < 1 || !open_ || input_.empty()) return -1;
    const auto n = std::min<std::size_t>(static_cast<std::size_t>(count), input_.size());
    std::memcpy(buffer, input_.data(), n);
    input_.erase(0, n);
    return static_cast<int>(n);
}

int SimulatedPort::WriteBlock(const void* buffer, int count) {
    if (count < 1) return -2;
    if (!open_ || (peer_ && peer_->HungUp())) return -1;
    if (peer_)
        peer_->OnHostBytes(Text(static_cast<const char*>(buffer), static_cast<std::size_t>(count)),
                           clock_.TickMs(), Line());
    return count;
}

void SimulatedPort::Deliver() {
    if (!open_ || !peer_) return;
    const Text arrived = peer_->TakeUnitBytes(clock_.TickMs());
    input_ += arrived;
    if (!input_.empty() && OnRxCharSignal) OnRxCharSignal(static_cast<int>(input_.size()));
}

std::optional<std::uint32_t> SimulatedPort::NextArrivalMs() const {
    if (!open_ || !peer_) return std::nullopt;
    if (!input_.empty()) return clock_.TickMs();
    return peer_->NextEventMs();
}

LineSettings SimulatedPort::Line() const {
    return LineSettings{BaudRateBits(BaudRate()), Parity(), Stopbits(), Databits()};
}

void LoopbackPump::processMessages() {
    // A dispatch runs nested message processing (the link buffer pumps before it reads);
    // like the event thread, the port hands over one arrival at a time.
    if (inside_) return;
    inside_ = true;
    for (SimulatedPort* port : ports_)
        port->Deliver();
    inside_ = false;
    for (auto& hook : hooks_)
        hook();
}

void LoopbackPump::waitForWork(std::uint32_t timeoutMs, Clock& clock) {
    const std::uint32_t now = clock.TickMs();
    std::uint32_t wait = timeoutMs;
    for (const SimulatedPort* port : ports_) {
        const std::optional<std::uint32_t> due = port->NextArrivalMs();
        if (!due) continue;
        const auto ahead = static_cast<std::int32_t>(*due - now);
        wait = std::min(wait, static_cast<std::uint32_t>(std::max(ahead, 0)));
    }
    clock.SleepMs(wait);
}

} // namespace tarnik::sim
