// Whole processes of the shell with the real programmer against the in-process unit model.
#include "shell_rig.h"

#include "sim/unit_model.h"

#include <gtest/gtest.h>

namespace tarnik::testing {
namespace {

struct UnitRig : ShellRig {
    UnitRig(int unitType, int records, std::uint8_t address, const Text& serial = "") {
        image = WriteImage("unit.bin", Spec(unitType, records));
        settings.values["fl"] = image;
        DiscardLog quiet;
        RecordList expected;
        LoadImageRecords(image, serial, expected, quiet);
        sim::UnitOptions options;
        options.unitType = unitType;
        options.address = address;
        options.image = expected;
        unit = sim::CreateUnitModel(options);
        port.SetPeer(unit.get());
    }

    std::string Report() const {
        std::string text = unit->Report().endReason;
        for (const auto& v : unit->Report().violations)
            text += "\n" + v.text;
        return text;
    }

    std::string image;
    std::unique_ptr<sim::UnitModel> unit;
};

TEST(ShellWholeProcess, UnattendedExpanderEndsWithStatus20) {
    UnitRig rig(1, 6, 0x05);
    rig.settings.values["adr_exp"] = "05";
    MainWindowLogic& logic = rig.Start({"P=" + rig.image, "V=1"});
    ASSERT_TRUE(rig.view.timer1);
    logic.Timer1Timer();
    EXPECT_EQ(logic.ExitStatus(), 20);
    EXPECT_EQ(rig.view.terminated, 1);
    EXPECT_EQ(rig.view.Get(Control::InfoTx), "Process status: Ending process");
    EXPECT_TRUE(rig.view.HasLogLine("-------Verification"));
    EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Report();
    EXPECT_EQ(rig.unit->Report().records.size(), 6u);
    EXPECT_TRUE(logic.Records().empty());
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(logic.State(), WindowState::Ready);
}

TEST(ShellWholeProcess, AccessControllerGetsTheSerialNumberAndStepsIt) {
    UnitRig rig(2, 3, 0x11, "000000FF");
    rig.settings.values["adr_kkd"] = "11";
    MainWindowLogic& logic = rig.Start();
    logic.EdNrSerialChange("000000FF");
    logic.ChBoxSerialIncClick(true);
    logic.ProgButClick();
    EXPECT_EQ(rig.view.Get(Control::InfoTx), "Process status: Ending process");
    EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Report();
    EXPECT_EQ(logic.EdNrSerialText(), "00000100");
}

TEST(ShellWholeProcess, SilentUnitEndsInTheErrorStepWithoutSteppingTheSerial) {
    UnitRig rig(2, 2, 0x00);
    sim::UnitOptions options = rig.unit->Options();
    options.faults.silent = true;
    rig.unit = sim::CreateUnitModel(options);
    rig.port.SetPeer(rig.unit.get());
    MainWindowLogic& logic = rig.Start({"P=" + rig.image});
    logic.EdNrSerialChange("12345678");
    logic.ChBoxSerialIncClick(true);
    logic.Timer1Timer();
    EXPECT_EQ(rig.view.infoColour, StatusColour::Red);
    EXPECT_GT(logic.ExitStatus(), 5376);
    EXPECT_EQ(logic.EdNrSerialText(), "12345678");
}

// STOP answered Yes during programming reaches the programmer of every family: the process
// ends in "Interrupting process" with the programming step as its exit status.
struct StopCase {
    int unitType;
    int programmingStep;
};

class ShellStop : public ::testing::TestWithParam<StopCase> {};

TEST_P(ShellStop, DuringProgrammingInterruptsTheProcess) {
    constexpr int kRecords = 40;
    UnitRig rig(GetParam().unitType, kRecords, 0x00);
    MainWindowLogic& logic = rig.Start();
    bool pressed = false;
    rig.pump.AddHook([&] {
        if (pressed || rig.view.Get(Control::InfoTx) != "Process status: Programming ...") return;
        pressed = true;
        rig.view.answers = {true};
        logic.StopButClick(true);
    });
    logic.ProgButClick();
    ASSERT_TRUE(pressed);
    EXPECT_EQ(rig.view.Get(Control::InfoTx), "Process status: Interrupting process");
    EXPECT_EQ(logic.ExitStatus(), GetParam().programmingStep);
    EXPECT_LT(rig.unit->Report().records.size(), static_cast<std::size_t>(kRecords));
    EXPECT_EQ(logic.State(), WindowState::Ready);
    EXPECT_FALSE(rig.port.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, ShellStop,
                         ::testing::Values(StopCase{1, 13}, StopCase{9, 17}, StopCase{5, 10}),
                         [](const auto& info) {
                             return "Type" + std::to_string(info.param.unitType);
                         });

} // namespace
} // namespace tarnik::testing
