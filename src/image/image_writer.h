#pragma once
// Builds firmware image files: file key, scrambled header, then the records, each scrambled
// from its first byte with its own key.
//
// Record layouts, descrambled (L bytes in all):
//   S19 format:     [0] command, [1] address high, [2] address low, [3] count n (0 = 256),
//                   n data bytes, checksum = sum of bytes 0..L-2; L = n + 5.
//   network format: [0] command, [1] 0x00, [2] m, [3] 0x00, [4] address high,
//                   [5] address low, m data bytes, check byte making the sum of
//                   bytes 2..L-1 zero; L = m + 7.
// The loader reads only the count and address bytes and the checksums; the command byte and
// the zero bytes are what this writer puts there.
#include "tools/text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnik {

// Command byte of a programming record.
constexpr std::uint8_t kProgramCommand = 0x11;
// The serial number's place in the data of the record at 0xEFA0 (record bytes 15..18).
constexpr std::size_t kSerialDataOffset = 11;
constexpr std::size_t kSerialDataSize = 4;
constexpr std::size_t kMaxS19RecordData = 256;
constexpr std::size_t kMaxNetRecordData = 255;

// Header fields as stored: each text is placed at the start of its positions and padded with
// blanks (version 1..10, date 11..25, type 26..27, spare 28..57).
struct ImageHeaderFields {
    Text version;
    Text date;
    Text type;
    Text spare;
};

// Fields of a normal header: the type as two upper-case hex digits, the date as decimal text.
ImageHeaderFields MakeHeaderFields(int unitType, const Text& version, std::int64_t dateSeconds);
// The 58 descrambled header bytes ending in their checksum; std::invalid_argument when a
// field does not fit its positions.
Text BuildHeaderBlock(const ImageHeaderFields& fields);
// The file key (low byte first) followed by the header block scrambled with it.
Text EncodeHeader(const Text& headerBlock, std::uint16_t fileKey);

// Descrambled records with their checksums; std::invalid_argument when the data size does
// not fit the format (1..256 bytes for S19, 0..255 for the network format).
Text PlainS19Record(std::uint16_t address, const Text& data,
                    std::uint8_t command = kProgramCommand);
Text PlainNetRecord(std::uint16_t address, const Text& data,
                    std::uint8_t command = kProgramCommand);
// The record key (low byte first) followed by the record scrambled with it.
Text EncodeRecord(const Text& plainRecord, std::uint16_t key);

struct ImageRecordSpec {
    std::uint16_t address = 0;
    Text data;
    std::uint16_t key = 0;
};

struct ImageSpec {
    int unitType = 1;
    Text version = "1.00";
    std::int64_t dateSeconds = 0;
    std::uint16_t fileKey = 0;
    std::vector<ImageRecordSpec> records;
};

// The whole image; the record format follows the unit type (network format for 4, 9, 15).
Text BuildImage(const ImageSpec& spec);
// Writes the bytes to a file; std::runtime_error when it cannot be written.
void WriteImageFile(const std::string& path, const Text& image);

} // namespace tarnik
