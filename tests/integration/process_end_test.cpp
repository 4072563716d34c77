// How a process ends, for every programmer family on the emulated unit: the outcome value
// the front ends decide from, and a STOP that comes once the process has reached its end.
#include "virtual_process.h"

#include "programmers/process_steps.h"

#include <gtest/gtest.h>

namespace tarnik::sim::testing {
namespace {

using Kind = ProcessOutcome::Kind;

struct EndCase {
    const char* name;
    int unitType;
    UnitFaults faults;
    Kind kind;
    int exitStatus;
};

UnitFaults EraseFails() {
    UnitFaults faults;
    faults.eraseFail = true;
    return faults;
}

UnitFaults WrongType() {
    UnitFaults faults;
    faults.wrongType = true;
    return faults;
}

const EndCase kEnds[] = {
    {"expander programmed", 1, {}, Kind::Succeeded, 20},
    {"network module programmed", 4, {}, Kind::Succeeded, 19},
    {"audio unit programmed", 5, {}, Kind::Succeeded, 18},
    {"expander erase failure", 1, EraseFails(), Kind::Failed, 5376 + 7},
    {"network module erase failure", 9, EraseFails(), Kind::Failed, 5376 + 15},
    {"audio unit erase failure", 5, EraseFails(), Kind::Failed, 5376 + 7},
    {"keypad of another type", 7, WrongType(), Kind::Failed, 2},
};

TEST(ProcessEnd, TheOutcomeTellsHowEachFamilyEnded) {
    for (const EndCase& c : kEnds) {
        VirtualProcess process(c.unitType, c.faults);
        const ProcessOutcome outcome = process.Run();
        EXPECT_EQ(outcome.kind, c.kind) << c.name << ": " << process.view.status;
        EXPECT_EQ(outcome.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(process.exitStatus, c.exitStatus) << c.name;
    }
}

// The number of a step says nothing of the result: an error in the audio unit's step 18 or
// the network modules' step 19 has the success status's low byte, an error in step 2 the
// low byte of the bad-arguments code. The outcome is read from the step the process ends in.
TEST(ProcessEnd, AnErrorIsAFailureWhateverTheLowByteOfItsStatus) {
    struct Case {
        const char* name;
        StepRoles roles;
        std::vector<int> steps;
        Kind kind;
        int exitStatus;
        int step;
    };
    const StepRoles audio{13, 19, 20, 17}, network{20, 21, 22, 11}, main{17, 21, 22, 19};
    const Case cases[] = {
        {"audio unit started", audio, {18, 13}, Kind::Succeeded, 18, 13},
        {"audio unit fails to start", audio, {18, 19}, Kind::Failed, 5376 + 18, 18},
        {"audio unit not identified", audio, {2, 19}, Kind::Failed, 5376 + 2, 2},
        {"network module ends programming", network, {19, 20}, Kind::Succeeded, 19, 20},
        {"network module fails to end programming", network, {19, 21}, Kind::Failed, 5376 + 19, 19},
        {"main-family unit of another type", main, {2, 19}, Kind::Failed, 2, 19},
        {"main-family unit stopped", main, {13, 22}, Kind::Interrupted, 13, 13},
    };
    const std::vector<Text> names(23, "name");
    for (const Case& c : cases) {
        VirtualProcess process(1);
        ProcessSteps steps(process.context, names, c.roles);
        for (const int step : c.steps)
            steps.Change(step, [] {});
        const ProcessOutcome outcome = steps.Outcome();
        EXPECT_EQ(outcome.kind, c.kind) << c.name;
        EXPECT_EQ(outcome.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(outcome.step, c.step) << c.name;
    }
}

// A STOP that arrives once the process has reached its end step, while that step is being
// logged or at a later message processing before the poll loop ends, leaves the result as
// it was: text, exit status and outcome.
TEST(ProcessEnd, StopAfterTheEndChangesNothing) {
    for (const EndCase& c : kEnds) {
        for (const bool insideTheLogLine : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (insideTheLogLine ? ", inside" : ", after"));
            VirtualProcess undisturbed(c.unitType, c.faults);
            const ProcessOutcome expected = undisturbed.Run();

            VirtualProcess process(c.unitType, c.faults);
            const Text endLine = "-------" + undisturbed.view.status.substr(16);
            bool stopped = false;
            process.pump.AddHook([&] {
                const bool ended =
                    insideTheLogLine
                        ? !process.view.log.empty() && process.view.log.back() == endLine
                        : process.view.status == undisturbed.view.status;
                if (!ended || stopped) return;
                stopped = true;
                process.programmer->Stop();
            });
            const ProcessOutcome outcome = process.Run();
            EXPECT_TRUE(stopped);
            EXPECT_EQ(outcome.kind, expected.kind);
            EXPECT_EQ(outcome.exitStatus, expected.exitStatus);
            EXPECT_EQ(process.view.status, undisturbed.view.status);
            EXPECT_EQ(std::count(process.view.log.begin(), process.view.log.end(),
                                 "-------Interrupting process"),
                      0);
        }
    }
}

// A STOP before the end is taken, and tells the step it interrupted.
TEST(ProcessEnd, StopDuringTheProcessIsAnInterruption) {
    for (const int type : {1, 4, 5}) {
        VirtualProcess process(type);
        bool stopped = false;
        process.pump.AddHook([&] {
            if (stopped || process.view.status != "Process status: Programming ...") return;
            stopped = true;
            process.programmer->Stop();
        });
        const ProcessOutcome outcome = process.Run();
        EXPECT_EQ(outcome.kind, Kind::Interrupted) << "type " << type;
        EXPECT_EQ(outcome.stepName, "Programming ...") << "type " << type;
        EXPECT_EQ(outcome.exitStatus, outcome.step) << "type " << type;
        EXPECT_EQ(process.view.status, "Process status: Interrupting process");
    }
}

} // namespace
} // namespace tarnik::sim::testing
