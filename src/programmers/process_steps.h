#pragma once
// The current step of a programmer's process and the report of every change of it: the log
// line, the status line InfoTx and the exit status. The programmers differ only in their step
// names, their error step and the step that STOP takes them to.
#include "programmers/process_view.h"
#include "tools/text.h"

#include <cstdint>
#include <functional>
#include <span>

namespace tarnik {

// Added to the exit status by an error, by every programmer alike, so that an unattended run
// tells a failure (and the step that failed) from the step reached.
constexpr int kErrorExitOffset = 21 * 256;

// The status name of a step in a table of names by step number; empty beyond the table.
const Text& StepNameIn(std::span<const Text> names, int step);

class ProcessSteps {
public:
    ProcessSteps(ProcessContext& context, std::span<const Text> names, int errorStep,
                 int interruptStep)
        : context_(context), names_(names), errorStep_(errorStep), interruptStep_(interruptStep) {}

    // Leaves the current step for `step`. The exit status becomes the step left (plus the error
    // offset when `step` is the error step, whose report names the step that failed);
    // resetStepState runs before the report. STOP reaches the process through message
    // processing (a log line, a send), so code that was under way may still ask for a step
    // afterwards, and a second STOP may come: once the interrupting step is taken such requests
    // are dropped, and the process reports as if STOP had come right after the change it
    // interrupted.
    void Change(int step, const std::function<void()>& resetStepState);

    std::uint8_t Current() const { return current_; }
    // Puts a value into the step without a change or a report (the network programmer keeps
    // its model code there until the process starts).
    void Preset(std::uint8_t value) { current_ = value; }
    bool Interrupted() const { return current_ == interruptStep_; }
    const Text& Name(int step) const;

private:
    ProcessContext& context_;
    std::span<const Text> names_;
    int errorStep_;
    int interruptStep_;
    std::uint8_t current_ = 0;
    std::uint32_t changes_ = 0; // tells Change whether another change ran inside it
};

} // namespace tarnik
