#pragma once
// Step changes of the bootloader programmers (TS19_WR and TTCP_WR) and how they are reported:
// the log line "-------" and the step's name, the status line, the exit status (the step left,
// plus 5376 on the error step), and the interruption by STOP, which no later change covers.
#include "programmers/process_view.h"
#include "tools/text.h"

#include <cstdint>
#include <functional>
#include <span>

namespace tarnik {

// The status name of a step in a table of names by step number; empty beyond the table.
const Text& StepNameIn(std::span<const Text> names, int step);

class StepChanges {
public:
    static constexpr std::uint8_t kErrorStep = 21;
    static constexpr std::uint8_t kInterruptStep = 22;
    static constexpr int kErrorExitOffset = kErrorStep * 256;

    // names: the status name of every step by number; steps beyond it have none.
    StepChanges(ProcessContext& context, std::span<const Text> names)
        : context_(context), names_(names) {}

    std::uint8_t Current() const { return current_; }
    // Puts a value into the step without a change (the network programmer's model code).
    void Preset(std::uint8_t value) { current_ = value; }
    bool Interrupted() const { return current_ == kInterruptStep; }
    const Text& Name(int step) const { return StepNameIn(names_, step); }

    // Leaves the current step for another. resetStepState runs once the step is decided and
    // before the change is reported. Once interrupted, the step no longer changes.
    void Change(int step, const std::function<void()>& resetStepState);

private:
    ProcessContext& context_;
    std::span<const Text> names_;
    std::uint8_t current_ = 0;
    std::uint32_t changes_ = 0; // tells Change whether another change ran inside it
};

} // namespace tarnik
