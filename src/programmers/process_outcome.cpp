#include "programmers/process_outcome.h"

namespace tarnik {

int OutcomeExitCode(ProcessOutcome::Kind kind) {
    switch (kind) {
    case ProcessOutcome::Kind::Succeeded:
        return kExitProgrammed;
    case ProcessOutcome::Kind::Failed:
        return kExitFailed;
    case ProcessOutcome::Kind::Interrupted:
        return kExitInterrupted;
    case ProcessOutcome::Kind::NotStarted:
        break;
    }
    return kExitNothingRan;
}

std::string_view OutcomeWord(ProcessOutcome::Kind kind) {
    switch (kind) {
    case ProcessOutcome::Kind::Succeeded:
        return "programmed";
    case ProcessOutcome::Kind::Failed:
        return "failed";
    case ProcessOutcome::Kind::Interrupted:
        return "interrupted";
    case ProcessOutcome::Kind::NotStarted:
        break;
    }
    return "not started";
}

} // namespace tarnik
