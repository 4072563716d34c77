#include "image/image_file.h"
#include "image/image_writer.h"
#include "image/unit_types.h"
#include "support/bytes.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"
#include "tools/scrambler.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <stdexcept>

using namespace tarnik;
using namespace tarnik::testing;

namespace {

using tarnik::testing::Bytes;

} // namespace

TEST(ImageWriter, RecordLayoutsAndChecksums) {
    EXPECT_EQ(PlainS19Record(0x1234, "ABC"),
              Bytes({0x11, 0x12, 0x34, 0x03, 0x41, 0x42, 0x43, 0x20}));
    EXPECT_EQ(PlainS19Record(0x0001, "\x01", 0x13), Bytes({0x13, 0x00, 0x01, 0x01, 0x01, 0x16}));
    const Text full = PlainS19Record(0x8000, Text(256, '\x01'));
    EXPECT_EQ(full.size(), 261u);
    EXPECT_EQ(ByteAt(full, 3), 0);
    EXPECT_TRUE(S19RecordChecksumOk(full));
    EXPECT_THROW(PlainS19Record(0, ""), std::invalid_argument);
    EXPECT_THROW(PlainS19Record(0, Text(257, 'x')), std::invalid_argument);

    EXPECT_EQ(PlainNetRecord(0xABCD, "\x10"),
              Bytes({0x11, 0x00, 0x01, 0x00, 0xAB, 0xCD, 0x10, 0x77}));
    EXPECT_TRUE(NetRecordChecksumOk(PlainNetRecord(0xFFFF, Text(255, '\xFF'))));
    EXPECT_EQ(PlainNetRecord(0x0000, "").size(), 7u);
    EXPECT_THROW(PlainNetRecord(0, Text(256, 'x')), std::invalid_argument);
}

TEST(ImageWriter, KeysAreStoredLowByteFirstAndScrambleFromTheFirstByte) {
    // From the key-update rule: 00 00 under key 0 scrambles to 15 40.
    EXPECT_EQ(EncodeRecord(Bytes({0, 0}), 0x0000), Bytes({0x00, 0x00, 0x15, 0x40}));
    const Text encoded = EncodeRecord(PlainS19Record(0x1000, "data"), 0xBEEF);
    EXPECT_EQ(encoded.substr(0, 2), Bytes({0xEF, 0xBE}));
    Text plain;
    UnscrambleText(encoded.substr(2), 1, plain, 0xBEEF);
    EXPECT_EQ(plain, PlainS19Record(0x1000, "data"));
}

TEST(ImageWriter, HeaderBlockLayout) {
    const Text block = BuildHeaderBlock(MakeHeaderFields(11, "1.05", 1700000000));
    ASSERT_EQ(block.size(), kHeaderSize);
    EXPECT_EQ(block.substr(0, 27), "1.05      1700000000     0B");
    EXPECT_EQ(block.substr(27, 30), Text(30, ' '));
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 57; ++i)
        sum = static_cast<std::uint8_t>(sum + ByteAt(block, i));
    EXPECT_EQ(ByteAt(block, 57), sum);
    EXPECT_THROW(BuildHeaderBlock({"12345678901", "1", "01", ""}), std::invalid_argument);
    EXPECT_THROW(BuildHeaderBlock({"1", "1234567890123456", "01", ""}), std::invalid_argument);

    const Text header = EncodeHeader(block, 0x0102);
    EXPECT_EQ(header.substr(0, 2), Bytes({0x02, 0x01}));
    Text plain;
    UnscrambleText(header.substr(2), 1, plain, 0x0102);
    EXPECT_EQ(plain, block);
}

TEST(ImageWriter, BuiltImagesReadBackInTheFormatOfTheirType) {
    TempDir dir;
    DiscardLog log;
    for (int type = 0; type <= kMaxUnitType; ++type) {
        const std::vector<TestRecord> input = {{0x0100, PatternData(40)}, {0xFF00, PatternData(1)}};
        const auto path = WriteTestImage(dir / "t.bin", type, input);
        RecordList records;
        ASSERT_TRUE(LoadImageRecords(path, "", records, log).ok()) << type;
        ASSERT_EQ(records.size(), 2u);
        const std::size_t overhead = IsNetworkModuleType(type) ? 7 : 5;
        EXPECT_EQ(records[0].length, 40 + overhead) << type;
        EXPECT_EQ(records[1].address, 0xFF00);
    }
}

TEST(UnitTypes, TitlesAndNames) {
    EXPECT_EQ(UnitTypeTitle(1), "Tarnik v2.01A_EN   Expander Program");
    EXPECT_EQ(UnitTypeTitle(4), "Tarnik v2.01A_EN   NETK-2 Module Program ");
    EXPECT_EQ(UnitTypeName(1), "Expander");
    EXPECT_EQ(UnitTypeName(4), "NETK-2 Module");
    EXPECT_EQ(UnitTypeName(8), "Program bariery podczerwieni");
    EXPECT_EQ(UnitTypeName(18), "Lintra-KP Keypad");
    EXPECT_EQ(UnitTypeTitle(19), "");
    EXPECT_EQ(UnitTypeTitle(-1), "");
}

// Any bytes as an image file end in a defined result; ASan and UBSan watch the reads.
TEST(ImageFuzz, AnyBytesGiveADefinedResult) {
    TempDir dir;
    const std::string path = (dir / "fuzz.bin").string();
    DiscardLog log;
    std::mt19937 rng(20261208);
    const Text s19 =
        BuildTestImage(2, {{0x1000, PatternData(30)}, SerialRecord(), {0x2000, PatternData(256)}});
    const Text net = BuildTestImage(15, {{0x1000, PatternData(30)}, {0x2000, PatternData(200)}});
    const auto randomBytes = [&rng](std::size_t n) {
        Text t;
        for (std::size_t i = 0; i < n; ++i)
            t.push_back(static_cast<char>(rng() & 0xFF));
        return t;
    };
    std::map<ImageLoadStatus, int> seen;
    for (int round = 0; round < 4000; ++round) {
        Text bytes;
        const Text& base = round % 2 ? s19 : net;
        switch (round % 4) {
        case 0:
            bytes = randomBytes(rng() % 400);
            break;
        case 1: // a few bytes changed
            bytes = base;
            for (int i = 0, n = 1 + static_cast<int>(rng() % 3); i < n; ++i)
                bytes[rng() % bytes.size()] = static_cast<char>(rng() & 0xFF);
            break;
        case 2:
            bytes = base.substr(0, rng() % (base.size() + 1));
            break;
        default: { // a good header of any type followed by garbage
            const int type = static_cast<int>(rng() % 19);
            bytes = BuildTestImage(type, {}) + randomBytes(rng() % 600);
        }
        }
        WriteFile(path, bytes);
        const Text serial = round % 3 ? "0012AB34" : "";
        RecordList records;
        const ImageLoadResult header = ReadImageHeader(path);
        const ImageLoadResult load = LoadImageRecords(path, serial, records, log);
        ++seen[load.status];
        if (load.status == ImageLoadStatus::DamagedRecord) {
            EXPECT_TRUE(header.ok());
            EXPECT_EQ(load.message,
                      "Damaged file " + path + "  [" + std::to_string(load.failedRecord) + "]");
            EXPECT_LE(records.size(), static_cast<std::size_t>(load.failedRecord) + 1);
        } else {
            EXPECT_EQ(load.status, header.status);
            EXPECT_EQ(load.message, header.message);
        }
        if (load.ok()) {
            const bool network = IsNetworkModuleType(load.header->unitType);
            for (const TLDane& record : records) {
                EXPECT_EQ(record.programmingText.size(), record.length);
                const Text plain = DescrambleRecord(record);
                EXPECT_TRUE(network ? NetRecordChecksumOk(plain) : S19RecordChecksumOk(plain));
            }
        } else {
            EXPECT_FALSE(load.message.empty());
        }
        const Text found = ReadSerialFromImage(kSerialRecordAddress, path, log);
        EXPECT_TRUE(found.empty() || found.size() == 8u);
    }
    EXPECT_GT(seen[ImageLoadStatus::Ok], 0);
    EXPECT_GT(seen[ImageLoadStatus::DamagedRecord], 0);
    EXPECT_GT(seen[ImageLoadStatus::HeaderNotCorrect], 0);
}
