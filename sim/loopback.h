#pragma once
// In-process serial line for tests: a virtual clock, a simulated port joined to a UnitPeer,
// and a message pump that delivers the unit's bytes through the port's character-received
// event whenever the main thread processes its messages, as the real event thread does.
#include "serial/comm_port.h"
#include "sim/unit_peer.h"
#include "tools/clock.h"
#include "tools/message_pump.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::sim {

// Time that only moves when somebody sleeps or advances it.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(std::uint32_t start = 1000000) : now_(start) {}
    std::uint32_t TickMs() override { return now_; }
    void SleepMs(std::uint32_t ms) override { now_ += ms; }
    void Advance(std::uint32_t ms) { now_ += ms; }

private:
    std::uint32_t now_;
};

class SimulatedPort final : public CommPort {
public:
    SimulatedPort(Clock& clock, UnitPeer* peer) : clock_(clock), peer_(peer) {}

    void SetPeer(UnitPeer* peer) { peer_ = peer; }
    // Makes the next Open calls fail (a port held by another program, a missing device).
    void SetOpenFailure(OpenFailure failure) { openFailure_ = failure; }

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return open_; }
    bool SetDTR(bool value) override;
    int ReadBlock(void* buffer, int count) override;
    int WriteBlock(const void* buffer, int count) override;

    // Moves the unit's bytes that are due into the input queue and raises the
    // character-received event while any are waiting. Called by the loopback pump.
    void Deliver();
    // The earliest moment at which bytes may come in: now when some wait unread, else the
    // unit's next event; none while the port is closed or the unit has nothing due.
    std::optional<std::uint32_t> NextArrivalMs() const;

    LineSettings Line() const;
    std::size_t OpenCount() const { return openCount_; }
    const std::vector<LineSettings>& OpenedWith() const { return openedWith_; }
    bool Dtr() const { return dtr_; }

private:
    Clock& clock_;
    UnitPeer* peer_;
    bool open_ = false;
    bool dtr_ = false;
    OpenFailure openFailure_ = OpenFailure::None;
    std::string input_;
    std::size_t openCount_ = 0;
    std::vector<LineSettings> openedWith_;
};

// processMessages delivers the port's waiting bytes and then runs the extra work hooks
// (a test may add one that presses STOP at a chosen moment). callSync runs at once.
class LoopbackPump final : public MessagePump {
public:
    void AddPort(SimulatedPort* port) { ports_.push_back(port); }
    void AddHook(std::function<void()> hook) { hooks_.push_back(std::move(hook)); }
    void processMessages() override;
    void callSync(std::function<void()> fn) override { fn(); }
    // Moves the virtual clock on to the next moment a port's unit has something due, or by
    // the time-out when that comes first.
    void waitForWork(std::uint32_t timeoutMs, Clock& clock) override;

private:
    std::vector<SimulatedPort*> ports_;
    std::vector<std::function<void()>> hooks_;
    bool inside_ = false;
};

} // namespace tarnik::sim
