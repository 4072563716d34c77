#include "image/image_file.h"
#include "image/srecord.h"
#include "imagetool/image_tool.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace tarnik;
using namespace tarnik::testing;

namespace {

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
};

ToolRun RunTool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    ToolRun run;
    run.code = RunImageTool(args, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::string SamplePath() {
    return std::string(TARNIK_SOURCE_DIR) + "/samples/sample.s19";
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(SRecords, DataRecordsOfAllAddressWidths) {
    std::istringstream in("S00600004844521B\r\n"
                          "\n"
                          "S107100001020304DE\n"
                          "S20800200005060708BD\n"
                          "s30900003000090A0B0C9C\n"
                          "S5030003F9\n"
                          "S9031000EC\n");
    const SRecordFile file = ParseSRecords(in);
    ASSERT_TRUE(file.ok()) << file.errors[0].line << " " << file.errors[0].message;
    ASSERT_EQ(file.records.size(), 3u);
    EXPECT_EQ(file.records[0].address, 0x1000u);
    EXPECT_EQ(file.records[0].data, "\x01\x02\x03\x04");
    EXPECT_EQ(file.records[0].line, 3);
    EXPECT_EQ(file.records[1].address, 0x2000u);
    EXPECT_EQ(file.records[2].address, 0x3000u);
    EXPECT_EQ(file.records[2].data, "\x09\x0A\x0B\x0C");
}

TEST(SRecords, BadLinesAreReportedWithTheirNumbers) {
    std::istringstream in("S107100001020304DF\n" // checksum
                          "S1071000010203\n"     // count does not match
                          "S10710000102030GDE\n" // not hex
                          "S4030000FC\n"         // no such type
                          ":10000000\n"          // not an S-record
                          "S107100001020304DE\n"
                          "S10210ED\n"); // too short for its address
    const SRecordFile file = ParseSRecords(in);
    ASSERT_EQ(file.errors.size(), 6u);
    const std::vector<int> lines = {1, 2, 3, 4, 5, 7};
    for (std::size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(file.errors[i].line, lines[i]);
    EXPECT_EQ(file.errors[0].message, "checksum wrong");
    EXPECT_EQ(file.records.size(), 1u);
}

TEST(PackLayout, SplitsRunsAndStartsARecordAtTheSerialAddress) {
    const std::vector<SRecordData> data = {{0x1000, PatternData(100), 1},
                                           {0x1010, "\xEE", 2}, // later byte wins
                                           {0xEF90, PatternData(40), 3},
                                           {0xF000, "\x01\x02", 4}};
    const auto records = SplitIntoRecords(data, 64);
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].address, 0x1000);
    EXPECT_EQ(records[0].data.size(), 64u);
    EXPECT_EQ(ByteAt(records[0].data, 0x10), 0xEE);
    EXPECT_EQ(records[1].address, 0x1040);
    EXPECT_EQ(records[1].data.size(), 36u);
    EXPECT_EQ(records[2].address, 0xEF90);
    EXPECT_EQ(records[2].data.size(), 16u);
    EXPECT_EQ(records[3].address, 0xEFA0);
    EXPECT_EQ(records[3].data.size(), 24u);
    EXPECT_EQ(records[4].address, 0xF000);
    EXPECT_THROW(SplitIntoRecords({{0xFFFF, "ab", 9}}, 64), std::invalid_argument);
}

TEST(ImageTool, PackedImageReadsBackThroughInfoAndTheLoader) {
    TempDir dir;
    const std::string out = (dir / "sample.bin").string();
    const ToolRun pack =
        RunTool({"pack", "--type", "2", "--version", "1.05", "--date=1700000000", "--serial",
                 "0012ab34", "--record-size", "48", SamplePath(), out});
    ASSERT_EQ(pack.code, 0) << pack.err;

    const ToolRun info = RunTool({"info", out});
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_TRUE(Contains(info.out, "Version: 1.05\n"));
    EXPECT_TRUE(Contains(info.out, "Compilation date: 11/14/23 22:13:20 (1700000000)\n"));
    EXPECT_TRUE(Contains(info.out, "Unit type: 2 (Access Controller)\n"));
    EXPECT_TRUE(Contains(info.out, "Serial number: 0012AB34\n"));
    EXPECT_FALSE(Contains(info.out, "checksum wrong"));

    // Every data byte of the S-record file is in the image at its address.
    const SRecordFile source = ReadSRecordFile(SamplePath());
    ASSERT_TRUE(source.ok());
    RecordList records;
    DiscardLog log;
    ASSERT_TRUE(LoadImageRecords(out, "", records, log).ok());
    EXPECT_TRUE(Contains(info.out, "Records: " + std::to_string(records.size()) + "\n"));
    std::map<std::uint32_t, std::uint8_t> image;
    for (const TLDane& record : records) {
        const Text plain = DescrambleRecord(record);
        EXPECT_LE(plain.size(), 48u + 5u);
        for (std::size_t i = 4; i + 1 < plain.size(); ++i)
            image[record.address + i - 4] = ByteAt(plain, i);
    }
    std::size_t compared = 0;
    for (const SRecordData& line : source.records) {
        for (std::size_t i = 0; i < line.data.size(); ++i, ++compared) {
            const std::uint32_t address = line.address + static_cast<std::uint32_t>(i);
            const bool serialByte = address >= 0xEFAB && address < 0xEFAF;
            if (!serialByte) {
                EXPECT_EQ(image.at(address), ByteAt(line.data, i)) << std::hex << address;
            }
        }
    }
    EXPECT_EQ(compared, image.size());
}

TEST(ImageTool, PacksNetworkModuleImages) {
    TempDir dir;
    const std::string out = (dir / "net.bin").string();
    ASSERT_EQ(RunTool({"pack", "--type", "15", "--version", "2.0", SamplePath(), out}).code, 0);
    const ToolRun info = RunTool({"info", out});
    ASSERT_EQ(info.code, 0) << info.err;
    EXPECT_TRUE(Contains(info.out, "Record format: network module\n"));
    EXPECT_FALSE(Contains(info.out, "Serial number"));
}

TEST(ImageTool, RejectsBadImagesWithTheLoaderMessage) {
    TempDir dir;
    const std::vector<TestRecord> input = {{0x1000, PatternData(10)}, {0x2000, PatternData(10)}};
    Text image = BuildTestImage(1, input);
    image.back() = AsChar(ByteAt(image, image.size() - 1) ^ 0xFF);
    const std::string path = (dir / "bad.bin").string();
    WriteFile(path, image);
    const ToolRun damaged = RunTool({"info", path});
    EXPECT_EQ(damaged.code, 1);
    EXPECT_EQ(damaged.err, "tarnik-image: Damaged file " + path + "  [1]\n");
    EXPECT_TRUE(Contains(damaged.out, "[1] address 2000, length 15, checksum wrong"));

    WriteFile(path, image.substr(0, 20));
    EXPECT_EQ(RunTool({"info", path}).err, "tarnik-image: Indicated file is not correct \n");
    EXPECT_EQ(RunTool({"info", (dir / "none").string()}).code, 1);
}

TEST(ImageTool, ArgumentAndInputErrors) {
    TempDir dir;
    const std::string out = (dir / "x.bin").string();
    EXPECT_EQ(RunTool({}).code, 2);
    EXPECT_EQ(RunTool({"pack", "--type", "19", "--version", "1", SamplePath(), out}).code, 2);
    EXPECT_EQ(RunTool({"pack", "--type", "1", SamplePath(), out}).code, 2);
    EXPECT_EQ(RunTool({"pack", "--type", "4", "--version", "1", "--record-size", "256",
                       SamplePath(), out})
                  .code,
              2);
    EXPECT_EQ(
        RunTool({"pack", "--type", "1", "--version", "1", "--serial", "12345", SamplePath(), out})
            .code,
        2);
    EXPECT_EQ(RunTool({"pack", "--type", "9", "--version", "1", "--serial", "12345678",
                       SamplePath(), out})
                  .code,
              2);

    const std::string bad = (dir / "bad.s19").string();
    WriteFile(bad, "S107100001020304DE\nS107100001020304DF\n");
    const ToolRun run = RunTool({"pack", "--type", "1", "--version", "1", bad, out});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "tarnik-image: " + bad + ":2: checksum wrong\n");

    // A file of another kind stops after a few lines and a count, not one line per line.
    std::string lines;
    for (int i = 0; i < 1000; ++i)
        lines += "\x7f"
                 "ELF\x02\n";
    WriteFile(bad, lines);
    const ToolRun binary = RunTool({"pack", "--type", "1", "--version", "1", bad, out});
    EXPECT_EQ(binary.code, 1);
    EXPECT_TRUE(Contains(binary.err, "tarnik-image: " + bad + ": 995 more errors not shown"))
        << binary.err;
    EXPECT_LE(std::count(binary.err.begin(), binary.err.end(), '\n'), 6);

    // The serial record must hold the number within its data.
    WriteFile(bad, "S108EFA0010203040559\n");
    EXPECT_EQ(
        RunTool({"pack", "--type", "1", "--version", "1", "--serial", "00000001", bad, out}).code,
        1);
}
