// tarnik-cli as the built program against tarnik-sim on a pseudo-terminal: the unattended
// process, its output and its exit code, as a station's script sees them.
#include "support/child_process.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <string>

namespace tarnik::testing {
namespace {

struct CliRun {
    TempDir dir;
    std::map<std::string, std::string> env{{"XDG_CONFIG_HOME", (dir / "config").string()}};

    std::string Image(int type, std::size_t records = 3, bool withSerialRecord = false) {
        return WritePatternImage(dir / "image.bin", type, records, withSerialRecord);
    }
    ProgramResult Cli(const std::vector<std::string>& args) {
        return RunProgram(TARNIK_CLI_PATH, args, env);
    }
};

std::string LastLine(const std::string& text) {
    const std::string trimmed = text.substr(0, text.find_last_not_of('\n') + 1);
    return trimmed.substr(trimmed.find_last_of('\n') + 1);
}

TEST(CliProcess, ProgramsAndVerifiesAnExpander) {
    CliRun run;
    const std::string image = run.Image(1);
    SimProcess sim({"--type", "1", "--address", "07", "--image", image}, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());

    const ProgramResult r = run.Cli({"--port=" + sim.Pty(), "--address=07", "P=" + image, "V=1"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(LastLine(r.out), "Exit status: 20");
    for (const char* line : {"-------Unit identification", "Process status: Programming ...",
                             "-------Verification", "Process status: Ending process"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    EXPECT_EQ(r.out.find("TX: "), std::string::npos); // trace lines only with --trace
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(CliProcess, InsertsTheSerialNumberAndTellsTheNextOne) {
    CliRun run;
    const std::string image = run.Image(2, 2, true);
    SimProcess sim({"--type", "2", "--image", image, "--serial", "0000A1FF"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());

    const ProgramResult r = run.Cli({"--port=" + sim.Pty(), "--serial=0000a1ff", "--serial-inc",
                                     "--trace", "P=" + image, "V=0"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Next serial number: 0000A200"), std::string::npos);
    EXPECT_NE(r.out.find("TX: "), std::string::npos);
    EXPECT_EQ(r.out.find("-------Verification"), std::string::npos);
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(CliProcess, AudioUnitIsProgrammedAndVerifiedOrEndsWithItsStatus) {
    CliRun run;
    const std::string image = run.Image(5, 4);
    {
        SimProcess sim({"--type", "5", "--image", image, "--wire"}, TARNIK_SIM_PATH);
        ASSERT_FALSE(sim.Pty().empty());
        const ProgramResult r = run.Cli({"--port=" + sim.Pty(), "P=" + image});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(LastLine(r.out), "Exit status: 18");
        for (const char* line :
             {"-------Programming ...", "-------Verification", "Process status: Ending process"})
            EXPECT_NE(r.out.find(line), std::string::npos) << line;
        EXPECT_EQ(sim.Wait(), 0);
    }
    // The unit answers the verification of record 2 with an error status.
    SimProcess sim({"--type", "5", "--image", image, "--verify-mismatch", "2"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    const ProgramResult r = run.Cli({"--port=" + sim.Pty(), "P=" + image});
    EXPECT_EQ(LastLine(r.out), "Exit status: 5391");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Process status: An error occurred. Verification"), std::string::npos);
}

TEST(CliProcess, SilentUnitEndsWithTheErrorStatus) {
    CliRun run;
    const std::string image = run.Image(7, 1);
    SimProcess sim({"--type", "7", "--silent", "--idle-timeout-ms", "15000"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());

    const ProgramResult r = run.Cli({"--port=" + sim.Pty(), "P=" + image});
    // Identification gives up after 10 s and reports it as the connection step: 4 + 5376.
    EXPECT_EQ(LastLine(r.out), "Exit status: 5380");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("Process status: An error occurred. Connection establishment"),
              std::string::npos);
}

TEST(CliProcess, MissingPortIsExplainedAndEndsWithMinusOne) {
    CliRun run;
    const std::string image = run.Image(1);
    const ProgramResult r =
        run.Cli({"--port=" + (run.dir / "no-such-port").string(), "P=" + image});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(LastLine(r.out), "Exit status: -1");
    EXPECT_NE(r.out.find("Process status: Port opening error"), std::string::npos);
    EXPECT_NE(r.err.find("no such device"), std::string::npos);
    EXPECT_NE(r.err.find("No such file or directory"), std::string::npos) << r.err; // errno's
}

TEST(CliProcess, DamagedImageIsReportedAndNothingIsOpened) {
    CliRun run;
    const std::string image = (run.dir / "broken.bin").string();
    WriteFile(image, std::string(100, '\x55'));
    const ProgramResult r =
        run.Cli({"--port=" + (run.dir / "no-such-port").string(), "P=" + image});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_NE(r.err.find("Indicated file is not correct"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Port opening error"), std::string::npos);
}

// Network modules over the real serial path: the port is closed, set to the bootloader's
// speed and reopened during the process, and the emulator checks every frame's line.
TEST(CliNetworkModule, ProgramsTypes4And9And15WithTheirSpeedSwitches) {
    for (const int type : {4, 9, 15}) {
        CliRun run;
        const std::string image = run.Image(type);
        // Type 15 has no address of its own: it uses the remembered one of type 9 (none: 00).
        const std::string address = type == 15 ? "00" : "05";
        SimProcess sim({"--type", std::to_string(type), "--address", address, "--image", image},
                       TARNIK_SIM_PATH);
        ASSERT_FALSE(sim.Pty().empty());
        // The image's version 1.05 has four characters: type 4 asks before programming.
        std::vector<std::string> args{"--port=" + sim.Pty(), "--yes", "P=" + image};
        if (type != 15) args.push_back("--address=" + address);
        const ProgramResult r = run.Cli(args);
        EXPECT_EQ(r.exitCode, 0) << type << r.out << r.err;
        EXPECT_EQ(LastLine(r.out), "Exit status: 19") << type;
        EXPECT_NE(r.out.find("Process status: Ending process"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Prze\u0142\u0105czenie COM z") != std::string::npos, type != 15);
        EXPECT_EQ(r.err.find("Do you want programming ?") != std::string::npos, type == 4);
        EXPECT_EQ(sim.Wait(std::chrono::seconds(20)), 0) << type; // the emulator's verdict
    }
}

TEST(CliProcess, UnknownUnitTypeTellsTheCaptionTheWindowWouldShow) {
    CliRun run;
    const std::string image = run.Image(19);
    const ProgramResult r =
        run.Cli({"--port=" + (run.dir / "no-such-port").string(), "P=" + image});
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(LastLine(r.out), "Exit status: -1");
    EXPECT_NE(r.err.find("Tarnik v2.01A_EN   Unknown type of unit"), std::string::npos) << r.err;
}

// Types without an address field in the window: the option is refused before the port is
// touched. The port given is a plain file, which opening would report as no serial device.
TEST(CliProcess, AddressIsRefusedWhereTheWindowHasNoAddressField) {
    struct Case {
        int type;
        const char* says;
    };
    const Case cases[] = {{7, "it always uses address 00"},
                          {11, "it always uses address 00"},
                          {15, "remembered for unit type 9 (SRVA-NETK Card), now 1A"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        CliRun run;
        const std::string image = run.Image(c.type);
        const std::string port = (run.dir / "plain-file").string();
        WriteFile(port, "");
        std::filesystem::create_directories(run.dir / "config" / "Olvane");
        WriteFile(run.dir / "config" / "Olvane" / "Tarnik.conf", "[General]\nadr_srva_netk=1A\n");
        const ProgramResult r = run.Cli({"--port=" + port, "--address=05", "P=" + image});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("--address cannot be used for unit type " + std::to_string(c.type)),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("cannot open port"), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("Port opening error"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Exit status"), std::string::npos) << r.out;
    }
}

// tarnik-cli started on an image long enough to be mid-programming at wire speed; its stdout
// is read up to the first record, where the test interrupts it.
struct InterruptedRun {
    CliRun run;
    std::string image = run.Image(1, 150);
    SimProcess sim{{"--type", "1", "--image", image, "--wire"}, TARNIK_SIM_PATH};
    std::unique_ptr<ChildProcess> cli;
    std::string out;

    bool StartAndReachProgramming() {
        if (sim.Pty().empty()) return false;
        cli = std::make_unique<ChildProcess>(
            TARNIK_CLI_PATH, std::vector<std::string>{"--port=" + sim.Pty(), "P=" + image, "V=1"});
        return ReadUntil("Process status: Programming ...");
    }
    void ReadToEnd() { ReadUntil({}); }
    // Reads up to and with the line wanted (or to the end); false when it did not come.
    bool ReadUntil(const std::string& wanted) {
        while (const auto line = cli->ReadLine(20000)) {
            out += *line + "\n";
            if (!wanted.empty() && *line == wanted) return true;
        }
        return false;
    }
};

TEST(CliInterrupt, CtrlCStopsAsStopAnsweredYesAndTellsTheStatus) {
    InterruptedRun r;
    ASSERT_TRUE(r.StartAndReachProgramming()) << r.out;
    r.cli->Signal(SIGINT);
    r.ReadToEnd();
    const std::optional<int> code = r.cli->Wait(20000);
    // Interrupted in the programming step (13): its number is the exit status.
    EXPECT_EQ(code, 3) << r.out;
    EXPECT_NE(r.out.find("-------Interrupting process\nProcess status: Interrupting process\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(LastLine(r.out), "Exit status: 13");
    EXPECT_EQ(r.out.find("Ending process"), std::string::npos);
}

TEST(CliInterrupt, TermActsAsCtrlCAndASecondSignalEndsAtOnce) {
    {
        InterruptedRun r;
        ASSERT_TRUE(r.StartAndReachProgramming()) << r.out;
        r.cli->Signal(SIGTERM);
        r.ReadToEnd();
        EXPECT_EQ(r.cli->Wait(20000), 3) << r.out;
        EXPECT_EQ(LastLine(r.out), "Exit status: 13");
    }
    InterruptedRun r;
    ASSERT_TRUE(r.StartAndReachProgramming()) << r.out;
    r.cli->Signal(SIGINT);
    // Two signals sent together may be merged into one before they are delivered: the
    // second goes once the first has been taken, while the process is winding down.
    ASSERT_TRUE(r.ReadUntil("Process status: Interrupting process")) << r.out;
    r.cli->Signal(SIGINT);
    r.ReadToEnd();
    EXPECT_EQ(r.cli->Wait(20000), 130) << r.out;
    EXPECT_EQ(r.out.find("Exit status:"), std::string::npos) << r.out;
}

// --fast over the real serial path: every unit type of the main family and the network
// modules, the emulator judging the traffic.
TEST(CliFastPacing, EveryProgrammerTypeIsDoneWithTheEmulatorsVerdictPass) {
    for (const int type : {0, 1, 2, 3, 6, 7, 8, 10, 11, 12, 13, 14, 16, 17, 18, 4, 9, 15}) {
        CliRun run;
        const std::string image = run.Image(type, 3, type == 2);
        std::vector<std::string> simArgs{"--type", std::to_string(type), "--image", image};
        if (type == 2) simArgs.insert(simArgs.end(), {"--serial", "12345678"});
        // Realistic timing and a troubled line for one of them, with a longer guard.
        std::vector<std::string> cliArgs{"--port=", "--fast", "--yes", "P=" + image, "V=1"};
        if (type == 7) {
            simArgs.insert(simArgs.end(), {"--wire", "--noise", "--drop-ack", "1"});
            cliArgs.push_back("--turnaround-ms=5");
        }
        SimProcess sim(simArgs, TARNIK_SIM_PATH);
        ASSERT_FALSE(sim.Pty().empty());
        cliArgs[0] += sim.Pty();
        const ProgramResult r = run.Cli(cliArgs);
        const int status = type == 4 || type == 9 || type == 15 ? 19 : 20;
        EXPECT_EQ(LastLine(r.out), "Exit status: " + std::to_string(status)) << "type " << type;
        EXPECT_EQ(r.exitCode, 0) << "type " << type << r.out << r.err;
        // The bar stops at the last record sent; a success still ends at 100 %.
        EXPECT_NE(r.err.find(" 100 % ("), std::string::npos) << type << r.err;
        EXPECT_EQ(sim.Wait(std::chrono::seconds(20)), 0) << "type " << type;
    }
}

TEST(CliListPorts, JsonForScriptsAndAWordWhenThereIsNoPort) {
    CliRun run;
    SimProcess first({"--type", "1", "--silent", "--idle-timeout-ms", "2000"}, TARNIK_SIM_PATH);
    SimProcess second({"--type", "1", "--silent", "--idle-timeout-ms", "2000"}, TARNIK_SIM_PATH);
    ASSERT_FALSE(first.Pty().empty() || second.Pty().empty());
    run.env["TARNIK_SERIAL_PORTS"] = first.Pty() + ":" + second.Pty();
    const ProgramResult listed = run.Cli({"--list-ports", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const auto ports = nlohmann::json::parse(listed.out);
    ASSERT_EQ(ports.size(), 2u) << listed.out;
    EXPECT_EQ(ports[0].at("name"), first.Pty());
    EXPECT_EQ(ports[1].at("name"), second.Pty());
    for (const char* field : {"description", "transport", "vendor_id", "product_id", "manufacturer",
                              "product", "serial_number"})
        EXPECT_TRUE(ports[1].at(field).is_null()) << field;

    run.env["TARNIK_SERIAL_PORTS"] = "";
    const ProgramResult none = run.Cli({"--list-ports", "--json"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(none.out), nlohmann::json::array());
    EXPECT_EQ(none.err, "tarnik-cli: no serial port found\n");
    EXPECT_EQ(run.Cli({"--json"}).exitCode, 2); // only with --list-ports
}

// One unattended process per case over the real serial path; the emulator checks the traffic
// and its verdict must be good.
struct EndToEndCase {
    const char* name;
    int type;
    std::vector<std::string> simArgs;
    std::vector<std::string> cliArgs;
    int exitStatus;
    int exitCode;
    const char* statusLine;
};

void PrintTo(const EndToEndCase& c, std::ostream* os) {
    *os << c.name;
}

class CliEndToEnd : public ::testing::TestWithParam<EndToEndCase> {};

TEST_P(CliEndToEnd, EndsWithTheRightStatusAndAGoodVerdict) {
    const EndToEndCase& c = GetParam();
    CliRun run;
    const std::string image = run.Image(c.type, 3, c.type == 2);
    std::vector<std::string> simArgs{"--type", std::to_string(c.type), "--image", image};
    simArgs.insert(simArgs.end(), c.simArgs.begin(), c.simArgs.end());
    SimProcess sim(simArgs, TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());

    std::vector<std::string> cliArgs{"--port=" + sim.Pty(), "P=" + image};
    cliArgs.insert(cliArgs.end(), c.cliArgs.begin(), c.cliArgs.end());
    const ProgramResult r = run.Cli(cliArgs);
    EXPECT_EQ(LastLine(r.out), "Exit status: " + std::to_string(c.exitStatus)) << r.out << r.err;
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_NE(r.out.find(c.statusLine), std::string::npos) << r.out;
    EXPECT_EQ(sim.Wait(std::chrono::seconds(20)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    MainFamily, CliEndToEnd,
    ::testing::Values(
        EndToEndCase{"Controller", 0, {}, {"V=1"}, 20, 0, "Process status: Ending process"},
        EndToEndCase{"AccessControllerAsksForItsSerial",
                     2,
                     {"--serial", "12345678"},
                     {"V=1"},
                     20,
                     0,
                     "Process status: Ending process"},
        EndToEndCase{"Converter", 3, {}, {"V=0"}, 20, 0, "Process status: Ending process"},
        EndToEndCase{"KeypadWithNoiseAndADroppedAck",
                     7,
                     {"--noise", "--drop-ack", "1", "--erase-progress", "1,2"},
                     {"V=1"},
                     20,
                     0,
                     "Process status: Ending process"},
        EndToEndCase{"HangUpWhileProgramming",
                     6,
                     {"--hangup-at-record", "1"},
                     {"V=1"},
                     13 + 5376,
                     1,
                     "Process status: An error occurred. Programming ..."},
        EndToEndCase{"VerificationMismatch",
                     12,
                     {"--verify-mismatch", "2"},
                     {"V=1"},
                     18 + 5376,
                     1,
                     "Process status: An error occurred. Verification"},
        EndToEndCase{"EraseFailure",
                     14,
                     {"--erase-fail"},
                     {},
                     7 + 5376,
                     1,
                     "Process status: An error occurred. Memory erasure error"}),
    [](const ::testing::TestParamInfo<EndToEndCase>& info) {
        return std::string(info.param.name);
    });

// Failures whose status has the low byte of another outcome's code still exit 1.
INSTANTIATE_TEST_SUITE_P(
    LowByteCollisions, CliEndToEnd,
    ::testing::Values(
        // Status 2, the bad-arguments code.
        EndToEndCase{"UnitOfAnotherType",
                     1,
                     {"--wrong-type"},
                     {},
                     2,
                     1,
                     "Process status: This program is not intended for this unit "},
        // Status 5376 + 2, whose low byte is 2 as well.
        EndToEndCase{"SilentAudioUnit",
                     5,
                     {"--silent", "--idle-timeout-ms", "8000"},
                     {},
                     2 + 5376,
                     1,
                     "Process status: An error occurred. Unit identification"}),
    [](const ::testing::TestParamInfo<EndToEndCase>& info) {
        return std::string(info.param.name);
    });

constexpr const char* kEnded = "Process status: Ending process";

INSTANTIATE_TEST_SUITE_P(
    LateAndSplitAnswers, CliEndToEnd,
    ::testing::Values(
        EndToEndCase{"AudioLate", 5, {"--answer-delay-ms", "120"}, {}, 18, 0, kEnded},
        EndToEndCase{"AudioLongErasure", 5, {"--erase-busy-ms", "1500"}, {}, 18, 0, kEnded},
        EndToEndCase{
            "ConnectAnswersInPieces", 4, {"--chunk-bytes", "2"}, {"--yes"}, 19, 0, kEnded}),
    [](const ::testing::TestParamInfo<EndToEndCase>& info) {
        return std::string(info.param.name);
    });

// A network module answers every record twice, and the frame of the record whose expected
// answer such a copy would pass for is lost on the line: the record is sent again, not skipped.
TEST(CliNetworkModule, ALateCopyOfARecordsAnswerSkipsNoRecord) {
    CliRun run;
    const std::string image = run.Image(15, 20);
    RecordList keys(20);
    for (std::size_t i = 0; i < keys.size(); ++i)
        keys[i].key = TestRecordKey(i);
    const int lost = RecordALateCopyWouldAcknowledge(keys, 0x00);
    ASSERT_GT(lost, 0);
    SimProcess sim({"--type", "15", "--image", image, "--record-answer-again-ms", "50",
                    "--lose-record", std::to_string(lost)},
                   TARNIK_SIM_PATH);
    ASSERT_FALSE(sim.Pty().empty());
    const ProgramResult r = run.Cli({"--port=" + sim.Pty(), "P=" + image});
    EXPECT_EQ(LastLine(r.out), "Exit status: 19") << r.out << r.err;
    EXPECT_EQ(sim.Wait(std::chrono::seconds(20)), 0);
}

} // namespace
} // namespace tarnik::testing
