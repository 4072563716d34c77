// The results log's lines: valid JSON whatever the texts hold, a null serial number when
// none was written, a time with its offset, and whole lines from concurrent writers.
#include "cli/results_log.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <thread>

namespace tarnik::cli {
namespace {

// Sets TZ (unset when empty) and makes the C library read it again.
void SetTimeZone(const std::string& zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone.c_str());
    _tzset();
#else
    if (zone.empty())
        unsetenv("TZ");
    else
        setenv("TZ", zone.c_str(), 1);
    tzset();
#endif
}

TEST(ResultsLog, LineIsOneJsonObjectWithEveryField) {
    UnitResult unit;
    unit.port = "/dev/ttyUSB1";
    unit.status = "Process status: \"odd\"\n\xB3"; // a quote, a line end, a stray byte
    unit.outcome = {ProcessOutcome::Kind::Failed, 5389};
    unit.unitType = 2;
    unit.serial = "0000A1FF";
    const RunFacts run{"station-3", "/srv/img \"x\".bin", std::string(64, 'a'), "2.01A"};
    const std::string text = ResultLine(unit, run, 0);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const auto line = nlohmann::json::parse(text);
    EXPECT_EQ(line.at("serial"), "0000A1FF");
    EXPECT_EQ(line.at("image"), "/srv/img \"x\".bin");
    EXPECT_EQ(line.at("exit_status"), 5389);
    EXPECT_EQ(line.at("outcome"), "failed");
    EXPECT_EQ(line.at("status").get<std::string>().rfind("Process status: \"odd\"\n", 0), 0u);
    for (const char* field :
         {"time", "host", "port", "image_sha256", "unit_type", "image_version", "image_date",
          "unit_address", "verify", "seconds", "records_sent", "program_version"})
        EXPECT_TRUE(line.contains(field)) << field;

    unit.serial.reset();
    EXPECT_TRUE(nlohmann::json::parse(ResultLine(unit, run, 0)).at("serial").is_null());
    EXPECT_TRUE(std::regex_match(Iso8601(1796760940),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
        << Iso8601(1796760940);
}

// The machine runs in UTC, where an offset of the wrong sign still reads +00:00.
TEST(ResultsLog, TimeCarriesTheOffsetOfTheLocalTimeZone) {
    const char* const saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    // POSIX zone strings, which need no time-zone database: the hours are west of UTC.
    for (const auto& [zone, expected] : std::vector<std::pair<std::string, std::string>>{
             {"XYZ-2", "1970-01-02T02:00:00+02:00"},
             {"ABC+5:30", "1970-01-01T18:30:00-05:30"},
         }) {
        SetTimeZone(zone);
        EXPECT_EQ(Iso8601(86400), expected) << zone;
    }
    SetTimeZone(saved ? previous : std::string());
}

TEST(ResultsLog, ConcurrentAppendsNeverInterleave) {
    testing::TempDir dir;
    const std::string path = (dir / "log.jsonl").string();
    constexpr int kWriters = 6;
    constexpr int kLines = 200;
    {
        std::vector<std::jthread> writers;
        for (int w = 0; w < kWriters; ++w)
            writers.emplace_back([&, w] {
                const std::string line = std::string(3000, static_cast<char>('a' + w)) + "\n";
                for (int i = 0; i < kLines; ++i)
                    EXPECT_TRUE(AppendToFile(path, line));
            });
    }
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line); ++count)
        ASSERT_EQ(line, std::string(3000, line.front()));
    EXPECT_EQ(count, kWriters * kLines);
    EXPECT_FALSE(AppendToFile((dir / "no-such-folder" / "log.jsonl").string(), "x\n"));
}

} // namespace
} // namespace tarnik::cli
