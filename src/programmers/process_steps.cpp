#include "programmers/process_steps.h"

namespace tarnik {

namespace {

const Text kStatusPrefix = "Process status: ";
const Text kErrorPrefix = "An error occurred. ";
const Text kStepLinePrefix = "-------";

} // namespace

const Text& StepNameIn(std::span<const Text> names, int step) {
    static const Text kNoName;
    if (step < 0 || static_cast<std::size_t>(step) >= names.size()) return kNoName;
    return names[static_cast<std::size_t>(step)];
}

const Text& ProcessSteps::Name(int step) const {
    return StepNameIn(names_, step);
}

bool ProcessSteps::Ended() const {
    return changed_ &&
           (current_ == roles_.ending || current_ == roles_.error || current_ == roles_.wrongUnit);
}

ProcessOutcome ProcessSteps::Outcome() const {
    ProcessOutcome outcome;
    outcome.exitStatus = context_.exitStatus;
    if (!changed_) return outcome; // no step ran: nothing was sent
    outcome.kind = current_ == roles_.ending         ? ProcessOutcome::Kind::Succeeded
                   : current_ == roles_.interrupting ? ProcessOutcome::Kind::Interrupted
                                                     : ProcessOutcome::Kind::Failed;
    const bool namesTheLeftStep = current_ == roles_.error || current_ == roles_.interrupting;
    outcome.step = namesTheLeftStep ? left_ : current_;
    outcome.stepName = Name(outcome.step);
    return outcome;
}

void ProcessSteps::Change(int step, const std::function<void()>& resetStepState) {
    if (Interrupted()) return;
    if (step == roles_.interrupting && Ended()) return;
    const std::uint32_t change = ++changes_;
    changed_ = true;
    left_ = current_;
    context_.exitStatus = current_;
    Text prefix;
    if (step == roles_.error) {
        prefix = kErrorPrefix;
        context_.exitStatus += kErrorExitOffset;
        context_.view.SetInfoTxColour(StatusColour::Red);
    } else {
        current_ = static_cast<std::uint8_t>(step);
    }
    resetStepState();
    // On the error step the name is the one of the step that failed.
    const Text text = prefix + Name(current_);
    current_ = static_cast<std::uint8_t>(step);
    context_.view.LogLine(kStepLinePrefix + text);
    // A STOP handled inside the log line has put up its own status; do not cover it.
    if (changes_ != change) return;
    context_.view.SetInfoTx(kStatusPrefix + text);
    context_.view.StepChanged(
        {step, Name(step == roles_.error ? left_ : step), step == roles_.error});
}

} // namespace tarnik
