#pragma once
// The current step of a programmer's process and the report of every change of it: the log
// line, the status line InfoTx and the exit status. The programmers differ only in their step
// names, their error step and the step that STOP takes them to.
#include "programmers/process_outcome.h"
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

// The steps of a programmer's table that end a process, by what they mean.
struct StepRoles {
    int ending;       // "Ending process": the unit is programmed and started
    int error;        // the error step
    int interrupting; // "Interrupting process", where STOP takes the process
    int wrongUnit;    // "This program is not intended for this unit "
};

class ProcessSteps {
public:
    ProcessSteps(ProcessContext& context, std::span<const Text> names, StepRoles roles)
        : context_(context), names_(names), roles_(roles) {}

    // Leaves the current step for `step`. The exit status becomes the step left (plus the error
    // offset when `step` is the error step, whose report names the step that failed);
    // resetStepState runs before the report. STOP reaches the process through message
    // processing (a log line, a send), so code that was under way may still ask for a step
    // afterwards, and a second STOP may come: once the interrupting step is taken such requests
    // are dropped, and the process reports as if STOP had come right after the change it
    // interrupted. A STOP that comes once the process has reached its end (success, error or
    // a foreign unit) changes nothing: the result stands.
    void Change(int step, const std::function<void()>& resetStepState);

    std::uint8_t Current() const { return current_; }
    // Puts a value into the step without a change or a report (the network programmer keeps
    // its model code there until the process starts).
    void Preset(std::uint8_t value) { current_ = value; }
    bool Interrupted() const { return current_ == roles_.interrupting; }
    // The process stands in a step that ends it with a result: success, error or foreign unit.
    bool Ended() const;
    const Text& Name(int step) const;
    // How the process ended, judged from the step it stands in; a process that stopped in
    // any other step failed.
    ProcessOutcome Outcome() const;

private:
    ProcessContext& context_;
    std::span<const Text> names_;
    StepRoles roles_;
    std::uint8_t current_ = 0;
    int left_ = -1;             // the step left at the last change (the failing one on an error)
    bool changed_ = false;      // whether any step ran
    std::uint32_t changes_ = 0; // tells Change whether another change ran inside it
};

} // namespace tarnik
