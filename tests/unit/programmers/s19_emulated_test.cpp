// Whole processes against the emulator's unit model, which checks every frame the host sends
// against the protocol and the image and reports each mistake as a violation.
#include "programmers/s19_programmer.h"
#include "sim/unit_model.h"

#include "s19_rig.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace tarnik::test {
namespace {

struct EmulatedRig : testing::VirtualLine<RecordingView> {
    explicit EmulatedRig(sim::UnitOptions options) : VirtualLine(77) {
        records = MakeRecords(6);
        options.image = records;
        unit = sim::CreateUnitModel(std::move(options));
        port.SetPeer(unit.get());
        OpenFor(unit->Options().unitType);
        view.unitType = unit->Options().unitType;
        LimitRun(Rig::kRunLimitMs);
    }

    void Run() {
        programmer.emplace(context, unit->Options().address);
        StartClock();
        programmer->StartProcess(unit->Options().unitType);
    }

    std::string Violations() const {
        std::ostringstream text;
        for (const auto& v : unit->Report().violations)
            text << v.timeMs << ": " << v.text << "\n";
        return text.str();
    }

    std::unique_ptr<sim::UnitModel> unit;
    std::optional<TS19_WR> programmer;
};

sim::UnitOptions Unit(int type, std::uint8_t address = 0x01) {
    sim::UnitOptions options;
    options.unitType = type;
    options.address = address;
    return options;
}

class S19Emulated : public ::testing::TestWithParam<int> {};

TEST_P(S19Emulated, ProgramsVerifiesAndStartsEveryMainFamilyType) {
    const int type = GetParam();
    for (const bool verify : {false, true}) {
        EmulatedRig rig{Unit(type, static_cast<std::uint8_t>(type + 0x10))};
        rig.view.boxVer = verify;
        rig.view.edNrSerial = "00000042";
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 20) << "type " << type << " verify " << verify;
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Ending process");
        EXPECT_TRUE(rig.unit->Report().complete);
        EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Violations();
        EXPECT_EQ(rig.unit->Report().verifications.size(), verify ? rig.records.size() : 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, S19Emulated,
                         ::testing::Values(0, 1, 2, 3, 6, 7, 8, 10, 11, 12, 13, 14, 16, 17, 18));

TEST(S19EmulatedFaults, AccessControllerReadsTheUnitSerial) {
    sim::UnitOptions options = Unit(2);
    options.serial = {0xDE, 0xAD, 0x00, 0x07};
    EmulatedRig rig{options};
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 20);
    EXPECT_EQ(rig.programmer->UnitSerial(), "DEAD0007");
    EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Violations();
}

TEST(S19EmulatedFaults, FailuresEndWithTheirStatus) {
    struct Case {
        const char* name;
        void (*fault)(sim::UnitFaults&);
        bool verify;
        int exitStatus;
        const char* status;
    };
    const Case cases[] = {
        {"silent", [](sim::UnitFaults& f) { f.silent = true; }, false, 5380,
         "Process status: An error occurred. Connection establishment"},
        {"wrong type", [](sim::UnitFaults& f) { f.wrongType = true; }, false, 2,
         "Process status: This program is not intended for this unit "},
        {"erase fails", [](sim::UnitFaults& f) { f.eraseFail = true; }, false, 5383,
         "Process status: An error occurred. Memory erasure error"},
        {"hang-up", [](sim::UnitFaults& f) { f.hangupAtRecord = 2; }, false, 5389,
         "Process status: An error occurred. Programming ..."},
        {"mismatch", [](sim::UnitFaults& f) { f.verifyMismatch = 3; }, true, 5394,
         "Process status: An error occurred. Verification"},
    };
    for (const Case& c : cases) {
        sim::UnitOptions options = Unit(1);
        c.fault(options.faults);
        EmulatedRig rig{options};
        rig.view.boxVer = c.verify;
        rig.Run();
        EXPECT_EQ(rig.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(rig.view.LastInfoTx(), c.status) << c.name;
        EXPECT_TRUE(rig.unit->Report().violations.empty()) << c.name << "\n" << rig.Violations();
    }
}

TEST(S19EmulatedFaults, RecoverableFaultsStillProgramTheUnit) {
    struct Case {
        const char* name;
        void (*fault)(sim::UnitFaults&);
    };
    const Case cases[] = {
        {"bootloader active", [](sim::UnitFaults& f) { f.bootloaderActive = true; }},
        {"erase progress",
         [](sim::UnitFaults& f) {
             f.eraseProgress = {1, 1, 2};
         }},
        {"dropped ack", [](sim::UnitFaults& f) { f.dropAck = 2; }},
        {"noise", [](sim::UnitFaults& f) { f.noise = true; }},
        {"slow answers", [](sim::UnitFaults& f) { f.answerDelayMs = 15; }},
    };
    for (const Case& c : cases) {
        sim::UnitOptions options = Unit(7, 0x22);
        c.fault(options.faults);
        EmulatedRig rig{options};
        rig.view.boxVer = true;
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 20) << c.name;
        EXPECT_TRUE(rig.unit->HostCorrect()) << c.name << "\n" << rig.Violations();
    }
}

// Line noise that happens to spell the answer placeholder "xxxxx" must not acknowledge a
// record before its frame has gone out.
TEST(S19EmulatedFaults, PlaceholderTextOnTheLineAcknowledgesNoRecord) {
    EmulatedRig rig{Unit(7, 0x22)};
    rig.view.boxVer = true;
    rig.pump.AddHook([&rig] {
        const int step = rig.programmer ? rig.programmer->CurrentStep() : 0;
        if ((step == TS19_WR::kProgramming || step == TS19_WR::kVerification) &&
            rig.link.RxText.empty())
            rig.link.RxText = "xxxxx";
    });
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 20);
    EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Violations();
    EXPECT_EQ(rig.unit->Report().records.size(), rig.records.size());
}

} // namespace
} // namespace tarnik::test
