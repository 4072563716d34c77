#include "programmers/image_version.h"

#include <chrono>
#include <optional>
#include <tuple>

namespace tarnik {

namespace {

// The identify reply carries the unit's date when its length byte is this.
constexpr std::uint8_t kReplyLengthWithDate = 10;

std::optional<int> DecimalDigit(char c) {
    if (c < '0' || c > '9') return std::nullopt;
    return c - '0';
}

// The two hex digits of a byte read as a decimal number (0x25 is 25).
std::optional<int> Bcd(std::uint8_t b) {
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return std::nullopt;
    return (b >> 4) * 10 + (b & 0x0F);
}

using Date = std::tuple<int, int, int>; // year, month, day

Date DateOfSeconds(std::int64_t seconds) {
    using namespace std::chrono;
    const std::int64_t day = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const year_month_day ymd{sys_days{days{day}}};
    return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
            static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

} // namespace

VersionOrder CompareImageVersion(const Text& imageVersion, std::int64_t imageDateSeconds,
                                 const FrameBuffer& reply) {
    int image = 0;
    int unit = 0;
    for (std::size_t i : {0u, 2u, 3u}) {
        const std::optional<int> digit =
            i < imageVersion.size() ? DecimalDigit(imageVersion[i]) : std::nullopt;
        if (!digit) return VersionOrder::NotComparable;
        image = image * 10 + *digit;
    }
    for (std::size_t i = 6; i <= 8; ++i) {
        if (reply[i] > 9) return VersionOrder::NotComparable;
        unit = unit * 10 + reply[i];
    }
    if (image != unit) return image > unit ? VersionOrder::Newer : VersionOrder::NotNewer;
    if (reply[3] != kReplyLengthWithDate) return VersionOrder::NotNewer;

    const std::optional<int> day = Bcd(reply[9]);
    const std::optional<int> month = Bcd(reply[10]);
    const std::optional<int> century = Bcd(reply[11]);
    const std::optional<int> year = Bcd(reply[12]);
    if (!day || !month || !century || !year) return VersionOrder::NotComparable;
    const Date unitDate{*century * 100 + *year, *month, *day};
    return DateOfSeconds(imageDateSeconds) > unitDate ? VersionOrder::Newer
                                                      : VersionOrder::NotNewer;
}

} // namespace tarnik
