// The window against the unit emulator on a pseudo-terminal, in process and as the built
// program run unattended.
#include "gui_rig.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

namespace tarnik::testing {
namespace {

std::string SimProgram() {
    return TARNIK_SIM_PROGRAM;
}
std::string GuiProgram() {
    return TARNIK_GUI_PROGRAM;
}

// The window with its port on an emulated unit of the given type that expects `image`
// (records of the type's format), the image remembered as the last one opened.
struct EmulatedUnit {
    EmulatedUnit(int type, int records)
        : image(rig.WriteImage("unit.bin", type, records)),
          sim(SimProgram(), {"--type", std::to_string(type), "--image", image}),
          pty(StartEmulator(sim)) {
        rig.settings->WriteSetting("port", pty);
        rig.settings->WriteSetting("fl", image);
        rig.Start();
    }

    GuiRig rig{{}, true};
    std::string image;
    ChildProcess sim;
    std::string pty;
};

TEST(GuiProcess, ExpanderProgrammedThroughTheWindow) {
    EmulatedUnit unit(1, 5);
    ASSERT_FALSE(unit.pty.empty());
    GuiRig& rig = unit.rig;
    ChildProcess& sim = unit.sim;
    ASSERT_TRUE(rig.form->ProgBut->isEnabled());

    rig.form->ProgBut->click();

    EXPECT_EQ(rig.form->InfoTx->text(), "Process status: Ending process");
    const QString log = rig.form->Memo1->toPlainText();
    for (const char* line : {"-------Unit identification", "-------Erasing Block No 1 memory...",
                             "-------Programming ...", "-------Verification",
                             "-------Starting application program", "TX: ", "RX:"})
        EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_FALSE(rig.form->PBar->isVisible());
    EXPECT_TRUE(rig.form->ProgBut->isEnabled());
    EXPECT_EQ(rig.logic->ExitStatus(), 20);
    EXPECT_EQ(sim.Wait(10000), 0);
}

// The stored fast pacing choice, shown and changed by the Start menu entry; the Qt pump
// wakes the poll loop on the port's arrivals.
TEST(GuiProcess, ExpanderProgrammedAtFastPacingOnANoisyLine) {
    GuiRig rig({}, true);
    const std::string image = rig.WriteImage("exp.bin", 1, 5);
    ChildProcess sim(SimProgram(),
                     {"--type", "1", "--image", image, "--wire", "--noise", "--drop-ack", "2"});
    const std::string pty = StartEmulator(sim);
    ASSERT_FALSE(pty.empty());
    rig.settings->WriteSetting("port", pty);
    rig.settings->WriteSetting("fl", image);
    rig.settings->WriteSetting("fast", "1");
    rig.Start();
    ASSERT_TRUE(rig.form->ProgBut->isEnabled());

    rig.form->ProgBut->click();

    EXPECT_EQ(rig.form->InfoTx->text(), "Process status: Ending process");
    EXPECT_TRUE(rig.form->Memo1->toPlainText().contains("-------Verification"));
    EXPECT_EQ(rig.logic->ExitStatus(), 20);
    EXPECT_EQ(sim.Wait(10000), 0); // the emulator's verdict

    emit rig.form->Start1->aboutToShow();
    EXPECT_TRUE(rig.form->FastPacing->isChecked());
    rig.form->FastPacing->trigger();
    EXPECT_FALSE(rig.logic->CurrentPacing().fast);
    EXPECT_EQ(rig.settings->ReadSetting("fast"), "0");
}

TEST(GuiProcess, AudioUnitProgrammedAndVerifiedThroughTheWindow) {
    EmulatedUnit unit(5, 4);
    ASSERT_FALSE(unit.pty.empty());
    GuiRig& rig = unit.rig;
    ChildProcess& sim = unit.sim;
    ASSERT_TRUE(rig.form->ProgBut->isEnabled());

    rig.form->ProgBut->click();

    EXPECT_EQ(rig.form->InfoTx->text(), "Process status: Ending process");
    const QString log = rig.form->Memo1->toPlainText();
    for (const char* line : {"-------Erasing Block No 1 memory...", "-------Programming ...",
                             "-------Verification", "-------Starting application program"})
        EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_EQ(rig.logic->ExitStatus(), 18);
    EXPECT_TRUE(rig.form->ProgBut->isEnabled());
    EXPECT_EQ(sim.Wait(10000), 0);
}

TEST(GuiProcess, NetworkModuleProgrammedThroughTheWindowAfterTheVersionQuestion) {
    EmulatedUnit unit(4, 4);
    ASSERT_FALSE(unit.pty.empty());
    GuiRig& rig = unit.rig;
    ChildProcess& sim = unit.sim;
    QString question;
    AnswerNextMessageBox(QMessageBox::Yes, &question);

    rig.form->ProgBut->click();

    EXPECT_EQ(rig.form->InfoTx->text(), "Process status: Ending process");
    EXPECT_EQ(rig.logic->ExitStatus(), 19);
    EXPECT_TRUE(question.startsWith("This program is not newer version for this unit !"));
    EXPECT_TRUE(rig.form->Memo1->toPlainText().contains(
        QString::fromUtf8("Przełączenie COM z 4800 --> 19200")));
    EXPECT_EQ(sim.Wait(10000), 0);
}

// The desktop program started with an image on its command line runs the process by itself
// and ends with the code of how it ended, as tarnik-cli does (this system keeps only the
// exit status's low byte, which cannot tell a failure from a success).
struct Unattended {
    Unattended() { setenv("QT_QPA_PLATFORM", "offscreen", 1); }
    int Run(const std::string& port, const std::string& image) {
        MakePlatformSettingsStore()->WriteSetting("port", port);
        ChildProcess tarnik(GuiProgram(), {"P=" + image, "V=1"});
        return tarnik.Wait(60000).value_or(-1000);
    }
    ScopedConfigHome config;
    TempDir dir;
};

std::string ExpanderImage(const TempDir& dir) {
    ImageSpec spec;
    spec.unitType = 1;
    spec.version = "2.00";
    for (int i = 0; i < 4; ++i)
        spec.records.push_back({static_cast<std::uint16_t>(0x9000 + 64 * i), Text(64, 'k'),
                                static_cast<std::uint16_t>(0x2222 + i)});
    const std::string path = (dir / "unattended.bin").string();
    WriteImageFile(path, BuildImage(spec));
    return path;
}

TEST(GuiUnattended, ProgrammedUnitEndsTheProgramWithCodeZero) {
    Unattended run;
    const std::string image = ExpanderImage(run.dir);
    ChildProcess sim(SimProgram(), {"--type", "1", "--image", image});
    const std::string pty = StartEmulator(sim);
    ASSERT_FALSE(pty.empty());
    EXPECT_EQ(run.Run(pty, image), 0);
    EXPECT_EQ(sim.Wait(10000), 0);
    // The position is stored at the end.
    EXPECT_EQ(MakePlatformSettingsStore()->ReadSetting("pozL").empty(), false);
}

TEST(GuiUnattended, FailureEndsWithOneAndAMissingPortWithFour) {
    Unattended run;
    const std::string image = ExpanderImage(run.dir);
    // Status 2 (a unit of another type) has the low byte of the bad-arguments code.
    ChildProcess sim(SimProgram(), {"--type", "1", "--image", image, "--wrong-type"});
    const std::string pty = StartEmulator(sim);
    ASSERT_FALSE(pty.empty());
    EXPECT_EQ(run.Run(pty, image), 1);
    EXPECT_EQ(run.Run((run.dir / "no-such-port").string(), image), 4);
}

} // namespace
} // namespace tarnik::testing
