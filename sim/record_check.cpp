#include "sim/record_check.h"

#include "sim/unit_codec.h"

#include <cstdio>

namespace tarnik::sim {

namespace {

constexpr std::size_t kSerialFirst = 15;
constexpr std::size_t kSerialLast = 18;

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// Blanks out the bytes the loader may change in the serial record.
Text WithoutSerial(Text plain) {
    for (std::size_t i = kSerialFirst; i <= kSerialLast && i < plain.size(); ++i)
        plain[i] = 0;
    if (!plain.empty()) plain.back() = 0;
    return plain;
}

std::string SerialOf(const Text& plain) {
    std::string serial;
    char pair[4];
    for (std::size_t i = kSerialFirst; i <= kSerialLast && i < plain.size(); ++i) {
        std::snprintf(pair, sizeof pair, "%02X", ByteAt(plain, i));
        serial += pair;
    }
    return serial;
}

} // namespace

bool ImageRecordStartsWith(const RecordList& image, std::size_t next, std::uint16_t key,
                           std::uint8_t firstByte) {
    for (std::size_t i = next > 0 ? next - 1 : 0; i <= next && i < image.size(); ++i) {
        const TLDane& record = image[i];
        if (record.key == key && !record.programmingText.empty() &&
            ByteAt(DescrambleStored(record.programmingText.substr(0, 1), key), 0) == firstByte)
            return true;
    }
    return false;
}

Text DescrambleStored(const Text& stored, std::uint16_t key) {
    return DescrambleRun(stored, key);
}

std::string FirstDifference(const Text& received, const Text& expected) {
    char text[96];
    for (std::size_t i = 0; i < received.size() && i < expected.size(); ++i) {
        if (received[i] != expected[i]) {
            std::snprintf(text, sizeof text, "byte %zu: %02X received, %02X in the image", i,
                          ByteAt(received, i), ByteAt(expected, i));
            return text;
        }
    }
    if (received.size() == expected.size()) return {};
    std::snprintf(text, sizeof text, "%zu bytes received, %zu in the image", received.size(),
                  expected.size());
    return text;
}

void CompareRecord(RecordEntry& entry, std::uint16_t frameKey, const Text& plain,
                   const TLDane& expected, RecordText which, bool s19Format) {
    if (frameKey != expected.key) {
        entry.matches = false;
        entry.note = "frame key " + Hex4(frameKey) + ", the record's key is " + Hex4(expected.key);
        return;
    }
    const Text& stored =
        which == RecordText::Programming ? expected.programmingText : expected.verificationText;
    const Text image = DescrambleStored(stored, expected.key);
    const bool serialRecord =
        s19Format && expected.address == kSerialRecordAddress && image.size() > kSerialLast + 1;
    if (serialRecord && plain.size() == image.size()) {
        const std::string difference = FirstDifference(WithoutSerial(plain), WithoutSerial(image));
        entry.matches = difference.empty();
        entry.note = difference.empty() ? "serial number " + SerialOf(plain) : difference;
        return;
    }
    entry.note = FirstDifference(plain, image);
    entry.matches = entry.note.empty();
}

} // namespace tarnik::sim
