// tarnik-cli at a station: several units on several emulators at once, as the built
// program against tarnik-sim on pseudo-terminals.
#include "cli/station_run.h"
#include "support/child_process.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <map>
#include <memory>
#include <set>
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

// Every line of a results log, each parsed as one JSON object.
std::vector<nlohmann::json> ReadLog(const std::string& path) {
    std::vector<nlohmann::json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line)); // throws, failing the test, if it is not
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

// The exit status cell of a summary row: the last but one.
std::string ExitStatusCell(const std::string& row) {
    std::istringstream in(row);
    std::vector<std::string> cells;
    for (std::string cell; in >> cell;)
        cells.push_back(cell);
    return cells.size() < 2 ? "" : cells[cells.size() - 2];
}

struct StationRig {
    TempDir dir;
    std::string Image(int type, std::size_t records, bool withSerialRecord = false) {
        return WritePatternImage(dir / "image.bin", type, records, withSerialRecord);
    }
    ProgramResult Cli(const std::vector<std::string>& args) {
        return RunProgram(TARNIK_CLI_PATH, args, {}, std::chrono::seconds(90));
    }
};

TEST(CliStation, HealthyUnitSucceedsBesideAHangUpAndASilentUnit) {
    StationRig rig;
    const std::string image = rig.Image(1, 6);
    SimProcess good({"--type", "1", "--image", image}, TARNIK_SIM_PATH);
    SimProcess hangup({"--type", "1", "--image", image, "--hangup-at-record", "2"},
                      TARNIK_SIM_PATH);
    SimProcess silent({"--type", "1", "--silent"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(good.Pty().empty() || hangup.Pty().empty() || silent.Pty().empty());

    const std::string log = (rig.dir / "results.jsonl").string();
    const ProgramResult r =
        rig.Cli({"--port=" + good.Pty(), "--port=" + hangup.Pty(), "--port=" + silent.Pty(),
                 "--log=" + log, "P=" + image, "V=1"});
    // The first failure in port order decides: the hang-up in programming (13 + 5376).
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_EQ(LastLine(r.out), "Exit status: 5389");
    const std::vector<std::pair<std::string, std::string>> rows = {
        {good.Pty(), " programmed "},
        {hangup.Pty(), " failed: Programming ... "},
        {silent.Pty(), " failed: Connection establishment "}};
    for (const auto& [port, result] : rows)
        EXPECT_NE(SummaryRow(r.out, port).find(result), std::string::npos) << r.out;
    EXPECT_EQ(ExitStatusCell(SummaryRow(r.out, good.Pty())), "20");
    EXPECT_EQ(ExitStatusCell(SummaryRow(r.out, hangup.Pty())), "5389");
    EXPECT_EQ(ExitStatusCell(SummaryRow(r.out, silent.Pty())), "5380");

    // Every line of a unit carries its port, and only that unit's lines do.
    const std::string goodLabel = "[" + good.Pty().substr(5) + "] ";
    EXPECT_NE(r.out.find(goodLabel + "Process status: Programming ..."), std::string::npos);
    EXPECT_NE(r.out.find(goodLabel + "Process status: Ending process"), std::string::npos);
    for (const std::string& line : Lines(r.out.substr(0, r.out.find("Summary:\n"))))
        EXPECT_EQ(line.front(), '[') << line;
    EXPECT_EQ(good.Wait(), 0);

    // One JSON line per unit, in the order the units ended, each with its own result.
    const auto units = ReadLog(log);
    ASSERT_EQ(units.size(), 3u);
    const std::map<std::string, std::pair<int, const char*>> expected = {
        {good.Pty(), {20, "Process status: Ending process"}},
        {hangup.Pty(), {5389, "Process status: An error occurred. Programming ..."}},
        {silent.Pty(), {5380, "Process status: An error occurred. Connection establishment"}}};
    for (const auto& unit : units) {
        const auto& [status, text] = expected.at(unit.at("port").get<std::string>());
        EXPECT_EQ(unit.at("exit_status"), status);
        EXPECT_EQ(unit.at("status"), text);
        EXPECT_TRUE(unit.at("serial").is_null());
        EXPECT_EQ(unit.at("verify"), true);
        EXPECT_EQ(unit.at("unit_type"), 1);
        EXPECT_EQ(unit.at("image"), image);
        EXPECT_EQ(unit.at("image_sha256").get<std::string>().size(), 64u);
        EXPECT_EQ(unit.at("records_sent"), status == 20 ? 6 : status == 5389 ? 2 : 0);
    }
}

TEST(CliStation, OnePortInAListBehavesAsAlone) {
    StationRig rig;
    const std::string image = rig.Image(1, 2);
    SimProcess sim({"--type", "1", "--image", image}, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    const ProgramResult r = rig.Cli({"--port=" + sim.Pty(), "P=" + image});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.find("Summary:"), std::string::npos);
    EXPECT_EQ(r.out.find("] "), std::string::npos);
}

TEST(CliStation, AllSucceedingUnitsEndWithTheSuccessStatusAndConsecutiveSerials) {
    StationRig rig;
    const std::string image = rig.Image(2, 2, true);
    SimProcess first({"--type", "2", "--image", image, "--serial", "000000FF"}, TARNIK_SIM_PATH);
    SimProcess second({"--type", "2", "--image", image, "--serial", "00000100"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(first.Pty().empty() || second.Pty().empty());
    const ProgramResult r = rig.Cli({"--port=" + first.Pty(), "--port=" + second.Pty(),
                                     "--serial=000000ff", "--serial-inc", "P=" + image, "V=1"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(LastLine(r.out), "Exit status: 20");
    // The next number follows the last unit's, not the first's.
    EXPECT_NE(r.out.find("Next serial number: 00000101\n"), std::string::npos) << r.out;
    EXPECT_NE(SummaryRow(r.out, first.Pty()).find(" 000000FF "), std::string::npos) << r.out;
    EXPECT_NE(SummaryRow(r.out, second.Pty()).find(" 00000100 "), std::string::npos) << r.out;
    // Each emulator checks that it received its own serial number.
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
}

TEST(CliStation, CtrlCStopsEveryRunningUnitAndStillPrintsTheSummary) {
    StationRig rig;
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
    EXPECT_EQ(cli.Wait(20000), 3) << out;
    EXPECT_EQ(LastLine(out), "Exit status: 13");
    for (const auto& sim : sims) {
        const std::string row = SummaryRow(out, sim->Pty());
        EXPECT_NE(row.find(" interrupted "), std::string::npos) << out;
        EXPECT_EQ(ExitStatusCell(row), "13") << out;
    }
}

} // namespace
} // namespace tarnik::testing

namespace tarnik::testing {
namespace {

// The serial numbers in a run's summary, in port order.
std::vector<std::string> SummarySerials(const std::string& out,
                                        const std::vector<std::string>& ports) {
    std::vector<std::string> serials;
    for (const std::string& port : ports) {
        std::istringstream row(SummaryRow(out, port));
        std::string name, serial;
        row >> name >> serial;
        serials.push_back(serial);
    }
    return serials;
}

TEST(CliStation, ConcurrentRunsSharingOneSerialStoreNeverShareANumber) {
    StationRig rig;
    const std::string image = rig.Image(2, 2, true);
    const std::string store = (rig.dir / "serials").string();
    std::ofstream(store) << "0000A1FE\n";

    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::vector<std::string>> ports(2);
    std::vector<std::unique_ptr<ChildProcess>> runs;
    const std::string log = (rig.dir / "results.jsonl").string();
    for (int run = 0; run < 2; ++run) {
        std::vector<std::string> args{"--serial-store=" + store, "--log=" + log, "P=" + image,
                                      "V=0"};
        for (int unit = 0; unit < 2; ++unit) {
            sims.push_back(std::make_unique<SimProcess>(
                std::vector<std::string>{"--type", "2", "--image", image}, TARNIK_SIM_PATH));
            ASSERT_FALSE(sims.back()->Pty().empty());
            ports[run].push_back(sims.back()->Pty());
            args.push_back("--port=" + sims.back()->Pty());
        }
        runs.push_back(std::make_unique<ChildProcess>(TARNIK_CLI_PATH, args));
    }
    std::set<std::string> taken;
    std::map<std::string, std::string> serialOfPort;
    for (int run = 0; run < 2; ++run) {
        std::string out;
        while (const auto line = runs[run]->ReadLine(30000))
            out += *line + "\n";
        EXPECT_EQ(runs[run]->Wait(20000), 0) << out;
        const auto serials = SummarySerials(out, ports[run]);
        // One run takes consecutive numbers, in port order.
        EXPECT_EQ(std::stoul(serials[1], nullptr, 16), std::stoul(serials[0], nullptr, 16) + 1)
            << out;
        taken.insert(serials.begin(), serials.end());
        for (std::size_t i = 0; i < serials.size(); ++i)
            serialOfPort[ports[run][i]] = serials[i];
    }
    // Both runs appended to one log: four whole lines, each with the unit's serial number.
    const auto units = ReadLog(log);
    ASSERT_EQ(units.size(), 4u);
    for (const auto& unit : units)
        EXPECT_EQ(unit.at("serial"), serialOfPort.at(unit.at("port").get<std::string>()));
    EXPECT_EQ(taken, (std::set<std::string>{"0000A1FE", "0000A1FF", "0000A200", "0000A201"}));
    std::stringstream rest;
    rest << std::ifstream(store).rdbuf();
    EXPECT_EQ(rest.str(), "0000A202\n");
}

TEST(CliStation, AFailedUnitsSerialNumberIsNotHandedOutAgain) {
    StationRig rig;
    const std::string image = rig.Image(2, 2, true);
    const std::string store = (rig.dir / "serials").string();
    std::ofstream(store) << "00000010\n";
    SimProcess silent({"--type", "2", "--silent"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(silent.Pty().empty());
    const ProgramResult failed =
        rig.Cli({"--port=" + silent.Pty(), "--serial-store=" + store, "P=" + image});
    EXPECT_EQ(failed.exitCode, 1) << failed.out << failed.err;

    SimProcess good({"--type", "2", "--image", image, "--serial", "00000011"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(good.Pty().empty());
    const ProgramResult next =
        rig.Cli({"--port=" + good.Pty(), "--serial-store=" + store, "P=" + image});
    EXPECT_EQ(next.exitCode, 0) << next.out << next.err;
    EXPECT_EQ(good.Wait(), 0); // the emulator saw 00000011 written into its serial record

    // A store that cannot be used stops the run before any port is opened.
    std::ofstream(store) << "garbage\n";
    const ProgramResult refused =
        rig.Cli({"--port=/dev/null", "--serial-store=" + store, "P=" + image});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("serial number store"), std::string::npos) << refused.err;
}

} // namespace
} // namespace tarnik::testing

namespace tarnik::testing {
namespace {

TEST(CliStation, RepeatFedFromAPipeRunsOncePerLineAndEndsWithTotals) {
    StationRig rig;
    const std::string image = rig.Image(2, 2, true);
    const std::string store = (rig.dir / "serials").string();
    const std::string log = (rig.dir / "results.jsonl").string();
    std::ofstream(store) << "00000020\n";
    // The emulator serves one run: the second run finds no unit (or no port) and fails.
    SimProcess sim({"--type", "2", "--image", image, "--serial", "00000020"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    const std::string command = "printf '\\n' | '" + std::string(TARNIK_CLI_PATH) +
                                "' --repeat --port=" + sim.Pty() + " --serial-store=" + store +
                                " --log=" + log + " P=" + image;
    const ProgramResult r = RunProgram("/bin/sh", {"-c", command}, {}, std::chrono::seconds(60));
    EXPECT_NE(r.out.find("Exit status: 20\n"), std::string::npos) << r.out;
    const std::size_t totals = r.out.find("Totals: 2 runs, 2 units, 1 succeeded, 1 failed\n");
    ASSERT_NE(totals, std::string::npos) << r.out;
    // The failure decides the exit status, and the totals list it.
    const std::string last = LastLine(r.out);
    ASSERT_EQ(last.rfind("Exit status: ", 0), 0u);
    const int status = std::stoi(last.substr(13));
    EXPECT_NE(status, 20);
    // Without a unit the second run failed (1), or without its port nothing ran (4).
    EXPECT_EQ(r.exitCode, status == -1 ? 4 : 1);
    EXPECT_NE(r.out.find("  Exit status: " + std::to_string(status) + "  1 unit\n", totals),
              std::string::npos);
    EXPECT_EQ(sim.Wait(), 0);
    const auto units = ReadLog(log);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].at("serial"), "00000020");
    EXPECT_EQ(units[1].at("serial"), "00000021"); // taken even though its unit failed
    std::stringstream rest;
    rest << std::ifstream(store).rdbuf();
    EXPECT_EQ(rest.str(), "00000022\n");
}

// Rounds on ports where nothing can run: every unit is still given its number, and no
// round hands out a number an earlier round gave.
TEST(CliStation, RepeatWithSeveralPortsCountsTheSerialOnFromRoundToRound) {
    StationRig rig;
    const std::string image = rig.Image(2, 1, true);
    const std::string log = (rig.dir / "results.jsonl").string();
    const std::string command = "printf '\\n' | '" + std::string(TARNIK_CLI_PATH) +
                                "' --repeat --port=" + (rig.dir / "a").string() +
                                " --port=" + (rig.dir / "b").string() +
                                " --serial=000000FE --log=" + log + " P=" + image;
    const ProgramResult r = RunProgram("/bin/sh", {"-c", command}, {}, std::chrono::seconds(60));
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    std::vector<std::string> serials;
    for (const auto& unit : ReadLog(log))
        serials.push_back(unit.at("serial"));
    std::sort(serials.begin(), serials.end()); // the log is in the order the units ended
    EXPECT_EQ(serials, (std::vector<std::string>{"000000FE", "000000FF", "00000100", "00000101"}));
}

// Ctrl+C ends a run of runs even when the next unit's line is already waiting on stdin.
TEST(CliStation, CtrlCEndsTheRepeatWithItsTotalsThoughMoreInputWaits) {
    StationRig rig;
    const std::string image = rig.Image(1, 150);
    SimProcess sim({"--type", "1", "--image", image, "--wire"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    const std::string input = (rig.dir / "input").string();
    std::ofstream(input) << "\n\n\n";
    // exec: the signal reaches tarnik-cli itself, with its stdin from the file.
    ChildProcess cli("/bin/sh", {"-c", "exec \"$0\" \"$@\" <\"" + input + "\"", TARNIK_CLI_PATH,
                                 "--repeat", "--port=" + sim.Pty(), "P=" + image});
    std::string out;
    for (;;) {
        const auto line = cli.ReadLine(20000);
        ASSERT_TRUE(line) << out;
        out += *line + "\n";
        if (*line == "Process status: Programming ...") break;
    }
    cli.Signal(SIGINT);
    while (const auto line = cli.ReadLine(20000))
        out += *line + "\n";
    EXPECT_EQ(cli.Wait(20000), 3) << out;
    EXPECT_NE(out.find("Totals: 1 run, 1 units, 0 succeeded, 1 failed\n"), std::string::npos)
        << out;
    EXPECT_EQ(LastLine(out), "Exit status: 13");
}

TEST(RunTotals, CountUnitsAndTakeTheFirstFailure) {
    using Kind = ProcessOutcome::Kind;
    cli::RunTotals totals;
    cli::UnitResult ok, hung, silent, stopped;
    ok.outcome = {Kind::Succeeded, 20};
    hung.outcome = {Kind::Failed, 5389};
    silent.outcome = {Kind::Failed, 5380};
    stopped.outcome = {Kind::Interrupted, 13};
    totals.Add({ok, ok});
    EXPECT_EQ(totals.exitStatus, 20);
    EXPECT_EQ(totals.exitCode, 0);
    totals.Add({ok, hung, silent});
    totals.Add({silent, stopped});
    totals.Add({ok}); // a later success never covers the first failure
    EXPECT_EQ(totals.exitStatus, 5389);
    EXPECT_EQ(totals.exitCode, 1);
    EXPECT_EQ(totals.Text(), "Totals: 4 runs, 8 units, 4 succeeded, 4 failed\n"
                             "  Exit status: 13  1 unit\n"
                             "  Exit status: 5380  2 units\n"
                             "  Exit status: 5389  1 unit\n");
}

} // namespace
} // namespace tarnik::testing
