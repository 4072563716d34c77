// The loader's main-family programmer against the emulated unit on the in-process line: a
// whole process on a virtual clock, judged by the unit's report.
#include "host_side.h"
#include "programmers/s19_programmer.h"
#include "serial/tfustaw.h"
#include "sim/loopback.h"
#include "sim/quiet_view.h"
#include "support/virtual_line.h"

#include <gtest/gtest.h>

namespace tarnik::sim::testing {
namespace {

class QuietView final : public QuietProcessView {
public:
    explicit QuietView(MessagePump& pump) : QuietProcessView(pump) {
        edNrSerial = "12345678";
        answerYes = true;
    }
    void LogLine(const Text& line) override { log.push_back(line); }
    void SetInfoTx(const Text& caption) override { status = caption; }

    std::vector<Text> log;
    Text status;
};

struct ProcessOutcome {
    int exitStatus = -1;
    Text status;
};

ProcessOutcome RunS19Process(UnitModel& unit, const UnitOptions& options, bool verify) {
    tarnik::testing::VirtualLine<QuietView> line(7);
    line.port.SetPeer(&unit);
    line.view.unitType = options.unitType;
    line.view.boxVer = verify;
    line.records = *options.image;
    line.OpenFor(options.unitType);
    TS19_WR programmer(line.context, options.address);
    programmer.StartProcess(options.unitType);
    return {line.exitStatus, line.view.status};
}

TEST(ProgrammerAgainstUnitModel, MainFamilyProcessSatisfiesTheUnit) {
    for (const bool verify : {false, true}) {
        UnitOptions options;
        options.unitType = 1;
        options.address = 0x05;
        options.image = S19Image(5);
        options.faults.eraseProgress = {1, 2};
        options.faults.dropAck = 2;
        const auto unit = CreateUnitModel(options);
        const ProcessOutcome run = RunS19Process(*unit, options, verify);
        EXPECT_EQ(run.exitStatus, 20) << run.status;
        EXPECT_TRUE(unit->HostCorrect()) << ReportToJson(unit->Report(), false);
        EXPECT_EQ(unit->Report().verifications.size(), verify ? 5u : 0u);
    }
}

TEST(ProgrammerAgainstUnitModel, EveryMainFamilyTypeWithNoiseOrAnActiveBootloader) {
    for (const int type : {0, 2, 3, 6, 7, 8, 10, 11, 12, 13, 14, 16, 17, 18}) {
        UnitOptions options;
        options.unitType = type;
        options.image = S19Image(3);
        options.faults.noise = type % 2 == 0;
        options.faults.bootloaderActive = type % 3 == 0;
        const auto unit = CreateUnitModel(options);
        const ProcessOutcome run = RunS19Process(*unit, options, true);
        EXPECT_EQ(run.exitStatus, 20) << "type " << type << ": " << run.status;
        EXPECT_TRUE(unit->HostCorrect()) << ReportToJson(unit->Report(), false);
    }
}

TEST(ProgrammerAgainstUnitModel, TimeOutPathsEndWithoutViolations) {
    UnitOptions options;
    options.unitType = 0;
    options.image = S19Image(2);
    options.faults.verifyMismatch = 1;
    auto unit = CreateUnitModel(options);
    ProcessOutcome run = RunS19Process(*unit, options, true);
    EXPECT_EQ(run.exitStatus, 18 + 5376);
    EXPECT_TRUE(unit->HostCorrect()) << ReportToJson(unit->Report(), false);

    options.faults = {};
    options.faults.wrongType = true;
    unit = CreateUnitModel(options);
    run = RunS19Process(*unit, options, true);
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_TRUE(unit->HostCorrect()) << ReportToJson(unit->Report(), false);
}

} // namespace
} // namespace tarnik::sim::testing
