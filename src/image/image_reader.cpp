#include "image/image_file.h"

#include "tools/hexcodec.h"
#include "tools/scrambler.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace tarnik {

namespace {

constexpr std::size_t kS19HeadSize = 4;
constexpr std::size_t kNetHeadSize = 3;
constexpr std::size_t kSerialOffset = 15;
constexpr std::size_t kSerialSize = 4;
// The serial number must lie in the data bytes, before the record checksum.
constexpr std::size_t kMinSerialRecordLength = kSerialOffset + kSerialSize + 1;
// Reading needs only the four bytes to be there (the last may then be the checksum).
constexpr std::size_t kMinReadableSerialLength = kSerialOffset + kSerialSize;

// Reads up to n bytes; fewer at the end of the file or on a read error.
Text ReadUpTo(std::istream& in, std::size_t n) {
    Text bytes(n, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(n));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::uint16_t KeyFromBytes(const Text& bytes) {
    return static_cast<std::uint16_t>(ByteAt(bytes, 0) | (ByteAt(bytes, 1) << 8));
}

Text Descramble(const Text& stored, std::uint16_t key) {
    Text plain;
    UnscrambleText(stored, 1, plain, key);
    return plain;
}

std::uint8_t SumOf(const Text& bytes, std::size_t first, std::size_t last) {
    std::uint8_t sum = 0;
    for (std::size_t i = first; i <= last && i < bytes.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + ByteAt(bytes, i));
    return sum;
}

// Header texts are padded with blanks (or anything up to the blank) on either side.
Text TrimBlanks(const Text& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && ByteAt(text, first) <= ' ')
        ++first;
    while (last > first && ByteAt(text, last - 1) <= ' ')
        --last;
    return text.substr(first, last - first);
}

bool ParseDecimal(const Text& text, std::int64_t& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (magnitude > (static_cast<std::uint64_t>(INT64_MAX) - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

ImageLoadResult Failure(ImageLoadStatus status, Text message) {
    ImageLoadResult result;
    result.status = status;
    result.message = std::move(message);
    return result;
}

ImageHeader DecodeHeader(std::uint16_t fileKey, const Text& stored) {
    ImageHeader header;
    header.fileKey = fileKey;
    header.block = Descramble(stored, fileKey);
    header.version = TrimBlanks(header.block.substr(0, 10));
    header.dateText = TrimBlanks(header.block.substr(10, 15));
    header.typeText = TrimBlanks(header.block.substr(25, 2));
    header.unitType = HexToInt(header.typeText);
    header.dateValid = ParseDecimal(header.dateText, header.dateSeconds);
    return header;
}

bool HeaderChecksumOk(const Text& block) {
    return SumOf(block, 0, kHeaderSize - 2) == ByteAt(block, kHeaderSize - 1);
}

// Opens the file and checks its header; on success `in` stands at the first record.
ImageLoadResult OpenImage(const std::string& path, std::ifstream& in) {
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error))
        return Failure(ImageLoadStatus::FileOpenError, kFileOpeningErrorText + path);
    in.open(path, std::ios::binary);
    if (!in) return Failure(ImageLoadStatus::FileOpenError, kFileOpeningErrorText + path);

    const Text keyBytes = ReadUpTo(in, kFileKeySize);
    const Text stored = ReadUpTo(in, kHeaderSize);
    if (keyBytes.size() < kFileKeySize || stored.size() < kHeaderSize)
        return Failure(ImageLoadStatus::HeaderNotCorrect, kHeaderNotCorrectText);
    ImageHeader header = DecodeHeader(KeyFromBytes(keyBytes), stored);
    if (!HeaderChecksumOk(header.block))
        return Failure(ImageLoadStatus::HeaderNotCorrect, kHeaderNotCorrectText);

    ImageLoadResult result;
    if (!header.dateValid) {
        result = Failure(ImageLoadStatus::DateNotNumber,
                         "'" + header.dateText + "' is not a valid integer value");
    } else if (!IsKnownUnitType(header.unitType)) {
        result = Failure(ImageLoadStatus::UnknownType, kUnknownUnitTypeCaption);
    } else {
        result.status = ImageLoadStatus::Ok;
    }
    result.header = std::move(header);
    return result;
}

Text DamagedFileMessage(const std::string& path, int index) {
    return kDamagedFileText + path + "  [" + std::to_string(index) + "]";
}

// The record as the unit checks it: command 0x13 and a checksum over the changed record.
Text VerificationText(Text plain, std::uint16_t key) {
    const std::size_t last = plain.size() - 1;
    plain[0] = AsChar(kVerifyCommand);
    plain[last] = AsChar(static_cast<std::uint8_t>(kVerifyCommand + SumOf(plain, 1, last - 1)));
    Text scrambled;
    ScrambleText(plain, 1, scrambled, key);
    return scrambled;
}

Text WithSerialNumber(Text plain, const Text& serialText) {
    const Text serial = HexToBytes(serialText, false);
    plain.replace(kSerialOffset, kSerialSize, serial);
    const std::size_t last = plain.size() - 1;
    plain[last] = AsChar(SumOf(plain, 0, last - 1));
    return plain;
}

void FillDataArea(TLDane& record, const Text& plain) {
    const std::size_t n = std::min(plain.size(), record.dataArea.size());
    for (std::size_t i = 0; i < n; ++i)
        record.dataArea[i] = ByteAt(plain, i);
}

// Reads the head of a record, then the rest whose size the descrambled head gives.
bool ReadStoredRecord(std::istream& in, std::uint16_t key, std::size_t headSize,
                      std::size_t (*restSize)(const Text& head), Text& stored) {
    stored = ReadUpTo(in, headSize);
    if (stored.size() < headSize) return false;
    const std::size_t rest = restSize(Descramble(stored, key));
    const Text body = ReadUpTo(in, rest);
    stored += body;
    return body.size() == rest;
}

std::size_t S19BodySize(const Text& head) {
    const std::size_t n = ByteAt(head, 3) == 0 ? 256 : ByteAt(head, 3);
    return n + 1;
}

std::size_t NetBodySize(const Text& head) {
    return ByteAt(head, 2) + std::size_t{4};
}

std::uint16_t AddressAt(const Text& plain, std::size_t high) {
    return static_cast<std::uint16_t>(ByteAt(plain, high) * 256 + ByteAt(plain, high + 1));
}

TLDane MakeRecord(std::uint16_t address, std::uint16_t key, const Text& stored) {
    TLDane record;
    record.address = address;
    record.key = key;
    record.length = static_cast<std::uint16_t>(stored.size());
    record.programmingText = stored;
    return record;
}

Text HexOfBytes(const Text& bytes) {
    Text hex;
    BytesToHex(AsBytes(bytes), static_cast<int>(bytes.size()) - 1, hex);
    return hex;
}

} // namespace

bool S19RecordChecksumOk(const Text& plain) {
    return SumByteOk(plain);
}

bool NetRecordChecksumOk(const Text& plain) {
    return plain.size() > 2 && SumOf(plain, 2, plain.size() - 1) == 0;
}

Text DescrambleRecord(const TLDane& record) {
    return Descramble(record.programmingText, record.key);
}

ImageLoadResult ReadImageHeader(const std::string& path) {
    std::ifstream in;
    return OpenImage(path, in);
}

bool ReadImageRecordS19(std::istream& in, std::uint16_t key, const Text& serialText,
                        RecordList& records) {
    Text stored;
    if (!ReadStoredRecord(in, key, kS19HeadSize, S19BodySize, stored)) return false;
    const Text plain = Descramble(stored, key);
    TLDane record = MakeRecord(AddressAt(plain, 1), key, stored);

    // The serial number goes into the programming text only; a record too short to hold it
    // is refused rather than having its checksum overwritten.
    Text sent = plain;
    bool serialOk = true;
    if (serialText.size() == kSerialDigits && record.address == kSerialRecordAddress) {
        serialOk = plain.size() >= kMinSerialRecordLength;
        if (serialOk) {
            sent = WithSerialNumber(plain, serialText);
            ScrambleText(sent, 1, record.programmingText, key);
        }
    }
    record.verificationText = VerificationText(sent, key);
    FillDataArea(record, sent);
    records.push_back(std::move(record));
    return serialOk && S19RecordChecksumOk(plain);
}

bool ReadImageRecordNet(std::istream& in, std::uint16_t key, RecordList& records, LogSink& log) {
    Text stored;
    if (!ReadStoredRecord(in, key, kNetHeadSize, NetBodySize, stored)) return false;
    const Text plain = Descramble(stored, key);
    log.LogLine(BytesToHexList(plain));
    TLDane record = MakeRecord(AddressAt(plain, 4), key, stored);
    FillDataArea(record, plain);
    records.push_back(std::move(record));
    return NetRecordChecksumOk(plain);
}

ImageLoadResult LoadImageRecords(const std::string& path, const Text& serialText,
                                 RecordList& records, LogSink& log,
                                 const std::function<void(int recordCounter)>& beforeRecord) {
    std::ifstream in;
    ImageLoadResult result = OpenImage(path, in);
    if (!result.ok()) return result;

    records.clear();
    const bool network = IsNetworkModuleType(result.header->unitType);
    for (int counter = 0;; ++counter) {
        if (beforeRecord) beforeRecord(counter);
        const Text keyBytes = ReadUpTo(in, kFileKeySize);
        if (keyBytes.empty() && !in.bad()) break;
        // A lone key byte or an unreadable file is a damaged record like a bad checksum.
        bool recordOk = keyBytes.size() == kFileKeySize;
        if (recordOk) {
            const std::uint16_t key = KeyFromBytes(keyBytes);
            recordOk = network ? ReadImageRecordNet(in, key, records, log)
                               : ReadImageRecordS19(in, key, serialText, records);
        }
        if (!recordOk) {
            result.status = ImageLoadStatus::DamagedRecord;
            result.failedRecord = counter;
            result.message = DamagedFileMessage(path, counter);
            break;
        }
    }
    return result;
}

Text ReadSerialFromImage(std::uint16_t wanted, const std::string& path, LogSink& log) {
    Text result;
    std::ifstream in(path, std::ios::binary);
    if (!in) return result;

    // A read that comes back short ends the lookup after it; a record cut short in its body is
    // still decoded and logged as far as it goes (a truncated image still shows its last
    // record, and its serial number when the cut comes after it). Only a failing read of the
    // file is an error.
    const auto read = [&in](std::size_t n, Text& bytes) {
        bytes = ReadUpTo(in, n);
        return bytes.size() == n;
    };

    Text skipped;
    bool more = read(kRecordsOffset, skipped);
    while (more) {
        Text keyBytes, stored, body;
        if (!read(kFileKeySize, keyBytes) || !read(kS19HeadSize, stored)) break;
        const std::uint16_t key = KeyFromBytes(keyBytes);
        more = read(S19BodySize(Descramble(stored, key)), body);
        const Text plain = Descramble(stored + body, key);
        const std::uint16_t address = AddressAt(plain, 1);
        Text addressHex = IntToHexEven(address);
        addressHex.insert(0, 4 - addressHex.size(), '0');
        log.LogLine(addressHex + " " + BytesToHexList(plain));
        if (address == wanted && plain.size() >= kMinReadableSerialLength)
            result = HexOfBytes(plain.substr(kSerialOffset, kSerialSize));
    }
    if (in.bad()) log.LogLine("Errrrr");
    return result;
}

Text FormatImageDate(std::int64_t seconds) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm parts{};
#ifdef _WIN32
    const bool converted = gmtime_s(&parts, &time) == 0;
#else
    const bool converted = gmtime_r(&time, &parts) != nullptr;
#endif
    char text[128];
    if (!converted || std::strftime(text, sizeof text, "%x %X", &parts) == 0)
        return std::to_string(seconds);
    return text;
}

} // namespace tarnik
