#include "image/image_file.h"
#include "image/image_writer.h"
#include "support/image_builder.h"
#include "support/temp_dir.h"
#include "tools/hexcodec.h"
#include "tools/scrambler.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace tarnik;
using namespace tarnik::testing;

namespace {

class RecordingLog : public LogSink {
public:
    void LogLine(const Text& line) override { lines.push_back(line); }
    std::vector<Text> lines;
};

Text Descrambled(const Text& stored, std::uint16_t key) {
    Text plain;
    UnscrambleText(stored, 1, plain, key);
    return plain;
}

std::uint8_t Sum(const Text& bytes, std::size_t first, std::size_t last) {
    std::uint8_t sum = 0;
    for (std::size_t i = first; i <= last; ++i)
        sum = static_cast<std::uint8_t>(sum + ByteAt(bytes, i));
    return sum;
}

class ImageReader : public ::testing::Test {
protected:
    std::string Write(int type, const std::vector<TestRecord>& records) {
        return WriteTestImage(dir / "image.bin", type, records);
    }
    std::string WriteBytes(const Text& bytes) {
        WriteFile(dir / "image.bin", bytes);
        return (dir / "image.bin").string();
    }
    ImageLoadResult Load(const std::string& path, const Text& serial = "") {
        return LoadImageRecords(path, serial, records, log);
    }

    TempDir dir;
    RecordList records;
    RecordingLog log;
};

const std::vector<TestRecord> kThreeRecords = {
    {0x1000, PatternData(32, 1)}, {0x1020, PatternData(16, 50)}, {0x2000, PatternData(3, 90)}};

} // namespace

TEST_F(ImageReader, HeaderFieldsAreTrimmedAndTypeIsHex) {
    const auto path = Write(11, {});
    const ImageLoadResult result = ReadImageHeader(path);
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(result.header->version, "1.05");
    EXPECT_EQ(result.header->dateText, "1700000000");
    EXPECT_EQ(result.header->dateSeconds, 1700000000);
    EXPECT_EQ(result.header->typeText, "0B");
    EXPECT_EQ(result.header->unitType, 11);
    EXPECT_EQ(result.header->fileKey, kTestFileKey);
    EXPECT_EQ(result.header->block.size(), kHeaderSize);

    // A blank instead of the leading zero gives the same type.
    WriteBytes(BuildTestHeader({" 2.10 ", " 42 ", " B", "spare"}));
    const ImageLoadResult blank = ReadImageHeader(path);
    ASSERT_TRUE(blank.ok()) << blank.message;
    EXPECT_EQ(blank.header->typeText, "B");
    EXPECT_EQ(blank.header->unitType, 11);
    EXPECT_EQ(blank.header->version, "2.10");
    EXPECT_EQ(blank.header->dateSeconds, 42);
}

TEST_F(ImageReader, HeaderFailuresCarryTheUserTexts) {
    const ImageLoadResult empty = ReadImageHeader("");
    EXPECT_EQ(empty.status, ImageLoadStatus::FileOpenError);
    EXPECT_EQ(empty.message, "File opening error ");

    const std::string missing = (dir / "none.bin").string();
    const ImageLoadResult absent = ReadImageHeader(missing);
    EXPECT_EQ(absent.status, ImageLoadStatus::FileOpenError);
    EXPECT_EQ(absent.message, "File opening error " + missing);
    EXPECT_EQ(ReadImageHeader(dir.path().string()).status, ImageLoadStatus::FileOpenError);

    const Text good = BuildTestImage(1, {});
    for (const Text& bad : {good.substr(0, 59), Text(), Text(60, '\0')}) {
        const ImageLoadResult r = ReadImageHeader(WriteBytes(bad));
        EXPECT_EQ(r.status, ImageLoadStatus::HeaderNotCorrect) << bad.size();
        EXPECT_EQ(r.message, "Indicated file is not correct ");
        EXPECT_FALSE(r.header);
    }
    Text wrongSum = good;
    wrongSum[kRecordsOffset - 1] = AsChar(ByteAt(wrongSum, kRecordsOffset - 1) ^ 0x01);
    EXPECT_EQ(ReadImageHeader(WriteBytes(wrongSum)).status, ImageLoadStatus::HeaderNotCorrect);

    const ImageLoadResult date =
        ReadImageHeader(WriteBytes(BuildTestHeader({"1", "17x0", "01", ""})));
    EXPECT_EQ(date.status, ImageLoadStatus::DateNotNumber);
    EXPECT_EQ(date.message, "'17x0' is not a valid integer value");
    EXPECT_EQ(ReadImageHeader(WriteBytes(BuildTestHeader({"1", "", "01", ""}))).message,
              "'' is not a valid integer value");

    for (const char* type : {"13", "FF", "1F"}) {
        const ImageLoadResult r =
            ReadImageHeader(WriteBytes(BuildTestHeader({"1", "5", type, ""})));
        EXPECT_EQ(r.status, ImageLoadStatus::UnknownType) << type;
        EXPECT_EQ(r.message, "Tarnik v2.01A_EN   Unknown type of unit");
        ASSERT_TRUE(r.header);
        EXPECT_EQ(r.header->unitType, HexToInt(type));
    }
}

TEST_F(ImageReader, S19RecordsKeepTheStoredBytesAndGetVerificationTexts) {
    const auto path = Write(1, kThreeRecords);
    const Text file = ReadFile(path);
    std::vector<int> counters;
    const ImageLoadResult result =
        LoadImageRecords(path, "", records, log, [&](int counter) { counters.push_back(counter); });
    ASSERT_TRUE(result.ok()) << result.message;
    EXPECT_EQ(counters, (std::vector<int>{0, 1, 2, 3}));
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        const TLDane& r = records[i];
        const std::size_t length = kThreeRecords[i].data.size() + 5;
        EXPECT_EQ(r.address, kThreeRecords[i].address);
        EXPECT_EQ(r.key, TestRecordKey(i));
        EXPECT_EQ(r.length, length);
        EXPECT_EQ(r.programmingText, file.substr(S19RecordOffset(kThreeRecords, i), length));
        const Text plain = Descrambled(r.programmingText, r.key);
        EXPECT_EQ(plain, PlainS19Record(r.address, kThreeRecords[i].data));
        EXPECT_TRUE(
            std::equal(plain.begin(), plain.end(), r.dataArea.begin(),
                       [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }));

        const Text verify = Descrambled(r.verificationText, r.key);
        ASSERT_EQ(verify.size(), length);
        EXPECT_EQ(ByteAt(verify, 0), 0x13);
        EXPECT_EQ(verify.substr(1, length - 2), plain.substr(1, length - 2));
        EXPECT_EQ(ByteAt(verify, length - 1), Sum(verify, 0, length - 2));
    }
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(ImageReader, NetworkRecordsAreLoggedAsHexDumps) {
    const std::vector<TestRecord> input = {
        {0x0102, "AB"}, {0xC000, ""}, {0x0200, PatternData(255)}};
    const auto path = Write(9, input);
    ASSERT_TRUE(Load(path).ok());
    ASSERT_EQ(records.size(), 3u);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[0], "11 00 02 00 01 02 41 42 78 ");
    for (std::size_t i = 0; i < input.size(); ++i) {
        EXPECT_EQ(records[i].address, input[i].address);
        EXPECT_EQ(records[i].length, input[i].data.size() + 7);
        EXPECT_TRUE(records[i].verificationText.empty());
        EXPECT_EQ(log.lines[i], BytesToHexList(DescrambleRecord(records[i])));
    }
}

TEST_F(ImageReader, CountByteZeroMeans256DataBytes) {
    const auto path = Write(1, {{0x4000, PatternData(256, 7)}});
    ASSERT_TRUE(Load(path).ok());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].length, 261);
    EXPECT_EQ(ByteAt(DescrambleRecord(records[0]), 3), 0);
}

TEST_F(ImageReader, EmptyRecordAreaLoadsAnEmptyList) {
    records.push_back({});
    ASSERT_TRUE(Load(Write(2, {})).ok());
    EXPECT_TRUE(records.empty());
}

TEST_F(ImageReader, DamagedRecordsNameTheFileAndTheIndex) {
    const auto path = Write(1, kThreeRecords);
    const Text good = ReadFile(path);
    // Last stored byte of the third record: its checksum.
    Text bad = good;
    bad.back() = AsChar(ByteAt(bad, bad.size() - 1) + 1);
    WriteBytes(bad);
    ImageLoadResult result = Load(path);
    EXPECT_EQ(result.status, ImageLoadStatus::DamagedRecord);
    EXPECT_EQ(result.failedRecord, 2);
    EXPECT_EQ(result.message, "Damaged file " + path + "  [2]");
    EXPECT_EQ(records.size(), 3u); // the damaged record stays in the list

    // Truncated last record, and a lone key byte after the last record.
    for (const Text& cut : {good.substr(0, good.size() - 1), good + "\x01"}) {
        WriteBytes(cut);
        result = Load(path);
        EXPECT_EQ(result.status, ImageLoadStatus::DamagedRecord) << cut.size();
        EXPECT_EQ(result.failedRecord, cut.size() < good.size() ? 2 : 3);
        EXPECT_EQ(result.message,
                  "Damaged file " + path + "  [" + std::to_string(result.failedRecord) + "]");
    }
    // A header failure leaves the list alone.
    records.assign(2, TLDane{});
    WriteBytes(good.substr(0, 30));
    EXPECT_EQ(Load(path).status, ImageLoadStatus::HeaderNotCorrect);
    EXPECT_EQ(records.size(), 2u);
}

TEST_F(ImageReader, SerialNumberGoesIntoTheProgrammingAndVerificationTexts) {
    const std::vector<TestRecord> input = {{0x1000, PatternData(20)}, SerialRecord()};
    const auto path = Write(2, input);
    ASSERT_TRUE(Load(path, "0012AB34").ok());
    ASSERT_EQ(records.size(), 2u);
    const TLDane& serial = records[1];
    const Text stored = ReadFile(path).substr(S19RecordOffset(input, 1), serial.length);
    EXPECT_NE(serial.programmingText, stored);
    EXPECT_EQ(records[0].programmingText, ReadFile(path).substr(S19RecordOffset(input, 0), 25));

    const Text original = Descrambled(stored, serial.key);
    const Text sent = Descrambled(serial.programmingText, serial.key);
    const std::size_t last = sent.size() - 1;
    EXPECT_EQ(sent.substr(15, 4), Text("\x00\x12\xAB\x34", 4));
    EXPECT_EQ(sent.substr(0, 15), original.substr(0, 15));
    EXPECT_EQ(sent.substr(19, last - 19), original.substr(19, last - 19));
    EXPECT_EQ(ByteAt(sent, last), Sum(sent, 0, last - 1));

    // The unit verifies what it was sent, serial number included.
    const Text verify = Descrambled(serial.verificationText, serial.key);
    EXPECT_EQ(ByteAt(verify, 0), 0x13);
    EXPECT_EQ(verify.substr(1, last - 1), sent.substr(1, last - 1));
    EXPECT_EQ(ByteAt(verify, last), Sum(verify, 0, last - 1));
    EXPECT_EQ(serial.dataArea[15], 0x00);
    EXPECT_EQ(serial.dataArea[17], 0xAB);

    // Fewer than 8 characters: nothing is inserted.
    ASSERT_TRUE(Load(path, "0012AB3").ok());
    EXPECT_EQ(records[1].programmingText, stored);
}

TEST_F(ImageReader, SerialRecordTooShortForTheNumberIsDamaged) {
    const auto path = Write(2, {{0x1000, PatternData(8)}, SerialRecord("", 14)});
    const ImageLoadResult result = Load(path, "00000001");
    EXPECT_EQ(result.status, ImageLoadStatus::DamagedRecord);
    EXPECT_EQ(result.message, "Damaged file " + path + "  [1]");
    // Without a serial number to insert the same image is fine.
    EXPECT_TRUE(Load(path).ok());
    // 15 data bytes (20 bytes in all) are just enough.
    EXPECT_TRUE(Load(Write(2, {SerialRecord("\x01\x02\x03\x04", 15)}), "01020304").ok());
}

TEST_F(ImageReader, SingleRecordReadersReportTruncation) {
    const Text plain = PlainS19Record(0x1234, "xyz");
    const Text stored = EncodeRecord(plain, 0x7777).substr(2);
    for (std::size_t cut = 0; cut < stored.size(); ++cut) {
        std::istringstream in(stored.substr(0, cut));
        RecordList list;
        EXPECT_FALSE(ReadImageRecordS19(in, 0x7777, "", list)) << cut;
        EXPECT_TRUE(list.empty());
    }
    std::istringstream whole(stored);
    RecordList list;
    EXPECT_TRUE(ReadImageRecordS19(whole, 0x7777, "", list));
    EXPECT_EQ(list.at(0).address, 0x1234);

    const Text net = EncodeRecord(PlainNetRecord(0x5678, "q"), 0x0101).substr(2);
    std::istringstream netIn(net);
    EXPECT_TRUE(ReadImageRecordNet(netIn, 0x0101, list, log));
    std::istringstream shortIn(net.substr(0, net.size() - 1));
    EXPECT_FALSE(ReadImageRecordNet(shortIn, 0x0101, list, log));
    EXPECT_EQ(list.size(), 2u);
}

TEST_F(ImageReader, SerialLookupLogsEveryRecordTakesTheLastMatchAndStopsQuietlyAtACut) {
    const std::vector<TestRecord> input = {
        SerialRecord("\x11\x22\x33\x44"), {0x1000, "\x05\x06"}, SerialRecord("\xDE\xAD\xBE\xEF")};
    const auto path = Write(2, input);
    EXPECT_EQ(ReadSerialFromImage(kSerialRecordAddress, path, log), "DEADBEEF");
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[1], "1000 11 10 00 02 05 06 2E ");
    EXPECT_EQ(log.lines[0].substr(0, 17), "EFA0 11 EF A0 18 ");

    log.lines.clear();
    EXPECT_EQ(ReadSerialFromImage(0x2000, path, log), "");
    EXPECT_EQ(log.lines.size(), 3u);

    // A truncated image ends the lookup quietly: a record cut in its body is still logged as
    // far as it goes, and its serial number counts when the cut comes after it.
    const Text file = ReadFile(path);
    WriteBytes(file.substr(0, file.size() - 3));
    log.lines.clear();
    EXPECT_EQ(ReadSerialFromImage(kSerialRecordAddress, path, log), "DEADBEEF");
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[2].substr(0, 17), "EFA0 11 EF A0 18 ");
    EXPECT_EQ(log.lines[2].size(), log.lines[0].size() - 3 * 3); // three bytes short

    // Cut inside the last record's head: nothing of it can be decoded.
    const std::size_t lastRecord = file.size() - (2 + 4 + 24 + 1);
    WriteBytes(file.substr(0, lastRecord + 2 + 2));
    log.lines.clear();
    EXPECT_EQ(ReadSerialFromImage(kSerialRecordAddress, path, log), "11223344");
    EXPECT_EQ(log.lines.size(), 2u);

    log.lines.clear();
    EXPECT_EQ(ReadSerialFromImage(kSerialRecordAddress, (dir / "none").string(), log), "");
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(ImageReader, SerialLookupTakesBytes15To18OfAShortRecord) {
    // 14 data bytes: L = 19, so byte 18 is the record checksum and is read with the rest.
    const TestRecord shortRecord = SerialRecord("", 14);
    const Text plain = PlainS19Record(kSerialRecordAddress, shortRecord.data);
    ASSERT_EQ(plain.size(), 19u);
    Text expected;
    BytesToHex(AsBytes(plain.substr(15, 4)), 3, expected);
    EXPECT_EQ(ReadSerialFromImage(kSerialRecordAddress, Write(2, {shortRecord}), log), expected);

    // 13 data bytes: the four bytes are not all there, nothing is taken.
    log.lines.clear();
    EXPECT_EQ(ReadSerialFromImage(kSerialRecordAddress, Write(2, {SerialRecord("", 13)}), log), "");
    EXPECT_EQ(log.lines.size(), 1u);
}

TEST(ImageDate, FormatsTheSecondsWithoutTimeZone) {
    EXPECT_EQ(FormatImageDate(0), "01/01/70 00:00:00");
    EXPECT_EQ(FormatImageDate(kTestDate), "11/14/23 22:13:20");
}
