#pragma once
// Millisecond tick and sleep, behind an interface so time-outs can run on a virtual clock.
#include <cstdint>

namespace tarnik {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds, wrapping at 2^32; compare with unsigned differences.
    virtual std::uint32_t TickMs() = 0;
    virtual void SleepMs(std::uint32_t ms) = 0;
    // Microseconds, for intervals of a few milliseconds (the bus turnaround guard) that the
    // millisecond tick would round by up to a whole millisecond. A clock without finer time
    // counts whole milliseconds here.
    virtual std::uint64_t TickUs() { return std::uint64_t{TickMs()} * 1000; }
};

// The steady clock of the machine, truncated to 32 bits.
class SteadyClock final : public Clock {
public:
    std::uint32_t TickMs() override;
    void SleepMs(std::uint32_t ms) override;
    std::uint64_t TickUs() override;
};

// Elapsed milliseconds from `since` to `now`, correct across the 32-bit wrap.
inline std::uint32_t ElapsedMs(std::uint32_t now, std::uint32_t since) {
    return now - since;
}

} // namespace tarnik
