#include "support/image_builder.h"

#include "image/image_file.h"
#include "programmers/answer_match.h"
#include "programmers/bootloader_frames.h"
#include "support/temp_dir.h"

namespace tarnik::testing {

Text PatternData(std::size_t size, std::uint8_t seed) {
    Text data;
    for (std::size_t i = 0; i < size; ++i)
        data.push_back(AsChar(static_cast<std::uint8_t>(seed + i)));
    return data;
}

TestRecord SerialRecord(const Text& serial, std::size_t dataSize) {
    TestRecord record{kSerialRecordAddress, PatternData(dataSize, 0xA0)};
    if (dataSize >= kSerialDataOffset + kSerialDataSize)
        record.data.replace(kSerialDataOffset, kSerialDataSize, serial);
    return record;
}

std::uint16_t TestRecordKey(std::size_t index) {
    return static_cast<std::uint16_t>(0x4D2F + index * 0x1111);
}

ImageSpec TestImageSpec(int unitType, const std::vector<TestRecord>& records) {
    ImageSpec spec;
    spec.unitType = unitType;
    spec.version = kTestVersion;
    spec.dateSeconds = kTestDate;
    spec.fileKey = kTestFileKey;
    for (std::size_t i = 0; i < records.size(); ++i)
        spec.records.push_back({records[i].address, records[i].data, TestRecordKey(i)});
    return spec;
}

Text BuildTestImage(int unitType, const std::vector<TestRecord>& records) {
    return BuildImage(TestImageSpec(unitType, records));
}

std::string WriteTestImage(const std::filesystem::path& path, int unitType,
                           const std::vector<TestRecord>& records) {
    WriteFile(path, BuildTestImage(unitType, records));
    return path.string();
}

Text BuildTestHeader(const ImageHeaderFields& fields, std::uint16_t fileKey) {
    return EncodeHeader(BuildHeaderBlock(fields), fileKey);
}

int RecordALateCopyWouldAcknowledge(const RecordList& records, std::uint8_t address) {
    class Quiet final : public LogSink {
        void LogLine(const Text&) override {}
    } quiet;
    for (std::size_t k = 1; k < records.size(); ++k) {
        const Text copy = ScrambledAnswer(address, "\x12", records[k - 1].key);
        const Text expected =
            ScrambledAnswer(address, k + 1 == records.size() ? "\x01" : "\x12", records[k].key);
        if (copy != expected && MatchAnswer(expected, copy, quiet)) return static_cast<int>(k);
    }
    return -1;
}

std::size_t S19RecordOffset(const std::vector<TestRecord>& records, std::size_t index) {
    std::size_t offset = kRecordsOffset;
    for (std::size_t i = 0; i < index; ++i)
        offset += 2 + records[i].data.size() + 5;
    return offset + 2;
}

std::string WritePatternImage(const std::filesystem::path& path, int unitType, std::size_t records,
                              bool withSerialRecord) {
    std::vector<TestRecord> list;
    for (std::size_t i = 0; i < records; ++i)
        list.push_back({static_cast<std::uint16_t>(0x4000 + 0x40 * i),
                        PatternData(64, static_cast<std::uint8_t>(i))});
    if (withSerialRecord) list.push_back(SerialRecord());
    return WriteTestImage(path, unitType, list);
}

} // namespace tarnik::testing
