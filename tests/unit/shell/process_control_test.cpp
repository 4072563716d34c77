#include "shell_rig.h"

#include "shell/address_entry.h"

#include <gtest/gtest.h>

namespace tarnik::testing {
namespace {

// A rig with an image of the given type loaded and a scripted programmer.
struct ProcessRig : ShellRig {
    explicit ProcessRig(int unitType, int records = 3) {
        settings.values["fl"] = WriteImage("img.bin", Spec(unitType, records));
        UseScriptedProgrammer([this] {
            ++runs;
            recordsDuringRun = logic->Records().size();
            if (during) during();
        });
    }
    int runs = 0;
    std::size_t recordsDuringRun = 0;
    std::function<void()> during;
};

TEST(ShellProcess, PortThatCannotBeOpened) {
    ProcessRig rig(1);
    MainWindowLogic& logic = rig.Start();
    rig.port.SetOpenFailure(OpenFailure::InUse);
    rig.view.infoWindowShown = 0;
    logic.ProgButClick();
    EXPECT_EQ(rig.view.Get(Control::InfoTx), "Process status: Port opening error");
    EXPECT_EQ(rig.view.infoColour, StatusColour::Red);
    EXPECT_EQ(logic.State(), WindowState::Ready);
    EXPECT_EQ(rig.view.infoWindowShown, 0); // the image was not re-read
    EXPECT_TRUE(logic.Records().empty());
    EXPECT_EQ(rig.runs, 0);
    EXPECT_TRUE(rig.view.messages.empty());
    EXPECT_EQ(logic.LastPortFailure(), OpenFailure::InUse);
    // Told as values: which port failed and why, and that nothing ran.
    ASSERT_EQ(rig.view.portFailures.size(), 1u);
    EXPECT_EQ(rig.view.portFailures[0].port, "/dev/tarnik-test-port");
    EXPECT_EQ(rig.view.portFailures[0].failure, OpenFailure::InUse);
    ASSERT_EQ(rig.view.outcomes.size(), 1u);
    EXPECT_EQ(rig.view.outcomes[0].kind, ProcessOutcome::Kind::NotStarted);
}

TEST(ShellProcess, UnattendedRunWithoutPortEndsWithMinusOne) {
    ProcessRig rig(1);
    rig.port.SetOpenFailure(OpenFailure::Missing);
    MainWindowLogic& logic = rig.Start({"P=" + rig.settings.values["fl"]});
    ASSERT_TRUE(rig.view.timer1);
    logic.Timer1Timer();
    EXPECT_FALSE(rig.view.timer1);
    EXPECT_EQ(logic.ExitStatus(), -1);
    EXPECT_EQ(rig.view.terminated, 1);
}

TEST(ShellProcess, ImageWithoutRecords) {
    ProcessRig rig(1, 0);
    MainWindowLogic& logic = rig.Start();
    logic.ProgButClick();
    ASSERT_EQ(rig.view.messages.size(), 1u);
    EXPECT_EQ(rig.view.messages[0], "No data to be programmed");
    EXPECT_EQ(logic.State(), WindowState::Ready);
    EXPECT_EQ(rig.runs, 0);
}

TEST(ShellProcess, StartRunsTheProgrammerWithTheTypeLineSettings) {
    ProcessRig rig(1, 5);
    rig.settings.values["adr_exp"] = "3C";
    MainWindowLogic& logic = rig.Start();
    rig.during = [&] {
        EXPECT_EQ(logic.State(), WindowState::Running);
        EXPECT_TRUE(rig.view.IsEnabled(Control::StopBut));
        EXPECT_FALSE(rig.view.IsEnabled(Control::ProgBut));
        EXPECT_FALSE(rig.view.IsEnabled(Control::LDBut));
        EXPECT_FALSE(rig.view.IsEnabled(Control::AdrTx));
        EXPECT_FALSE(rig.view.IsEnabled(Control::CommMenu));
        EXPECT_TRUE(rig.view.IsVisible(Control::PBar));
        EXPECT_EQ(rig.view.pbarMax, 5);
        EXPECT_TRUE(rig.port.IsOpen());
    };
    logic.ProgButClick();
    EXPECT_EQ(rig.runs, 1);
    EXPECT_EQ(rig.recordsDuringRun, 5u);
    EXPECT_EQ(rig.addresses, std::vector<std::uint32_t>{0x3C});
    // The probe, then the unit type's own settings.
    ASSERT_EQ(rig.port.OpenedWith().size(), 2u);
    EXPECT_EQ(rig.port.OpenedWith()[0], (sim::LineSettings{38400, paNone, sb1_0, da8}));
    EXPECT_EQ(rig.port.OpenedWith()[1], (sim::LineSettings{38400, paNone, sb1_0, da8}));
    EXPECT_EQ(rig.port.DeviceName(), "/dev/tarnik-test-port");
    // Clean-up.
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_TRUE(logic.Records().empty());
    EXPECT_FALSE(rig.view.IsVisible(Control::PBar));
    EXPECT_EQ(logic.State(), WindowState::Ready);

    // A second Start reads the image again.
    logic.ProgButClick();
    EXPECT_EQ(rig.recordsDuringRun, 5u);
}

TEST(ShellProcess, LineSettingsOfTheUnitTypes) {
    const std::vector<std::pair<int, sim::LineSettings>> cases = {
        {0, {9600, paNone, sb1_0, da8}},  {4, {4800, paEven, sb2_0, da8}},
        {9, {4800, paEven, sb2_0, da8}},  {15, {57600, paNone, sb2_0, da8}},
        {7, {19200, paNone, sb1_0, da8}}, {16, {19200, paNone, sb1_0, da8}},
        {18, {9600, paNone, sb1_0, da8}}, {5, {38400, paNone, sb1_0, da8}},
    };
    for (const auto& [type, line] : cases) {
        ProcessRig rig(type);
        rig.Start().ProgButClick();
        ASSERT_EQ(rig.port.OpenedWith().size(), 2u) << type;
        EXPECT_EQ(rig.port.OpenedWith()[1], line) << "unit type " << type;
        EXPECT_EQ(rig.createdFor, std::vector<int>{type});
    }
}

TEST(ShellProcess, PauseAfterOpeningAndSettleAfterClosing) {
    for (int type = 0; type <= 18; ++type) {
        const bool pauses = type == 1 || type == 2 || type == 3 || type == 4 || type == 9 ||
                            type == 11 || type == 15;
        ProcessRig rig(type);
        MainWindowLogic& logic = rig.Start();
        const std::uint32_t before = rig.clock.TickMs();
        std::uint32_t atRun = 0;
        rig.during = [&] { atRun = rig.clock.TickMs(); };
        logic.ProgButClick();
        EXPECT_EQ(atRun - before, pauses ? 500u : 0u) << "unit type " << type;
        EXPECT_EQ(rig.clock.TickMs() - atRun, 100u) << "unit type " << type;
    }
}

TEST(ShellProcess, StopAnsweredNoGoesOnAndYesReachesEveryProgrammer) {
    for (int type = 0; type <= 18; ++type) {
        SCOPED_TRACE("unit type " + std::to_string(type));
        ProcessRig rig(type);
        MainWindowLogic& logic = rig.Start();
        rig.during = [&] {
            rig.view.answers = {false};
            logic.StopButClick(true);
            EXPECT_FALSE(rig.stopped);
            rig.view.answers = {true};
            logic.StopButClick(true);
            EXPECT_TRUE(rig.stopped);
        };
        logic.ProgButClick();
        EXPECT_EQ(rig.view.questions, (std::vector<Text>{"Interrupt programming the unit?",
                                                         "Interrupt programming the unit?"}));
    }
}

// The command line's interrupt may come while the image is still read, or before the Start:
// the process must then end without reaching the unit, and an unattended run must not look
// like one that reached a step.
TEST(ShellProcess, StopBeforeTheProgrammerExistsKeepsTheStartFromTheUnit) {
    for (bool duringLoad : {true, false}) {
        SCOPED_TRACE(duringLoad ? "during the load" : "before the Start");
        ProcessRig rig(1);
        MainWindowLogic& logic = rig.Start();
        bool stopped = false;
        if (duringLoad)
            rig.pump.AddHook([&] {
                if (rig.view.infoWindowVisible && !stopped) {
                    stopped = true;
                    logic.StopButClick(false);
                }
            });
        else
            logic.StopButClick(false);
        const std::size_t opensBefore = rig.port.OpenCount();
        logic.Timer1Timer();
        EXPECT_EQ(rig.runs, 0);
        EXPECT_EQ(rig.port.OpenCount() - opensBefore, duringLoad ? 1u : 0u); // the probe only
        EXPECT_FALSE(rig.port.IsOpen());
        EXPECT_EQ(rig.view.Get(Control::InfoTx), "Process status: Interrupting process");
        EXPECT_EQ(logic.ExitStatus(), -1);
        EXPECT_TRUE(logic.Records().empty());
        EXPECT_EQ(logic.State(), WindowState::Ready);

        // The stop belonged to that Start only.
        logic.ProgButClick();
        EXPECT_EQ(rig.runs, 1);
    }
}

// The programmers put the percentage into the application title; the window title is what
// the desktop shows, so it carries the application title while the process runs.
TEST(ShellProcess, WindowTitleShowsTheProgressWhileRunningAndTheCaptionAfter) {
    ProcessRig rig(1);
    MainWindowLogic& logic = rig.Start();
    const Text caption = UnitTypeTitle(1);
    ASSERT_EQ(rig.view.Get(Control::MainWindow), caption);
    Text atStart, during;
    rig.during = [&] {
        atStart = rig.view.Get(Control::MainWindow);
        logic.SetApplicationTitle("Tarnik v2.01A_EN  42 %");
        during = rig.view.Get(Control::MainWindow);
    };
    logic.ProgButClick();
    EXPECT_EQ(atStart, "Tarnik v2.01A_EN  ");
    EXPECT_EQ(during, "Tarnik v2.01A_EN  42 %");
    EXPECT_EQ(rig.view.appTitle, "Tarnik v2.01A_EN  42 %");
    EXPECT_EQ(rig.view.Get(Control::MainWindow), caption);
}

TEST(ShellProcess, ClosingDuringAProcess) {
    ProcessRig rig(2);
    MainWindowLogic& logic = rig.Start();
    bool closeAnsweredNo = true, closeAnsweredYes = false;
    rig.during = [&] {
        rig.view.answers = {false};
        closeAnsweredNo = logic.FormClose();
        EXPECT_FALSE(rig.stopped);
        rig.view.answers = {true};
        closeAnsweredYes = logic.FormClose();
    };
    logic.ProgButClick();
    EXPECT_FALSE(closeAnsweredNo);
    EXPECT_TRUE(closeAnsweredYes);
    EXPECT_TRUE(rig.stopped);
    EXPECT_EQ(rig.view.questions.front(), "Terminate the program when programming?");
    // Outside a process the window closes without a question.
    rig.view.questions.clear();
    EXPECT_TRUE(logic.FormClose());
    EXPECT_TRUE(rig.view.questions.empty());
}

TEST(ShellProcess, SerialReadButtonIsDisabledWhileRunning) {
    ProcessRig rig(2);
    MainWindowLogic& logic = rig.Start();
    EXPECT_TRUE(rig.view.IsEnabled(Control::ButRdSerial));
    rig.during = [&] {
        EXPECT_FALSE(rig.view.IsEnabled(Control::ButRdSerial));
        logic.ButRdSerialClick(); // a click that still arrives does nothing
        EXPECT_TRUE(rig.view.log.empty());
    };
    rig.view.log.clear();
    logic.ProgButClick();
    EXPECT_TRUE(rig.view.IsEnabled(Control::ButRdSerial));
}

TEST(ShellProcess, SerialNumberStepsOnlyAfterASuccessfulProcess) {
    ProcessRig rig(2);
    MainWindowLogic& logic = rig.Start();
    logic.ChBoxSerialIncClick(true);
    logic.EdNrSerialChange("000000FF");

    // The outcome decides, whatever the status line last said.
    rig.scriptedOutcome.kind = ProcessOutcome::Kind::Failed;
    rig.during = [&] { logic.SetInfoTx("Process status: Ending process"); };
    logic.ProgButClick();
    EXPECT_EQ(logic.EdNrSerialText(), "000000FF");

    rig.scriptedOutcome.kind = ProcessOutcome::Kind::Succeeded;
    rig.during = [&] { logic.SetInfoTx("Process status: An error occurred. Booting"); };
    logic.ProgButClick();
    EXPECT_EQ(logic.EdNrSerialText(), "00000100");
    EXPECT_EQ(rig.view.Get(Control::EdNrSerial), "00000100");
    EXPECT_TRUE(logic.SerialChanged()); // the next Start inserts the new number

    logic.ChBoxSerialIncClick(false);
    logic.ProgButClick();
    EXPECT_EQ(logic.EdNrSerialText(), "00000100");
}

TEST(ShellSerialStep, PlainIncrementOfEightDigits) {
    EXPECT_EQ(NextSerial("000000FF"), "00000100");
    EXPECT_EQ(NextSerial("0000FFFF"), "00010000");
    EXPECT_EQ(NextSerial("12345678"), "12345679");
    EXPECT_EQ(NextSerial("abcdefff"), "ABCDF000");
    EXPECT_EQ(NextSerial("FFFFFFFF"), "00000000");
    EXPECT_EQ(NextSerial("1234"), "1234");
    EXPECT_EQ(NextSerial(""), "");
    EXPECT_EQ(NextSerial("1234567G"), "1234567G");
}

TEST(ShellProcess, ExceptionInsideTheProgrammerIsShownAndCleanedUp) {
    ProcessRig rig(1);
    MainWindowLogic& logic = rig.Start();
    rig.during = [] { throw std::runtime_error("unit fell off the bus"); };
    logic.ProgButClick();
    ASSERT_FALSE(rig.view.messages.empty());
    EXPECT_EQ(rig.view.messages.back(), "unit fell off the bus");
    EXPECT_EQ(logic.State(), WindowState::Ready);
    EXPECT_FALSE(rig.port.IsOpen());
}

} // namespace
} // namespace tarnik::testing
