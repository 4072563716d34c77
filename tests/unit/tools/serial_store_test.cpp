// The station's serial number store: numbers taken in order, never twice, even by
// takers that race each other.
#include "tools/hexcodec.h"
#include "tools/serial_store.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace tarnik {
namespace {

struct Store {
    testing::TempDir dir;
    std::string path = (dir / "serials").string();
    explicit Store(const std::string& contents) {
        if (!contents.empty()) std::ofstream(path) << contents;
    }
    std::string Contents() const {
        std::stringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }
};

TEST(SerialStore, TakesConsecutiveNumbersAndKeepsTheNextOne) {
    Store store("0000a1fe\n");
    const SerialAllocation first = TakeSerials(store.path, 3);
    ASSERT_TRUE(first.ok()) << first.error;
    EXPECT_EQ(first.serials, (std::vector<std::string>{"0000A1FE", "0000A1FF", "0000A200"}));
    EXPECT_EQ(store.Contents(), "0000A201\n");
    EXPECT_EQ(TakeSerials(store.path, 1).serials, std::vector<std::string>{"0000A201"});
}

TEST(SerialStore, RefusesWhatWouldHandOutANumberTwiceOrAGuessedOne) {
    // No store: starting anywhere could repeat numbers of an earlier store.
    Store missing("");
    EXPECT_FALSE(TakeSerials(missing.path, 1).ok());
    EXPECT_FALSE(std::ifstream(missing.path).good());

    for (const char* bad : {"1234567\n", "1234567G", "123456789", "\n"}) {
        Store garbled(bad);
        EXPECT_FALSE(TakeSerials(garbled.path, 1).ok()) << bad;
        EXPECT_EQ(garbled.Contents(), bad); // left for the engineer to see
    }

    // Wrapping round past FFFFFFFF would start again at 00000000.
    Store nearEnd("FFFFFFFE");
    EXPECT_FALSE(TakeSerials(nearEnd.path, 3).ok());
    EXPECT_EQ(nearEnd.Contents(), "FFFFFFFE");
    const SerialAllocation last = TakeSerials(nearEnd.path, 2);
    EXPECT_EQ(last.serials, (std::vector<std::string>{"FFFFFFFE", "FFFFFFFF"}));
    EXPECT_FALSE(TakeSerials(nearEnd.path, 1).ok());
}

TEST(SerialStore, NumbersAreHandedOutOnlyWhenTheStoreWasRewritten) {
    Store store("00000010\n");
    std::filesystem::create_directory(store.path + ".new"); // the rewrite cannot be made
    const SerialAllocation got = TakeSerials(store.path, 2);
    EXPECT_FALSE(got.ok());
    EXPECT_TRUE(got.serials.empty());
    EXPECT_EQ(store.Contents(), "00000010\n");
    // The message says why: the file that could not be written.
    EXPECT_NE(got.error.find(store.path + ".new"), std::string::npos) << got.error;
}

TEST(SerialStore, TheStoreIsReplacedNotRewrittenInPlace) {
    Store store("00000010\n");
    // A second name for the old store's contents: a rewrite in place would change it too,
    // and a crash in the middle of one would leave a half-written number.
    std::error_code ec;
    std::filesystem::create_hard_link(store.path, store.path + ".old", ec);
    if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();
    ASSERT_TRUE(TakeSerials(store.path, 1).ok());
    EXPECT_EQ(store.Contents(), "00000011\n");
    std::stringstream old;
    old << std::ifstream(store.path + ".old").rdbuf();
    EXPECT_EQ(old.str(), "00000010\n");
}

TEST(SerialStore, TheLastNumberIsHandedOutOnceAndThenTheStoreIsSpent) {
    Store store("FFFFFFFF\n");
    EXPECT_EQ(TakeSerials(store.path, 1).serials, std::vector<std::string>{"FFFFFFFF"});
    EXPECT_FALSE(TakeSerials(store.path, 1).ok());
}

TEST(SerialStore, RacingTakersNeverShareANumberNorLoseOne) {
    Store store("00000100");
    constexpr int kTakers = 8;
    constexpr int kRounds = 25;
    std::mutex mutex;
    std::multiset<std::string> taken;
    {
        std::vector<std::jthread> takers;
        for (int t = 0; t < kTakers; ++t)
            takers.emplace_back([&, t] {
                for (int round = 0; round < kRounds; ++round) {
                    const SerialAllocation got = TakeSerials(store.path, 1 + (t % 3));
                    const std::lock_guard<std::mutex> lock(mutex);
                    EXPECT_TRUE(got.ok()) << got.error;
                    taken.insert(got.serials.begin(), got.serials.end());
                }
            });
    }
    const std::set<std::string> unique(taken.begin(), taken.end());
    EXPECT_EQ(unique.size(), taken.size());
    // Every number up to the store's next one was handed out: no gaps from lost updates.
    EXPECT_EQ(*unique.begin(), "00000100");
    EXPECT_EQ(store.Contents(),
              SerialText(0x100 + static_cast<std::uint32_t>(taken.size())) + "\n");
}

} // namespace
} // namespace tarnik
