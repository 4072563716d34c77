#include "tools/scrambler.h"

#include <algorithm>

namespace tarnik {

namespace {

constexpr int kShift = 21;

std::uint8_t ScrambleByte(std::uint8_t in, std::uint16_t& key) {
    const auto out = static_cast<std::uint8_t>(in + kShift - (key >> 8));
    key = UpdateKey(key, out);
    return out;
}

std::uint8_t UnscrambleByte(std::uint8_t in, std::uint16_t& key) {
    const auto out = static_cast<std::uint8_t>(in - kShift + (key >> 8));
    key = UpdateKey(key, in);
    return out;
}

} // namespace

std::uint16_t UpdateKey(std::uint16_t key, std::uint8_t scrambled) {
    std::uint32_t k = (key + scrambled) & 0xFFFFu;
    k = ((k << 1) | (k >> 15)) & 0xFFFFu;
    k ^= 0xFFFFu;
    k = ((k >> 8) | (k << 8)) & 0xFFFFu;
    return static_cast<std::uint16_t>(k);
}

std::uint16_t ScrambleText(const Text& s, int start, Text& r, std::uint16_t key) {
    r = s;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (static_cast<long long>(i) + 1 >= start) r[i] = AsChar(ScrambleByte(ByteAt(s, i), key));
    }
    return key;
}

void UnscrambleText(const Text& s, int start, Text& r, std::uint16_t key) {
    r.reserve(r.size() + s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const std::uint8_t in = ByteAt(s, i);
        r.push_back(static_cast<long long>(i) + 1 >= start ? AsChar(UnscrambleByte(in, key))
                                                           : AsChar(in));
    }
}

std::uint16_t ScrambleBlock(Block src, int start, int lastIndex, Block& dest, int& count,
                            std::uint16_t key) {
    count = 0;
    const int last = std::min(lastIndex, static_cast<int>(src.size()) - 1);
    for (int i = 0; i <= last; ++i) {
        dest[i] = i >= start ? ScrambleByte(src[i], key) : src[i];
        count = i + 1;
    }
    return key;
}

std::uint16_t UnscrambleBlock(std::span<const std::uint8_t> src, int start, int count,
                              std::span<std::uint8_t> dest, std::uint16_t key) {
    const long long limit = std::min<long long>(
        {count, static_cast<long long>(src.size()), static_cast<long long>(dest.size())});
    for (long long i = 0; i < limit; ++i)
        dest[i] = i >= start ? UnscrambleByte(src[i], key) : src[i];
    return key;
}

void UnscrambleBlockToText(std::span<const std::uint8_t> src, int start, int count, Text& r,
                           std::uint16_t key) {
    for (long long i = 1; i <= count && i < static_cast<long long>(src.size()); ++i)
        r.push_back(AsChar(i >= start ? UnscrambleByte(src[i], key) : src[i]));
}

} // namespace tarnik
