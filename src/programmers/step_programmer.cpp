#include "programmers/step_programmer.h"

#include "programmers/bootloader_frames.h"
#include "tools/version.h"

#include <algorithm>
#include <string>

namespace tarnik {

void StepProgrammer::SetStep(int step) {
    steps_.Change(step, [this] {
        recordIndex_ = 0;
        ResetStepState();
    });
}

void StepProgrammer::ResetStepState() {
    stepStart_ = Now();
    lastSend_ = 0;
    ResetOwnStepState();
    context_.link.ClearRxText();
}

bool StepProgrammer::CheckStepTiming(std::uint32_t timeoutMs, std::uint32_t intervalMs) {
    if (SinceStepStart() > timeoutMs) {
        SetStep(errorStep_);
        return true;
    }
    return SinceLastSend() < intervalMs;
}

void StepProgrammer::ShowTitlePercent(const Text& percent) {
    context_.view.SetApplicationTitle(Text(kApplicationTitle) + percent + " %");
}

void StepProgrammer::ShowRecordProgress(int maxPercent) {
    const int count = static_cast<int>(context_.records.size());
    ShowTitlePercent(std::to_string(std::min(PercentHalfEven(recordIndex_, count), maxPercent)));
    context_.view.SetPBarPosition(recordIndex_);
}

} // namespace tarnik
