#include "programmers/answer_match.h"
#include "programmers/bootloader_frames.h"
#include "tools/hexcodec.h"

#include <gtest/gtest.h>

namespace tarnik {
namespace {

class LogLines final : public LogSink {
public:
    void LogLine(const Text& line) override { lines.push_back(line); }
    std::vector<Text> lines;
};

TEST(MatchAnswer, SubstringOrSameLengthWithToleratedMissingBits) {
    struct Case {
        Text expected;
        Text received;
        bool match;
        std::size_t notBits; // "!!! NOT BIT" lines
    };
    const Case cases[] = {
        {"\xEE\x55", "noise\xEE\x55tail", true, 0},
        {"\xEE\xC1", "\xEE\x41", true, 1}, // bit 7 missing
        {"\xEE\xC1", "\xEE\x81", true, 1}, // bit 6 missing
        {"\xEE\xC1", Text("\xEE\x01", 2), false, 0},
        {"\xEE\xC1", "\xEE\xC3", true, 0}, // an extra bit
        {"\xEE\xC1", Text("\xEE\x41\x00", 3), false, 0},
        {"\x81\x82\x83", "\x01\x02\x03", true, 3},
        {"\x81\x0F\xC1", Text("\x01\x00\x41", 3), false, 1}, // ends at the second byte
        {kNoAnswerYet, "\x78\x79\x7A\xF8\xFF", true, 0},
        {kNoAnswerYet, "", false, 0},
    };
    for (const Case& c : cases) {
        LogLines log;
        EXPECT_EQ(MatchAnswer(c.expected, c.received, log), c.match) << BytesToHexList(c.received);
        EXPECT_EQ(log.lines, std::vector<Text>(c.notBits, "!!! NOT BIT"))
            << BytesToHexList(c.received);
    }
}

} // namespace
} // namespace tarnik
