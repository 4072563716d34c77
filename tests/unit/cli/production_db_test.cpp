// The production database on real servers: SQLite in a fresh file, and PostgreSQL in a fresh
// database of the server that the PG* variables name (scripts/test-postgres starts a throwaway
// one); without them the PostgreSQL cases are skipped.
#include "cli/production_db.h"
#include "tools/hexcodec.h"

#include "support/db_place.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <cstdlib>
#include <memory>
#include <set>
#include <thread>

namespace tarnik::cli {
namespace {

class ProductionDbTest : public testing::DbBackendTest {};

ResultRow Row(const std::string& port) {
    ResultRow row;
    row.runId = NewRunId();
    row.time = 1796760940;
    row.station = "station-1";
    row.port = port;
    row.image = "/srv/images/a.bin";
    row.outcome = "programmed";
    return row;
}

SerialRequest Ports(std::size_t count, std::optional<std::uint32_t> start = std::nullopt,
                    const std::string& counter = "default") {
    SerialRequest request;
    request.counter = counter;
    request.start = start;
    for (std::size_t i = 0; i < count; ++i)
        request.ports.push_back("ttyUSB" + std::to_string(i));
    return request;
}

TEST_P(ProductionDbTest, ConcurrentAllocatorsNeverShareANumber) {
    constexpr int kRounds = 10;
    constexpr std::size_t kPorts = 12;
    std::vector<std::string> taken[2];
    {
        std::vector<std::jthread> stations;
        for (auto& mine : taken)
            stations.emplace_back([&] {
                auto db = place().Open();
                for (int round = 0; db && round < kRounds; ++round) {
                    const SerialAllocation got = db->TakeSerials(Ports(kPorts, 0x100));
                    EXPECT_TRUE(got.ok()) << got.error;
                    mine.insert(mine.end(), got.serials.begin(), got.serials.end());
                }
            });
    }
    std::set<std::string> all(taken[0].begin(), taken[0].end());
    all.insert(taken[1].begin(), taken[1].end());
    EXPECT_EQ(all.size(), 2 * kRounds * kPorts);
    EXPECT_EQ(*all.begin(), "00000100"); // seeded once, no gaps
    EXPECT_EQ(*all.rbegin(), SerialText(0x100 + 2 * kRounds * kPorts - 1));
}

TEST_P(ProductionDbTest, CounterIsSeededOnceAndNeverWrapsRound) {
    auto db = place().Open();
    EXPECT_FALSE(db->TakeSerials(Ports(1)).ok()); // never used, no first number: refused
    EXPECT_EQ(db->TakeSerials(Ports(1, 0xFFFFFFFE)).serials, std::vector<std::string>{"FFFFFFFE"});
    EXPECT_FALSE(db->TakeSerials(Ports(2, 5)).ok()); // all or nothing; the seed is spent
    EXPECT_EQ(db->TakeSerials(Ports(1)).serials, std::vector<std::string>{"FFFFFFFF"});
    EXPECT_FALSE(db->TakeSerials(Ports(1)).ok());
}

TEST_P(ProductionDbTest, ImportedListIsHandedOutInFileOrderAndThenRefuses) {
    testing::TempDir dir;
    const auto file = [&](const std::string& text) {
        testing::WriteFile(dir / "list.txt", text);
        return dir / "list.txt";
    };
    auto db = place().Open();
    ASSERT_EQ(db->ImportSerials("board", file("0000000c\r\n0000000A\n\n0000000B\n")).imported, 3u);
    // Refused lists leave the pool as it was: no line of them is imported.
    for (const char* refused : {"00000010\n0000001G\n", "00000010\n00000010\n",
                                "00000010\n0000000A\n", "\n", "000000100\n"})
        EXPECT_FALSE(db->ImportSerials("board", file(refused)).ok()) << refused;
    EXPECT_EQ(place().Count("serial_pool"), 3);
    // A counting counter takes no list.
    ASSERT_TRUE(db->TakeSerials(Ports(1, 1, "counted")).ok());
    EXPECT_FALSE(db->ImportSerials("counted", file("00000020\n")).ok());

    EXPECT_EQ(db->TakeSerials(Ports(2, 0x500, "board")).serials,
              (std::vector<std::string>{"0000000C", "0000000A"}));
    EXPECT_FALSE(db->TakeSerials(Ports(2, std::nullopt, "board")).ok()); // one left: none taken
    const SerialAllocation last = db->TakeSerials(Ports(1, std::nullopt, "board"));
    EXPECT_EQ(last.serials, std::vector<std::string>{"0000000B"}) << last.error;
    EXPECT_FALSE(db->TakeSerials(Ports(1, std::nullopt, "board")).ok());
    std::string port;
    place().Raw() << "SELECT port FROM serial_pool WHERE serial = '0000000A'", soci::into(port);
    EXPECT_EQ(port, "ttyUSB1");
}

TEST_P(ProductionDbTest, HostileTextsAreStoredAsData) {
    auto db = place().Open();
    ResultRow row = Row("ttyUSB0");
    row.station = "st'); DROP TABLE results; --";
    row.image = "/srv/it's \"here\"; DELETE FROM serial_counters.bin";
    const char given[] = "bad \xB3 byte and a NUL \0 here";
    row.status = std::string(given, sizeof given - 1);
    row.serial = "0000A1FF";
    ASSERT_EQ(db->Record(row).where, RecordOutcome::Where::Database);
    std::string station;
    std::string image;
    std::string status;
    place().Raw() << "SELECT station, image, status FROM results", soci::into(station),
        soci::into(image), soci::into(status);
    EXPECT_EQ(station, row.station);
    EXPECT_EQ(image, row.image);
    EXPECT_EQ(status, StorableText(row.status));
    const ReportOutcome report = db->Report();
    ASSERT_EQ(report.images.size(), 1u) << report.error;
    EXPECT_EQ(report.images[0].image, row.image);
    EXPECT_TRUE(db->Report(row.time + 1).images.empty());
    // Rows given without an id are each stored all the same.
    row.runId.clear();
    db->Record(row);
    db->Record(row);
    EXPECT_EQ(place().Count("results"), 3);
}

TEST_P(ProductionDbTest, LatestRowsAreTheStationsOwnNewestFirstWithTheirTimes) {
    auto db = place().Open();
    struct Case {
        const char* station;
        const char* port;
        std::time_t time;
        std::optional<std::string> serial;
    };
    const Case cases[] = {{"station-1", "ttyUSB0", 1796760940, "0000A100"},
                          {"station-2", "ttyUSB1", 1796760950, "0000A101"},
                          {"station-1", "ttyUSB2", 1796760960, std::nullopt},
                          {"station-1", "ttyUSB3", 1796760930, "0000A102"}};
    for (const Case& c : cases) {
        ResultRow row = Row(c.port);
        row.station = c.station;
        row.time = c.time;
        row.serial = c.serial;
        ASSERT_EQ(db->Record(row).where, RecordOutcome::Where::Database);
    }
    const auto latest = db->Latest("station-1", 2);
    ASSERT_TRUE(latest.has_value());
    ASSERT_EQ(latest->size(), 2u);
    EXPECT_EQ((*latest)[0].port, "ttyUSB2");
    EXPECT_EQ((*latest)[0].time, 1796760960);
    EXPECT_FALSE((*latest)[0].serial.has_value());
    EXPECT_EQ((*latest)[1].port, "ttyUSB0");
    EXPECT_EQ((*latest)[1].serial, "0000A100");
}

TEST_P(ProductionDbTest, RowsOfAnUnreachableDatabaseAreSpooledAndStoredOnce) {
    auto db = place().Open(std::chrono::milliseconds(100));
    place().Cut();
    const RecordOutcome spooled = db->Record(Row("ttyUSB0"));
    EXPECT_EQ(spooled.where, RecordOutcome::Where::Spooled) << spooled.message;
    const std::string spool = testing::ReadFile(db->SpoolFile());
    place().Restore();
    EXPECT_EQ(place().Count("results"), 0);

    // The next connection writes the spooled row first.
    OpenedDb again = ProductionDb::Open(place().Url(), place().Options());
    ASSERT_TRUE(again.db) << again.error;
    EXPECT_EQ(again.replay.written, 1u) << again.replay.error;
    EXPECT_EQ(place().Count("results"), 1);
    // A replay that is made again (a crash before the spool was emptied) stores nothing twice.
    testing::WriteFile(db->SpoolFile(), spool);
    EXPECT_EQ(again.db->Record(Row("ttyUSB1")).where, RecordOutcome::Where::Database);
    EXPECT_EQ(place().Count("results"), 2);
    EXPECT_FALSE(std::filesystem::exists(db->SpoolFile()));
}

TEST_P(ProductionDbTest, SchemaNewerThanTheProgramIsRefused) {
    place().Open();
    place().Raw() << "UPDATE schema_version SET version = version + 1";
    const OpenedDb opened = ProductionDb::Open(place().Url(), place().Options());
    EXPECT_FALSE(opened.db);
    EXPECT_NE(opened.error.find("newer than this program knows"), std::string::npos)
        << opened.error;
}

INSTANTIATE_TEST_SUITE_P(Backends, ProductionDbTest, ::testing::Values("SQLite", "PostgreSQL"),
                         [](const auto& info) { return info.param; });

} // namespace
} // namespace tarnik::cli
