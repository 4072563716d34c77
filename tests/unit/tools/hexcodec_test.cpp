#include "support/bytes.h"
#include "tools/hexcodec.h"

#include <gtest/gtest.h>

using namespace tarnik;

namespace {

using tarnik::testing::Bytes;

} // namespace

TEST(HexCodec, HexToIntIgnoresForeignCharactersAndLongInput) {
    EXPECT_EQ(HexToInt("1A"), 26);
    EXPECT_EQ(HexToInt("0x1F"), 31);
    EXPECT_EQ(HexToInt(" B"), 11);
    EXPECT_EQ(HexToInt("0B"), 11);
    EXPECT_EQ(HexToInt("FFFFFFF"), 0x0FFFFFFF);
    EXPECT_EQ(HexToInt("12345678"), 0);
    EXPECT_EQ(HexToInt(""), 0);
    EXPECT_EQ(HexToInt("zz"), 0);
}

TEST(HexCodec, IntToHexEven) {
    EXPECT_EQ(IntToHexEven(0), "00");
    EXPECT_EQ(IntToHexEven(0x0D), "0D");
    EXPECT_EQ(IntToHexEven(0xAB), "AB");
    EXPECT_EQ(IntToHexEven(0x123), "0123");
    EXPECT_EQ(IntToHexEven(0xFFFFFFFFu), "FFFFFFFF");
}

TEST(HexCodec, HexToBytesWithAndWithoutSum) {
    EXPECT_EQ(HexToBytes("414", false), "A");
    EXPECT_EQ(HexToBytes("4142", true), Bytes({0x41, 0x42, 0x83}));
    EXPECT_EQ(HexToBytes("", true), Bytes({0x00}));
    EXPECT_EQ(HexToBytes("FFFF0580", true), Bytes({0xFF, 0xFF, 0x05, 0x80, 0x83}));
    EXPECT_EQ(HexToBytes("zz1z", false), Bytes({0x00, 0x01}));

    // The result may replace the text it is read from.
    Text same = "4142";
    HexToBytes(same, true, same);
    EXPECT_EQ(same, Bytes({0x41, 0x42, 0x83}));
}

TEST(HexCodec, ByteListsAndCopies) {
    const std::uint8_t raw[] = {0x0A, 0xFF};
    Text r = "old";
    BytesToHex(raw, 1, r);
    EXPECT_EQ(r, "0AFF");
    BytesToHex(raw, -1, r);
    EXPECT_EQ(r, "");
    BytesToStr(raw, 7, r); // clamped to the two bytes there are
    EXPECT_EQ(r, Bytes({0x0A, 0xFF}));
    EXPECT_EQ(BytesToHexList(raw, 2), "0A FF ");
    EXPECT_EQ(BytesToHexList(Bytes({0x45, 0x0D, 0x00})), "45 0D 00 ");
    EXPECT_EQ(BytesToText(raw, 1), Bytes({0x0A}));

    std::array<std::uint8_t, 8> dest{};
    int count = 0;
    StrToBytes("abc", count, dest);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(dest[2], 'c');
    StrToBytes("", count, dest);
    EXPECT_EQ(count, 1);
}

TEST(HexCodec, SumByteOk) {
    EXPECT_TRUE(SumByteOk(Bytes({1, 2, 3})));
    EXPECT_FALSE(SumByteOk(Bytes({1, 2, 4})));
    EXPECT_TRUE(SumByteOk(Bytes({0xFF, 0x02, 0x01})));
    EXPECT_FALSE(SumByteOk(""));
}

TEST(HexCodec, ExtractFrameWaitsForACompleteFrame) {
    const Text marker = Bytes({0xFF, 0xFF});
    const Text reply = Bytes({0xFF, 0xFF, 0x05, 0x03, 0x80, 0x07, 0x8D});
    FrameBuffer dest{};
    bool sumOk = false;

    // Only the first marker byte: kept, nothing found.
    Text rx = Bytes({0x11, 0x22, 0xFF});
    EXPECT_FALSE(ExtractFrame(rx, marker, dest, sumOk));
    EXPECT_EQ(rx, Bytes({0xFF}));

    // Growing byte by byte: unchanged until the last byte is there.
    rx = Bytes({0x33}) + reply.substr(0, 1);
    for (std::size_t i = 1; i < reply.size(); ++i) {
        rx.push_back(reply[i]);
        const Text before = rx;
        if (i + 1 < reply.size()) {
            EXPECT_FALSE(ExtractFrame(rx, marker, dest, sumOk)) << i;
            EXPECT_EQ(rx, before);
        }
    }
    rx += Bytes({0x99}); // bytes after the frame are dropped with it
    std::size_t length = 0;
    ASSERT_TRUE(ExtractFrame(rx, marker, dest, sumOk, &length));
    EXPECT_TRUE(sumOk);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(dest[4], 0x80);
    EXPECT_EQ(dest[5], 0x07);
    EXPECT_TRUE(rx.empty());
}

TEST(HexCodec, ExtractFrameBadSumZeroLengthAndOversize) {
    const Text marker = Bytes({0xDD, 0xDD});
    FrameBuffer dest{};
    bool sumOk = true;

    Text rx = Bytes({0xDD, 0xDD, 0x01, 0x02, 0x05, 0x00});
    ASSERT_TRUE(ExtractFrame(rx, marker, dest, sumOk));
    EXPECT_FALSE(sumOk);
    EXPECT_TRUE(rx.empty());

    rx = Bytes({0xDD, 0xDD, 0x01, 0x00, 0x05, 0x00});
    EXPECT_FALSE(ExtractFrame(rx, marker, dest, sumOk));
    EXPECT_EQ(rx.size(), 6u);

    // N = 131 makes a 135-byte frame: ignored and left in place.
    rx = Bytes({0xDD, 0xDD, 0x01, 131}) + Text(131, '\x01');
    EXPECT_FALSE(ExtractFrame(rx, marker, dest, sumOk));
    EXPECT_EQ(rx.size(), 135u);

    // An FF FF reply is not seen when the marker is DD DD.
    rx = Bytes({0xFF, 0xFF, 0x05, 0x03, 0x80, 0x07, 0x8D});
    EXPECT_FALSE(ExtractFrame(rx, marker, dest, sumOk));
    EXPECT_EQ(rx, Bytes({0x8D}));
}

TEST(HexCodec, ExtractFrameLengthLimits) {
    const Text marker = Bytes({0xFF, 0xFF});
    FrameBuffer dest{};
    bool sumOk = false;

    // N = 1 makes a five-byte frame, but the length byte is only looked at once six bytes
    // from the marker are there.
    const Text shortest = Bytes({0xFF, 0xFF, 0x07, 0x01, 0x06});
    Text rx = Bytes({0x42}) + shortest;
    EXPECT_FALSE(ExtractFrame(rx, marker, dest, sumOk));
    EXPECT_EQ(rx, Bytes({0x42}) + shortest);
    rx.push_back('\x00');
    std::size_t length = 0;
    ASSERT_TRUE(ExtractFrame(rx, marker, dest, sumOk, &length));
    EXPECT_EQ(length, 5u);
    EXPECT_TRUE(sumOk);

    // N = 130 makes the largest frame taken, 134 bytes, copied whole.
    Text largest = Bytes({0xFF, 0xFF, 0x01, 130}) + Text(129, '\x02');
    std::uint8_t sum = 0;
    for (char c : largest)
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    largest.push_back(static_cast<char>(sum));
    rx = largest;
    ASSERT_TRUE(ExtractFrame(rx, marker, dest, sumOk, &length));
    EXPECT_EQ(length, kMaxFrame);
    EXPECT_TRUE(sumOk);
    EXPECT_EQ(dest[kMaxFrame - 1], sum);
    EXPECT_TRUE(rx.empty());
}
