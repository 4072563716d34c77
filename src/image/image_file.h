#pragma once
// Firmware image files: a 2-byte file key, a 58-byte scrambled header (version, compilation
// date, unit type, checksum), then scrambled records, each preceded by its 2-byte key, in
// the S19 format (main family, audio unit) or the network-module format (types 4, 9, 15).
#include "image/unit_types.h"
#include "tools/log_sink.h"
#include "tools/text.h"
#include "tools/version.h"

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

// One record of the record list.
struct TLDane {
    std::uint16_t address = 0;
    std::uint16_t key = 0;
    std::uint16_t length = 0; // L: head, data and checksum
    Text programmingText;     // the L bytes sent to the unit (scrambled with key)
    std::array<std::uint8_t, 256> dataArea{};
    Text verificationText; // S19 records only: command 0x13, scrambled with key
};

using RecordList = std::vector<TLDane>;

struct ImageHeader {
    std::uint16_t fileKey = 0;
    Text block;        // the 58 descrambled header bytes
    Text version;      // positions 1..10 without surrounding blanks
    Text dateText;     // positions 11..25 without surrounding blanks
    Text typeText;     // positions 26..27 without surrounding blanks
    int unitType = -1; // HexToInt(typeText)
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

// Failure texts of the loader, shown to the user as they are.
inline constexpr const char* kFileOpeningErrorText = "File opening error ";
inline constexpr const char* kHeaderNotCorrectText = "Indicated file is not correct ";
inline constexpr const char* kDamagedFileText = "Damaged file ";
// Window caption for an image of a unit type outside 0..18.
inline constexpr const char* kUnknownUnitTypeCaption =
    TARNIK_PROGRAM_TITLE "   Unknown type of unit";
// Command byte of a verification record (the stored records carry the programming command).
constexpr std::uint8_t kVerifyCommand = 0x13;

// Checks the file and its header: file present, header checksum, compilation date and unit
// type. Reads no records.
ImageLoadResult ReadImageHeader(const std::string& path);

// Checks the header like ReadImageHeader and then reads every record into `records` (the
// list is emptied first, once the header is known to be good). `serialText` is the serial
// number entry: with 8 characters it is inserted into the record at 0xEFA0. `beforeRecord`
// runs before each record with the number of records read so far. On a damaged record the
// records read so far, the damaged one included when it could be read in full, stay in the
// list.
ImageLoadResult LoadImageRecords(const std::string& path, const Text& serialText,
                                 RecordList& records, LogSink& log,
                                 const std::function<void(int recordCounter)>& beforeRecord = {});

// Reads one S19-format record after its key and appends it to `records`. False when the
// record is truncated, its checksum is wrong, or a serial number cannot be inserted into it.
bool ReadImageRecordS19(std::istream& in, std::uint16_t key, const Text& serialText,
                        RecordList& records);
// Reads one network-module record after its key, logs it as a hex dump line and appends it
// to `records`. False when the record is truncated or its checksum is wrong.
bool ReadImageRecordNet(std::istream& in, std::uint16_t key, RecordList& records, LogSink& log);

// The serial number (8 upper-case hex digits) of the last record at `wanted`, or empty text.
// Logs every record as "AAAA " followed by its descrambled bytes; "Errrrr" on a read error.
Text ReadSerialFromImage(std::uint16_t wanted, const std::string& path, LogSink& log);

// The L descrambled bytes of a record's programming text.
Text DescrambleRecord(const TLDane& record);
// Checksum rule of each format, applied to a descrambled record.
bool S19RecordChecksumOk(const Text& plain);
bool NetRecordChecksumOk(const Text& plain);

// The compilation date as "%x %X" of the seconds taken as they are (no time-zone conversion).
Text FormatImageDate(std::int64_t seconds);

} // namespace tarnik
