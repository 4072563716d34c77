#pragma once
// How a programming process ended, as a value. The front ends decide from it (the exit code,
// the serial-number step, the summary, the results log), never from the status text shown.
#include "tools/text.h"

#include <string_view>

namespace tarnik {

struct ProcessOutcome {
    enum class Kind {
        Succeeded,   // the process reached "Ending process": the unit is programmed
        Failed,      // any other end of a process that ran (error step, foreign unit, ...)
        Interrupted, // "Interrupting process": STOP, Ctrl+C, a confirmation answered No
        NotStarted,  // nothing was sent: the port could not be opened, the image not loaded
    };

    ProcessOutcome() = default;
    ProcessOutcome(Kind how, int status) : kind(how), exitStatus(status) {}

    Kind kind = Kind::NotStarted;
    // The exit status: the step left, plus the error offset after an error; -1
    // when no step ran.
    int exitStatus = -1;
    // The step the process ended in; on an error the step that failed, after a STOP the step
    // it interrupted. -1 when no step ran.
    int step = -1;
    Text stepName;
    // Why nothing ran, or the message of an error that ended the process.
    Text reason;

    bool Succeeded() const { return kind == Kind::Succeeded; }
};

// Exit codes of an unattended run. The exit status cannot be the exit code where the
// system keeps only its low byte (5376 + 18 ends in 18, the audio unit's success), so an
// unattended run exits by how the process ended.
inline constexpr int kExitProgrammed = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadArguments = 2;
inline constexpr int kExitInterrupted = 3;
inline constexpr int kExitNothingRan = 4;
inline constexpr int kExitSecondInterrupt = 130;

int OutcomeExitCode(ProcessOutcome::Kind kind);

// The outcome's word for machines and summaries: "programmed", "failed", "interrupted",
// "not started".
std::string_view OutcomeWord(ProcessOutcome::Kind kind);

} // namespace tarnik
