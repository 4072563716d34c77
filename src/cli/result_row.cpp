#include "cli/result_row.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace tarnik::cli {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the well-formed UTF-8 sequence that starts at text[at], 0 when none does.
std::size_t SequenceLength(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(at);
    if (lead == 0) return 0;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint8_t low = 0x80; // the range of the byte after the lead
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    return length;
}

} // namespace

std::string NewRunId() {
    // A fresh engine per call: ids of units that run side by side on threads never share
    // a state.
    std::random_device source;
    std::mt19937_64 engine((std::uint64_t{source()} << 32) ^ source());
    const std::uint64_t high = engine() ^ source();
    const std::uint64_t low = engine() ^ (std::uint64_t{source()} << 32);
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(high),
                  static_cast<unsigned long long>(low));
    return text;
}

std::string StorableText(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        if (length == 0) {
            result += kReplacement;
            ++at;
        } else {
            result.append(text, at, length);
            at += length;
        }
    }
    return result;
}

ResultRow StorableRow(ResultRow row) {
    for (std::string* text : {&row.runId, &row.station, &row.host, &row.port, &row.image,
                              &row.imageSha256, &row.imageVersion, &row.imageDate, &row.unitAddress,
                              &row.outcome, &row.status, &row.programVersion})
        *text = StorableText(*text);
    if (row.serial) row.serial = StorableText(*row.serial);
    return row;
}

std::string UtcText(std::time_t when) {
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &when);
#else
    gmtime_r(&when, &utc);
#endif
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) return {};
    return text;
}

} // namespace tarnik::cli
