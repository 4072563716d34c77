#include "programmers/image_version.h"
#include "tools/hexcodec.h"

#include <gtest/gtest.h>

namespace tarnik {
namespace {

TEST(ImageVersion, ImageIsNewerByVersionNumberThenByWholeDate) {
    struct Case {
        Text image;
        int unitLast; // the unit's version is 1, 0, unitLast
        Text date;    // day, month, century, year as BCD bytes; empty: no date
        VersionOrder order;
    };
    const Case cases[] = {
        {"1.05", 4, "", VersionOrder::Newer},
        {"1.05", 6, "", VersionOrder::NotNewer},
        {"1.05", 5, "", VersionOrder::NotNewer},
        {"1.05", 5, "\x13\x11\x20\x23", VersionOrder::Newer},
        {"1.05", 5, "\x14\x11\x20\x23", VersionOrder::NotNewer},
        {"1.05", 5, "\x31\x12\x20\x22", VersionOrder::Newer}, // as a whole date
        {"1.05", 5, "\x15\x12\x20\x24", VersionOrder::NotNewer},
        {"1.05", 5, "\x15\x1A\x20\x22", VersionOrder::NotComparable},
        {"1.0x", 5, "", VersionOrder::NotComparable},
        {"1.05", 10, "", VersionOrder::NotComparable},
        {"2.00", 9, "", VersionOrder::Newer}, // 200 against 109: one number, not digit by digit
    };
    for (const Case& c : cases) {
        FrameBuffer reply{};
        reply[3] = c.date.empty() ? 6 : 10;
        reply[6] = 1;
        reply[8] = static_cast<std::uint8_t>(c.unitLast);
        for (std::size_t i = 0; i < c.date.size(); ++i)
            reply[9 + i] = ByteAt(c.date, i);
        EXPECT_EQ(CompareImageVersion(c.image, 1700000000, reply), c.order)
            << c.image << " " << c.unitLast << " " << BytesToHexList(c.date);
    }
}

} // namespace
} // namespace tarnik
