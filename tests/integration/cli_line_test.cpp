// tarnik-cli on a production line: several units on several emulators at once, as the built
// program against tarnik-sim on pseudo-terminals.
#include "support/child_process.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sstream>
#include <string>

namespace tarnik::testing {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string LastLine(const std::string& text) {
    const auto lines = Lines(text);
    return lines.empty() ? "" : lines.back();
}

// The summary row of a port: the line after "Summary:" that starts with the port.
std::string SummaryRow(const std::string& out, const std::string& port) {
    const std::size_t summary = out.find("Summary:\n");
    if (summary == std::string::npos) return {};
    for (const std::string& line : Lines(out.substr(summary)))
        if (line.rfind("  " + port + " ", 0) == 0) return line;
    return {};
}

struct LineRig {
    TempDir dir;
    std::string Image(int type, std::size_t records, bool withSerialRecord = false) {
        std::vector<TestRecord> list;
        for (std::size_t i = 0; i < records; ++i)
            list.push_back({static_cast<std::uint16_t>(0x4000 + 0x40 * i),
                            PatternData(64, static_cast<std::uint8_t>(i))});
        if (withSerialRecord) list.push_back(SerialRecord());
        return WriteTestImage(dir / "image.bin", type, list);
    }
    ProgramResult Cli(const std::vector<std::string>& args) {
        return RunProgram(TARNIK_CLI_PATH, args, {}, std::chrono::seconds(90));
    }
};

TEST(CliLine, HealthyUnitSucceedsBesideAHangUpAndASilentUnit) {
    LineRig rig;
    const std::string image = rig.Image(1, 6);
    SimProcess good({"--type", "1", "--image", image}, TARNIK_SIM_PATH);
    SimProcess hangup({"--type", "1", "--image", image, "--hangup-at-record", "2"},
                      TARNIK_SIM_PATH);
    SimProcess silent({"--type", "1", "--silent"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(good.Pty().empty() || hangup.Pty().empty() || silent.Pty().empty());

    const ProgramResult r = rig.Cli({"--port=" + good.Pty(), "--port=" + hangup.Pty(),
                                     "--port=" + silent.Pty(), "P=" + image, "V=1"});
    // The first failure in port order decides: the hang-up in programming (13 + 5376).
    EXPECT_EQ(r.exitCode, (5376 + 13) & 0xFF) << r.out << r.err;
    EXPECT_EQ(LastLine(r.out), "Exit status: 5389");
    EXPECT_NE(SummaryRow(r.out, good.Pty()).find("Process status: Ending process"),
              std::string::npos)
        << r.out;
    EXPECT_NE(SummaryRow(r.out, good.Pty()).find("Exit status: 20 "), std::string::npos);
    EXPECT_NE(SummaryRow(r.out, hangup.Pty()).find("Exit status: 5389 "), std::string::npos);
    EXPECT_NE(SummaryRow(r.out, silent.Pty()).find("Exit status: 5380 "), std::string::npos);

    // Every line of a unit carries its port, and only that unit's lines do.
    const std::string goodLabel = "[" + good.Pty().substr(5) + "] ";
    EXPECT_NE(r.out.find(goodLabel + "Process status: Programming ..."), std::string::npos);
    EXPECT_NE(r.out.find(goodLabel + "Process status: Ending process"), std::string::npos);
    for (const std::string& line : Lines(r.out.substr(0, r.out.find("Summary:\n"))))
        EXPECT_EQ(line.front(), '[') << line;
    EXPECT_EQ(good.Wait(), 0);
}

TEST(CliLine, OnePortInAListBehavesAsAlone) {
    LineRig rig;
    const std::string image = rig.Image(1, 2);
    SimProcess sim({"--type", "1", "--image", image}, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    const ProgramResult r = rig.Cli({"--port=" + sim.Pty(), "P=" + image});
    EXPECT_EQ(r.exitCode, 20) << r.err;
    EXPECT_EQ(r.out.find("Summary:"), std::string::npos);
    EXPECT_EQ(r.out.find("] "), std::string::npos);
}

TEST(CliLine, AllSucceedingUnitsEndWithTheSuccessStatusAndConsecutiveSerials) {
    LineRig rig;
    const std::string image = rig.Image(2, 2, true);
    SimProcess first({"--type", "2", "--image", image, "--serial", "000000FF"}, TARNIK_SIM_PATH);
    SimProcess second({"--type", "2", "--image", image, "--serial", "00000100"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(first.Pty().empty() || second.Pty().empty());
    const ProgramResult r = rig.Cli({"--port=" + first.Pty(), "--port=" + second.Pty(),
                                     "--serial=000000ff", "P=" + image, "V=1"});
    EXPECT_EQ(r.exitCode, 20) << r.out << r.err;
    EXPECT_EQ(LastLine(r.out), "Exit status: 20");
    EXPECT_NE(SummaryRow(r.out, first.Pty()).find(" 000000FF "), std::string::npos) << r.out;
    EXPECT_NE(SummaryRow(r.out, second.Pty()).find(" 00000100 "), std::string::npos) << r.out;
    // Each emulator checks that it received its own serial number.
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
}

TEST(CliLine, CtrlCStopsEveryRunningUnitAndStillPrintsTheSummary) {
    LineRig rig;
    const std::string image = rig.Image(1, 150);
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::string> args;
    for (int i = 0; i < 3; ++i) {
        sims.push_back(std::make_unique<SimProcess>(
            std::vector<std::string>{"--type", "1", "--image", image, "--wire"}, TARNIK_SIM_PATH));
        ASSERT_FALSE(sims.back()->Pty().empty());
        args.push_back("--port=" + sims.back()->Pty());
    }
    args.push_back("P=" + image);
    ChildProcess cli(TARNIK_CLI_PATH, args);
    std::string out;
    int programming = 0;
    while (programming < 3) {
        const auto line = cli.ReadLine(20000);
        ASSERT_TRUE(line) << out;
        out += *line + "\n";
        if (line->find("] Process status: Programming ...") != std::string::npos) ++programming;
    }
    cli.Signal(SIGINT);
    while (const auto line = cli.ReadLine(20000))
        out += *line + "\n";
    EXPECT_EQ(cli.Wait(20000), 13) << out;
    EXPECT_EQ(LastLine(out), "Exit status: 13");
    for (const auto& sim : sims) {
        const std::string row = SummaryRow(out, sim->Pty());
        EXPECT_NE(row.find("Process status: Interrupting process"), std::string::npos) << out;
        EXPECT_NE(row.find("Exit status: 13 "), std::string::npos) << out;
    }
}

} // namespace
} // namespace tarnik::testing
