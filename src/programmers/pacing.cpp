#include "programmers/pacing.h"

namespace tarnik {

namespace {

// Allowance of ten characters for the unit's answer in the wait after a frame.
const Text kAnswerAllowance = "ee001234ab";
constexpr std::uint32_t kWaitMarginMs = 20;

} // namespace

std::uint32_t WaitAfterFrameMs(const TFUstaw& link, const Text& frame) {
    return static_cast<std::uint32_t>(link.SendTimeMs(frame + kAnswerAllowance)) + kWaitMarginMs;
}

} // namespace tarnik
