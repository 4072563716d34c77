#include "image/srecord.h"

#include "tools/hexcodec.h"

#include <cctype>
#include <fstream>
#include <optional>

namespace tarnik {

namespace {

// Bytes of the hex pairs after "Sn"; nullopt when a character is not a hex digit or the
// count of digits is odd.
std::optional<Text> HexPairs(const std::string& digits) {
    if (digits.size() % 2 != 0) return std::nullopt;
    Text bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = HexDigitValue(digits[i]);
        const int low = HexDigitValue(digits[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(AsChar(static_cast<std::uint8_t>(high * 16 + low)));
    }
    return bytes;
}

// Width of the address field of each record type; 0 for a type that does not exist.
std::size_t AddressWidth(char type) {
    switch (type) {
    case '0':
    case '1':
    case '5':
    case '9':
        return 2;
    case '2':
    case '6':
    case '8':
        return 3;
    case '3':
    case '7':
        return 4;
    default:
        return 0;
    }
}

std::string TrimLine(const std::string& line) {
    std::size_t first = 0;
    std::size_t last = line.size();
    while (first < last && std::isspace(static_cast<unsigned char>(line[first])))
        ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(line[last - 1])))
        --last;
    return line.substr(first, last - first);
}

// Checks one line; returns the error text, or empty text for a good line (then `data` is set
// for a data record).
std::string ParseLine(const std::string& line, std::optional<SRecordData>& data) {
    if (line.size() < 2 || (line[0] != 'S' && line[0] != 's')) return "not an S-record";
    const char type = line[1];
    const std::size_t addressWidth = AddressWidth(type);
    if (addressWidth == 0) return std::string("unknown record type S") + type;
    const std::optional<Text> bytes = HexPairs(line.substr(2));
    if (!bytes || bytes->empty()) return "not a sequence of hex digit pairs";
    const std::size_t count = ByteAt(*bytes, 0);
    if (count != bytes->size() - 1) return "byte count does not match the length of the line";
    if (count < addressWidth + 1) return "record too short for its address";
    std::uint8_t sum = 0;
    for (char c : *bytes)
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    if (sum != 0xFF) return "checksum wrong";
    if (type >= '1' && type <= '3') {
        SRecordData record;
        for (std::size_t i = 1; i <= addressWidth; ++i)
            record.address = (record.address << 8) | ByteAt(*bytes, i);
        record.data = bytes->substr(1 + addressWidth, count - addressWidth - 1);
        data = std::move(record);
    }
    return {};
}

} // namespace

SRecordFile ParseSRecords(std::istream& in) {
    SRecordFile file;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string trimmed = TrimLine(line);
        if (trimmed.empty()) continue;
        std::optional<SRecordData> data;
        std::string error = ParseLine(trimmed, data);
        if (!error.empty()) {
            file.errors.push_back({number, std::move(error)});
        } else if (data) {
            data->line = number;
            file.records.push_back(std::move(*data));
        }
    }
    if (in.bad()) file.errors.push_back({0, "read error"});
    return file;
}

SRecordFile ReadSRecordFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        SRecordFile file;
        file.errors.push_back({0, "cannot open " + path});
        return file;
    }
    return ParseSRecords(in);
}

} // namespace tarnik
