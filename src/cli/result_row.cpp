#include "cli/result_row.h"

#include "tools/utf8.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>

namespace tarnik::cli {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD"; // U+FFFD

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
        const auto byte = static_cast<std::uint8_t>(text[at]);
        const std::size_t length = byte != 0 && byte < 0x80 ? 1 : Utf8SequenceAt(text, at);
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

std::optional<std::time_t> TimeOfUtcText(const std::string& text) {
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char zone = 0;
    if (std::sscanf(text.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%c", &year, &month, &day, &hour, &minute,
                    &second, &zone) != 7 ||
        zone != 'Z' || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                                           std::chrono::day{day}};
    if (!date.ok()) return std::nullopt;
    const auto when = std::chrono::sys_days{date} + std::chrono::hours{hour} +
                      std::chrono::minutes{minute} + std::chrono::seconds{second};
    return std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(when));
}

} // namespace tarnik::cli
