#include "support/bytes.h"
#include "tools/scrambler.h"

#include <gtest/gtest.h>

#include <random>

using namespace tarnik;

namespace {

using tarnik::testing::Bytes;

Text RandomText(std::mt19937& rng, std::size_t n) {
    Text t;
    for (std::size_t i = 0; i < n; ++i)
        t.push_back(static_cast<char>(rng() & 0xFF));
    return t;
}

} // namespace

// Vectors worked out by hand from the key-update rule (add, rotate left, complement, swap).
TEST(Scrambler, KnownAnswerFromZeroKey) {
    EXPECT_EQ(UpdateKey(0x0000, 0x15), 0xD5FF);
    EXPECT_EQ(UpdateKey(0xD5FF, 0x40), 0x8053);
    Text r;
    EXPECT_EQ(ScrambleText(Bytes({0, 0}), 1, r, 0x0000), 0x8053);
    EXPECT_EQ(r, Bytes({0x15, 0x40}));
}

TEST(Scrambler, KnownAnswerWithPlainPrefix) {
    Text r;
    EXPECT_EQ(ScrambleText("AB", 2, r, 0x1234), 0x0DDB);
    EXPECT_EQ(r, Bytes({'A', 0x45}));
    Text back;
    UnscrambleText(r, 2, back, 0x1234);
    EXPECT_EQ(back, "AB");
}

TEST(Scrambler, StartBeyondInputCopiesAndKeepsKey) {
    Text r;
    EXPECT_EQ(ScrambleText("abcde", 6, r, 0xBEEF), 0xBEEF);
    EXPECT_EQ(r, "abcde");
    Block src{}, dest{};
    int count = -5;
    src[0] = 7;
    EXPECT_EQ(ScrambleBlock(src, 5, 2, dest, count, 0x4321), 0x4321);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(dest[0], 7);
}

TEST(Scrambler, AllFormsRoundTripWithTheSameKeyChain) {
    std::mt19937 rng(42);
    for (int round = 0; round < 200; ++round) {
        const std::uint16_t key = static_cast<std::uint16_t>(rng());
        const Text plain = RandomText(rng, 1 + rng() % 300);
        const int start = 1 + static_cast<int>(rng() % 8);

        Text scrambled;
        const std::uint16_t forwardKey = ScrambleText(plain, start, scrambled, key);
        Text back;
        UnscrambleText(scrambled, start, back, key);
        ASSERT_EQ(back, plain);

        // Block forms with the same bytes (start counts from 0 there).
        Block src{}, blockOut{};
        std::copy(plain.begin(), plain.end(), src.begin());
        int count = 0;
        const auto last = static_cast<int>(plain.size()) - 1;
        EXPECT_EQ(ScrambleBlock(src, start - 1, last, blockOut, count, key), forwardKey);
        EXPECT_EQ(count, last + 1);
        EXPECT_EQ(Text(blockOut.begin(), blockOut.begin() + count), scrambled);

        Block restored{};
        EXPECT_EQ(UnscrambleBlock(blockOut, start - 1, count, restored, key), forwardKey);
        EXPECT_EQ(Text(restored.begin(), restored.begin() + count), plain);

        // The text form of the block reader skips element 0.
        Block shifted{};
        std::copy(scrambled.begin(), scrambled.end(), shifted.begin() + 1);
        Text viaText;
        UnscrambleBlockToText(shifted, start, count, viaText, key);
        EXPECT_EQ(viaText, plain);
    }
}

TEST(Scrambler, OneChangedByteChangesOutputAndKey) {
    Text a, b;
    const std::uint16_t ka = ScrambleText(Bytes({1, 2, 3}), 1, a, 0x5555);
    const std::uint16_t kb = ScrambleText(Bytes({1, 2, 4}), 1, b, 0x5555);
    EXPECT_NE(a[2], b[2]);
    EXPECT_NE(ka, kb);
    // The key update is one-to-one in the scrambled byte for a given key.
    for (int c = 1; c < 256; ++c)
        EXPECT_NE(UpdateKey(0x1234, 0), UpdateKey(0x1234, static_cast<std::uint8_t>(c)));
}

TEST(Scrambler, BlockFormsStayInsideTheirBuffers) {
    Block src{}, dest{};
    int count = 0;
    ScrambleBlock(src, 0, 5000, dest, count, 1);
    EXPECT_EQ(count, 1025);
    std::array<std::uint8_t, 4> small{1, 2, 3, 4};
    std::array<std::uint8_t, 2> out{};
    UnscrambleBlock(small, 0, 100, out, 9); // clamped to the smaller span
    Text r;
    UnscrambleBlockToText(small, 1, 100, r, 9);
    EXPECT_EQ(r.size(), 3u);
}
