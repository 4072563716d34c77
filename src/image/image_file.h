#pragma once
// Firmware image files: a 2-byte file key, a 58-byte scrambled header (version, compilation
// date, unit type, checksum), then scrambled records, each preceded by its 2-byte key, in
// the S19 format (main family, audio unit) or the network-module format (types 4, 9, 15).
#include "tools/log_sink.h"
#include "tools/text.h"

#include <array>
#include <cstdint>
#include <functional>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace tarnik {

constexpr std::size_t kFileKeySize = 2;
constexpr std::size_t kHeaderSize = 58;
constexpr std::size_t kRecordsOffset = kFileKeySize + kHeaderSize;
constexpr std::uint16_t kSerialRecordAddress = 0xEFA0;
constexpr int kMaxUnitType = 18;

// One record of the record list.
struct TLDane {
    std::uint16_t address = 0;
    std::uint16_t key = 0;
    std::uint16_t length = 0;     // L: head, data and checksum
    Text programmingText;         // the L bytes sent to the unit (scrambled with key)
    std::array<std::uint8_t, 256> dataArea{};
    Text verificationText;        // S19 records only: command 0x13, scrambled with key
};

using RecordList = std::vector<TLDane>;

// Unit types 4, 9 and 15 use the network-module record format.
bool IsNetworkModuleType(int unitType);

struct ImageHeader {
    std::uint16_t fileKey = 0;
    Text block;          // the 58 descrambled header bytes
    Text version;        // positions 1..10 without surrounding blanks
    Text dateText;       // positions 11..25 without surrounding blanks
    Text typeText;       // positions 26..27 without surrounding blanks
    int unitType = -1;   // HexToInt(typeText)
    bool dateValid = false;
    std::int64_t dateSeconds = 0; // seconds since 1970-01-01 00:00:00, when dateValid
};

enum class ImageLoadStatus {
    Ok,
    FileOpenError,    // name empty or file missing / unreadable
    HeaderNotCorrect, // header checksum wrong (also a file shorter than the header)
    DateNotNumber,    // compilation date not a decimal integer
    UnknownType,      // unit type outside 0..18
    DamagedRecord,    // record checksum wrong, truncated or unreadable record
};

struct ImageLoadResult {
    ImageLoadStatus status = ImageLoadStatus::FileOpenError;
    std::optional<ImageHeader> header; // set once the header checksum was right
    int failedRecord = -1;             // index from 0 of the damaged record
    Text message;                      // the user-facing text of the failure
    bool ok() const { return status == ImageLoadStatus::Ok; }
};

// ... (reader and writer operations are declared below by the image module)

} // namespace tarnik
