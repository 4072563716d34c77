#include "sim/unit_codec.h"

#include "tools/scrambler.h"

#include <cstdio>

namespace tarnik::sim {

Text ScrambleRun(const Text& plain, std::uint16_t& key) {
    Text out;
    key = ScrambleText(plain, 1, out, key);
    return out;
}

Text DescrambleRun(const Text& scrambled, std::uint16_t& key) {
    Text out;
    UnscrambleText(scrambled, 1, out, key);
    for (const char c : scrambled)
        key = UpdateKey(key, static_cast<std::uint8_t>(c));
    return out;
}

std::string HexByte(std::uint8_t value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

std::uint8_t SumOf(const Text& bytes) {
    unsigned sum = 0;
    for (const char c : bytes)
        sum += static_cast<std::uint8_t>(c);
    return static_cast<std::uint8_t>(sum);
}

std::uint16_t WordAt(const Text& bytes, std::size_t index) {
    return static_cast<std::uint16_t>(ByteAt(bytes, index) << 8 | ByteAt(bytes, index + 1));
}

bool EndsWithSum(const Text& bytes) {
    return bytes.size() >= 2 &&
           SumOf(bytes.substr(0, bytes.size() - 1)) == ByteAt(bytes, bytes.size() - 1);
}

Text PlainFrame(std::uint8_t marker, std::uint8_t address, std::uint8_t command, const Text& data) {
    Text frame{AsChar(marker), AsChar(marker), AsChar(address),
               AsChar(static_cast<std::uint8_t>(data.size() + 2)), AsChar(command)};
    frame += data;
    frame.push_back(AsChar(SumOf(frame)));
    return frame;
}

std::optional<MarkerHit> FindFirst(const Text& in, std::initializer_list<Text> markers) {
    std::optional<MarkerHit> best;
    for (const Text& marker : markers) {
        const std::size_t at = in.find(marker);
        if (at != Text::npos && (!best || at < best->position)) best = MarkerHit{at, marker};
    }
    return best;
}

Text Bytes(std::initializer_list<std::uint8_t> values) {
    Text out;
    for (const std::uint8_t v : values)
        out.push_back(AsChar(v));
    return out;
}

} // namespace tarnik::sim
