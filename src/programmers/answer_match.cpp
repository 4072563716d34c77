#include "programmers/answer_match.h"

namespace tarnik {

namespace {

const Text kNotBit = "!!! NOT BIT";

} // namespace

bool MatchAnswer(const Text& expected, const Text& received, LogSink& log) {
    if (received.find(expected) != Text::npos) return true;
    if (received.size() != expected.size()) return false;
    bool allAgree = true;
    bool agreedOnce = false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto missing = static_cast<std::uint8_t>(ByteAt(expected, i) & ~ByteAt(received, i));
        if (missing == 0x80 || missing == 0x40) {
            log.LogLine(kNotBit);
        } else if (missing != 0) {
            allAgree = false;
            if (agreedOnce) break;
            continue;
        }
        agreedOnce = true;
    }
    return allAgree;
}

} // namespace tarnik
