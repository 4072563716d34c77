#include "cli/cli_app.h"
#include "cli/terminal_view.h"
#include "sim/loopback.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace tarnik;
using namespace tarnik::cli;

namespace {

// A stdio stream whose contents the test can read back.
class Capture {
public:
    Capture() : file_(std::tmpfile()) {}
    ~Capture() { std::fclose(file_); }
    std::FILE* get() const { return file_; }
    std::string Text() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string s;
        for (int c; (c = std::fgetc(file_)) != EOF;)
            s.push_back(static_cast<char>(c));
        return s;
    }

private:
    std::FILE* file_;
};

struct ViewRig {
    sim::VirtualClock clock;
    sim::SimulatedPort port{clock, nullptr};
    Capture out, err, in;
    TerminalView Make(bool trace = false, bool yes = false, bool interactive = false) {
        TerminalSettings s;
        s.trace = trace;
        s.yes = yes;
        s.interactive = interactive;
        s.out = out.get();
        s.err = err.get();
        s.in = in.get();
        return TerminalView(s);
    }
};

} // namespace

TEST(CliTerminal, PolishLogLinesBecomeUtf8AndTraceLinesNeedTrace) {
    ViewRig rig;
    TerminalView view = rig.Make();
    view.AppendLogLine("--B\xB3"
                       "ad rozpoznania dev");
    view.AppendLogLine("Prze\xB3\xB9"
                       "czenie");
    view.AppendLogLine("TX: 45 0D ");
    view.AppendLogLine("RX:45 0D ");
    EXPECT_EQ(rig.out.Text(), "--Bład rozpoznania dev\nPrzełączenie\n");

    ViewRig traced;
    TerminalView tracing = traced.Make(true);
    tracing.AppendLogLine("TX: 45 0D ");
    EXPECT_EQ(traced.out.Text(), "TX: 45 0D \n");
}

TEST(CliTerminal, StatusChangesPrintedOnceAndPortFailureExplained) {
    ViewRig rig;
    rig.port.SetDeviceName("/dev/ttyUSB7");
    rig.port.SetOpenFailure(OpenFailure::PermissionDenied);
    EXPECT_FALSE(rig.port.Open());
    TerminalView view = rig.Make();
    view.SetText(Control::InfoTx, "Process status: Sleep");
    view.SetText(Control::InfoTx, "Process status: Sleep");
    view.SetText(Control::InfoTx, "");
    view.SetText(Control::InfoTx, "Process status: Port opening error");
    EXPECT_EQ(rig.out.Text(), "Process status: Sleep\nProcess status: Port opening error\n");
    EXPECT_EQ(rig.err.Text(), ""); // the status line alone explains nothing
    view.PortOpenFailed({"/dev/ttyUSB7", OpenFailure::PermissionDenied, "Permission denied"});
    const std::string err = rig.err.Text();
    EXPECT_NE(err.find("/dev/ttyUSB7"), std::string::npos);
    EXPECT_NE(err.find("permission denied"), std::string::npos);
#ifndef _WIN32
    EXPECT_NE(err.find("dialout"), std::string::npos);
#endif
}

TEST(CliTerminal, PortFailureCarriesTheSystemsReason) {
    struct Case {
        OpenFailure failure;
        std::string systemText;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {OpenFailure::InUse, "the port is held in exclusive mode",
         "cannot open port P: it is in use by another program; system error: the port is held "
         "in exclusive mode"},
        {OpenFailure::Other, "Input/output error (/dev/x)",
         "cannot open port P: Input/output error (/dev/x)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PortFailureText("P", c.failure, c.systemText), c.expected);
#ifndef _WIN32
    EXPECT_EQ(PortFailureText("COM3", OpenFailure::Missing),
              "cannot open port COM3 (/dev/ttyS2): no such device (is the adapter plugged in?)");
#endif
}

TEST(CliTerminal, QuestionsAnsweredByYesByTheUserOrNo) {
    ViewRig rig;
    EXPECT_TRUE(rig.Make(false, true).AskYesNo("Do you want programming ?", true));
    EXPECT_FALSE(rig.Make().AskYesNo("Do you want programming ?", true));

    ViewRig asked;
    std::fputs("y\n", asked.in.get());
    std::rewind(asked.in.get());
    EXPECT_TRUE(asked.Make(false, false, true).AskYesNo("Q\rDo you want programming ?", true));
    EXPECT_NE(asked.err.Text().find("Q Do you want programming ?"), std::string::npos);

    // Enter alone takes the default the question offers.
    ViewRig empty;
    std::fputs("\n\n", empty.in.get());
    std::rewind(empty.in.get());
    TerminalView view = empty.Make(false, false, true);
    EXPECT_FALSE(view.AskYesNo("Q", true));
    EXPECT_TRUE(view.AskYesNo("Q", false));
}

TEST(CliTerminal, LoadFailuresShownOutsideMessagesArePrinted) {
    ViewRig rig;
    TerminalView view = rig.Make();
    view.ImageLoadFailed({"Indicated file is not correct", true}); // printed as its message
    EXPECT_EQ(rig.err.Text(), "");
    view.ImageLoadFailed({"Tarnik v2.01A_EN   Unknown type of unit", false});
    view.ImageLoadFailed({"File opening error /data/gone.bin", false});
    EXPECT_EQ(rig.err.Text(), "tarnik-cli: Tarnik v2.01A_EN   Unknown type of unit\n"
                              "tarnik-cli: File opening error /data/gone.bin\n");
}

TEST(CliTerminal, PlainProgressAtMostOneLinePerTenth) {
    ViewRig rig;
    TerminalView view = rig.Make();
    view.SetPBarMax(100);
    view.SetVisible(Control::PBar, true);
    for (int i = 0; i < 100; ++i)
        view.SetPBarPosition(i);
    const std::string err = rig.err.Text();
    int lines = 0;
    for (char c : err)
        lines += c == '\n';
    EXPECT_EQ(lines, 10);
    EXPECT_NE(err.find("Progress: programming 90 %"), std::string::npos);
}

// The programmers leave the bar at the last record sent and count again for verification.
TEST(CliTerminal, PlainProgressNamesThePassRoundsAsTheTitleAndEndsAtAHundred) {
    ViewRig rig;
    TerminalView view = rig.Make();
    view.SetPBarMax(200);
    view.SetVisible(Control::PBar, true);
    for (int pass = 0; pass < 2; ++pass)
        for (int i : {0, 39, 198})
            view.SetPBarPosition(i);
    view.CompleteProgress();
    EXPECT_EQ(rig.err.Text(), "Progress: programming 0 % (0/200 records)\n"
                              "Progress: programming 20 % (39/200 records)\n" // 19.5: even
                              "Progress: programming 90 % (198/200 records)\n"
                              "Progress: verification 0 % (0/200 records)\n"
                              "Progress: verification 20 % (39/200 records)\n"
                              "Progress: verification 90 % (198/200 records)\n"
                              "Progress: verification 100 % (200/200 records)\n");
    EXPECT_EQ(view.ProgressPosition(), 200);
}

TEST(CliRun, BadArgumentsGiveUsageAndCodeTwo) {
    tarnik::testing::ScopedConfigHome config;
    Capture out, err;
    CliStreams streams{out.get(), err.get(), stdin, false, false};
    EXPECT_EQ(RunCli({"--nonsense", "P=x.bin"}, "tarnik-cli", streams), 2);
    EXPECT_NE(err.Text().find("Usage: tarnik-cli"), std::string::npos);
    EXPECT_EQ(RunCli({"P=/nonexistent/image.bin"}, "tarnik-cli", streams), 2);
    EXPECT_NE(err.Text().find("image file not found: /nonexistent/image.bin"), std::string::npos);
    EXPECT_EQ(RunCli({"P=" + config.path().string()}, "tarnik-cli", streams), 2);
    EXPECT_NE(err.Text().find("the image file is a directory: " + config.path().string()),
              std::string::npos)
        << err.Text();
    EXPECT_EQ(out.Text(), "");
    // Nothing was started, so nothing was stored either.
    EXPECT_FALSE(std::filesystem::exists(config.path() / "Olvane" / "Tarnik.conf"));
    EXPECT_EQ(RunCli({"--help"}, "tarnik-cli", streams), 0);
    EXPECT_NE(out.Text().find("--port=DEVICE"), std::string::npos);
}
