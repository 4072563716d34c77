#pragma once
// What the three programmers share: the step of the process and its report, the clock of the
// step (time since it began, since its last send) and the record the process stands at.
#include "programmers/process_steps.h"
#include "programmers/process_view.h"
#include "tools/text.h"

#include <cstdint>
#include <span>

namespace tarnik {

class StepProgrammer {
public:
    StepProgrammer(const StepProgrammer&) = delete;
    StepProgrammer& operator=(const StepProgrammer&) = delete;

    // Leaves the current step for another and reports it (log, status line, exit status); the
    // new step starts at the first record with its state afresh. Once the process has been
    // interrupted, the step no longer changes.
    void SetStep(int step);
    // Starts the step's clock and state afresh and empties the received text.
    void ResetStepState();
    // True when the step must hold: it timed out (and went to the error step) or the resend
    // interval has not passed yet.
    bool CheckStepTiming(std::uint32_t timeoutMs, std::uint32_t intervalMs);

    int CurrentStep() const { return steps_.Current(); }
    ProcessOutcome Outcome() const { return steps_.Outcome(); }

protected:
    StepProgrammer(ProcessContext& context, std::span<const Text> names, StepRoles roles)
        : context_(context), steps_(context, names, roles), errorStep_(roles.error) {}
    ~StepProgrammer() = default;

    // What a programmer keeps for one step besides its clock (frame state, counters).
    virtual void ResetOwnStepState() {}

    std::uint32_t Now() const { return context_.link.TickMs(); }
    std::uint32_t SinceStepStart() const { return Now() - stepStart_; }
    std::uint32_t SinceLastSend() const { return Now() - lastSend_; }
    void MarkSent() { lastSend_ = Now(); }
    // The step's time-out starts again (the unit has said it is still at work).
    void RestartStepClock() { stepStart_ = Now(); }
    // The application title with the share done, e.g. "... 42 %".
    void ShowTitlePercent(const Text& percent);
    // The title and the progress bar at the current record, the percentage at most maxPercent.
    void ShowRecordProgress(int maxPercent = 100);

    ProcessContext& context_;
    ProcessSteps steps_;
    int recordIndex_ = 0;

private:
    int errorStep_;
    std::uint32_t stepStart_ = 0;
    std::uint32_t lastSend_ = 0;
};

} // namespace tarnik
