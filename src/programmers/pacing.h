#pragma once
// How a programmer spaces its frames. The standard pacing (the default) sleeps fixed
// intervals and waits a fixed margin after each frame before it looks at the answer; real
// units and the bus converters in front of them were built against it. Fast pacing wakes
// when bytes arrive, acts on an answer as soon as it is complete and waits only a bus
// turnaround guard after the last received byte before the next frame. The frames and their
// order are the same; resends never come sooner than at the standard pacing.
#include "serial/tfustaw.h"
#include "tools/text.h"

#include <cstdint>

namespace tarnik {

inline constexpr std::uint32_t kDefaultTurnaroundMs = 2;
inline constexpr std::uint32_t kMaxTurnaroundMs = 50;

struct Pacing {
    bool fast = false;
    // Quiet time after the last received byte before a frame goes out (fast pacing only),
    // so that a half-duplex converter has switched back to sending.
    std::uint32_t turnaroundMs = kDefaultTurnaroundMs;
};

// The wait after a frame before the standard poll loop looks again: the frame's time on the
// wire with an allowance of ten characters for the answer, plus 20 ms.
std::uint32_t WaitAfterFrameMs(const TFUstaw& link, const Text& frame);

} // namespace tarnik
