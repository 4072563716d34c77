// The emulator's command line and its JSON report.
#include "sim/sim_options.h"
#include "sim/unit_report.h"

#include <gtest/gtest.h>

namespace tarnik::sim {
namespace {

TEST(SimOptions, ReadsUnitIdentityAndFaults) {
    SimOptions options;
    const ParseOutcome outcome = ParseSimArguments(
        {"--type", "9", "--address=1F", "--serial", "0A0B0C0D", "--version", "2.13", "--date",
         "2024-02-29", "--wire", "--erase-progress", "1,1,2", "--drop-ack", "3", "--noise",
         "--answer-delay-ms=40", "--report", "out.json", "--image=unit.bin"},
        options);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(options.unit.unitType, 9);
    EXPECT_EQ(options.unit.address, 0x1F);
    EXPECT_EQ(options.unit.serial, (std::array<std::uint8_t, 4>{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(options.unit.version, (std::array<std::uint8_t, 3>{2, 1, 3}));
    ASSERT_TRUE(options.unit.date);
    EXPECT_EQ(options.unit.date->day, 29);
    EXPECT_TRUE(options.unit.wire);
    EXPECT_EQ(options.unit.faults.eraseProgress, (std::vector<std::uint8_t>{1, 1, 2}));
    EXPECT_EQ(options.unit.faults.dropAck, 3);
    EXPECT_TRUE(options.unit.faults.noise);
    EXPECT_EQ(options.unit.faults.answerDelayMs, 40u);
    EXPECT_EQ(options.reportPath, "out.json");
}

TEST(SimOptions, ReadsTheNoiseRateAndTheAnswerFaults) {
    SimOptions options;
    ASSERT_TRUE(ParseSimArguments({"--type", "1", "--noise-rate", "25", "--duplicate-answers",
                                   "--foreign-address"},
                                  options)
                    .ok);
    EXPECT_TRUE(options.unit.faults.noise);
    EXPECT_EQ(options.unit.faults.noisePercent, 25u);
    EXPECT_TRUE(options.unit.faults.duplicateAnswers);
    EXPECT_TRUE(options.unit.faults.foreignAddress);
}

TEST(SimOptions, RefusesBadArguments) {
    const std::vector<std::vector<std::string>> bad = {
        {},               // no type
        {"--type", "19"}, // no such unit type
        {"--type", "1", "--address", "100"},
        {"--type", "1", "--serial", "1234"},
        {"--type", "1", "--version", "1.5"},
        {"--type", "1", "--date", "2024-13-01"},
        {"--type", "1", "--erase-progress", "1,,2"},
        {"--type", "1", "--drop-ack"},
        {"--type", "1", "--frobnicate"},
        {"--type", "1", "--noise-rate", "0"},
        {"--type", "1", "--noise-rate", "101"},
        {"--type", "9"}, // a network module needs its image
        {"--type", "5", "--chunk-bytes", "0"},
        {"--type", "5", "--erase-busy-ms", "0"},
    };
    for (const auto& args : bad) {
        SimOptions options;
        EXPECT_FALSE(ParseSimArguments(args, options).ok) << ::testing::PrintToString(args);
    }
}

TEST(UnitReport, JsonCarriesVerdictFramesAndViolations) {
    UnitReport report;
    report.unitType = 1;
    report.frames.push_back(
        {12, LineSettings{38400, paNone, sb1_0, da8}, "\xFF\xFF\x05", "id \"q\""});
    report.records.push_back(
        {0, 0x8000, 0x1234, 2, true, false, "byte 5: 01 received, 02 in the image"});
    report.violations.push_back({40, "record 0 differs from the image"});
    const std::string json = ReportToJson(report, false);
    EXPECT_NE(json.find("\"verdict\": \"fail\""), std::string::npos);
    EXPECT_NE(json.find("\"hex\": \"FF FF 05\""), std::string::npos);
    EXPECT_NE(json.find("\"what\": \"id \\\"q\\\"\""), std::string::npos);
    EXPECT_NE(json.find("\"baud\": 38400"), std::string::npos);
    EXPECT_NE(json.find("\"address\": \"8000\""), std::string::npos);
    EXPECT_NE(json.find("\"matches\": false"), std::string::npos);
    EXPECT_NE(json.find("\"violation_count\": 1"), std::string::npos);
}

} // namespace
} // namespace tarnik::sim
