#pragma once
// Firmware images for tests: built with the core writer, with fixed keys so a failing test
// shows the same bytes every run.
#include "image/image_file.h"
#include "image/image_writer.h"
#include "tools/text.h"

#include <cstdint>
#include <filesystem>
#include <vector>

namespace tarnik::testing {

constexpr std::uint16_t kTestFileKey = 0x1234;
constexpr std::int64_t kTestDate = 1700000000; // 2023-11-14 22:13:20
constexpr const char* kTestVersion = "1.05";

struct TestRecord {
    std::uint16_t address = 0;
    Text data;
};

// Data bytes that differ from record to record: seed, seed + 1, ...
Text PatternData(std::size_t size, std::uint8_t seed = 0);
// A record at 0xEFA0 with `dataSize` data bytes; data bytes 11..14 hold `serial` (4 bytes).
TestRecord SerialRecord(const Text& serial = "\x01\x02\x03\x04", std::size_t dataSize = 24);
// The key the builder gives record `index`.
std::uint16_t TestRecordKey(std::size_t index);

// The ImageSpec of an image with the test header and keys; tests may change it before building.
ImageSpec TestImageSpec(int unitType, const std::vector<TestRecord>& records);
// The image bytes, records in the format of the unit type.
Text BuildTestImage(int unitType, const std::vector<TestRecord>& records);
// Writes BuildTestImage to `path` and returns the path as text.
std::string WriteTestImage(const std::filesystem::path& path, int unitType,
                           const std::vector<TestRecord>& records);
// An image of `records` records of 64 pattern bytes from 0x4000 on, and the serial number
// record after them when asked.
std::string WritePatternImage(const std::filesystem::path& path, int unitType, std::size_t records,
                              bool withSerialRecord = false);

// A header with any field texts (for headers the writer would never make).
Text BuildTestHeader(const ImageHeaderFields& fields, std::uint16_t fileKey = kTestFileKey);

// The first record (from 1) of a network module's image whose expected answer the tolerant
// acknowledgment test would find in a copy of the answer to the record before it, for a unit
// at this address; -1 when there is none.
int RecordALateCopyWouldAcknowledge(const RecordList& records, std::uint8_t address);

// Offset in an image of the first stored byte of record `index` (after its key), for records
// of the S19 format with the given data sizes.
std::size_t S19RecordOffset(const std::vector<TestRecord>& records, std::size_t index);

} // namespace tarnik::testing
