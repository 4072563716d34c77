#include "tools/hexcodec.h"

#include <algorithm>
#include <utility>

namespace tarnik {

namespace {

constexpr std::size_t kMaxConverted = 32768;

const char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(Text& r, std::uint8_t b) {
    r.push_back(kHexDigits[b >> 4]);
    r.push_back(kHexDigits[b & 0x0F]);
}

} // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::uint32_t> SerialValue(const Text& text) {
    if (text.size() != kSerialDigits) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

Text SerialText(std::uint32_t value) {
    Text text(kSerialDigits, '0');
    for (std::size_t i = kSerialDigits; i-- > 0; value >>= 4)
        text[i] = kHexDigits[value & 0xF];
    return text;
}

std::int32_t HexToInt(const Text& s) {
    std::int32_t value = 0;
    int digits = 0;
    for (char c : s) {
        const int d = HexDigitValue(c);
        if (d < 0) continue;
        if (++digits > 7) return 0;
        value = value * 16 + d;
    }
    return value;
}

Text IntToHexEven(std::uint32_t value) {
    Text digits;
    do {
        digits.insert(digits.begin(), kHexDigits[value & 0x0F]);
        value >>= 4;
    } while (value != 0);
    if (digits.size() % 2 != 0) digits.insert(digits.begin(), '0');
    return digits;
}

void HexToBytes(const Text& s, bool addSum, Text& r) {
    // r may be s itself: build the bytes apart and hand them over at the end.
    Text bytes;
    std::uint16_t sum = 0;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2) {
        const auto byte = static_cast<std::uint8_t>(HexToInt(s.substr(i, 2)));
        bytes.push_back(AsChar(byte));
        sum = static_cast<std::uint16_t>(sum + byte);
    }
    if (addSum) bytes.push_back(AsChar(static_cast<std::uint8_t>(sum & 0xFF)));
    r = std::move(bytes);
}

Text HexToBytes(const Text& s, bool addSum) {
    Text r;
    HexToBytes(s, addSum, r);
    return r;
}

void BytesToStr(std::span<const std::uint8_t> bytes, int lastIndex, Text& r) {
    r.clear();
    const long long last = std::min<long long>(lastIndex, static_cast<long long>(bytes.size()) - 1);
    for (long long i = 0; i <= last; ++i)
        r.push_back(AsChar(bytes[i]));
}

void BytesToHex(std::span<const std::uint8_t> bytes, int lastIndex, Text& r) {
    r.clear();
    const long long last = std::min<long long>(lastIndex, static_cast<long long>(bytes.size()) - 1);
    for (long long i = 0; i <= last; ++i)
        AppendHexByte(r, bytes[i]);
}

void StrToBytes(const Text& s, int& count, std::span<std::uint8_t> dest) {
    const std::size_t n = std::min(s.size(), dest.size());
    for (std::size_t i = 0; i < n; ++i)
        dest[i] = ByteAt(s, i);
    count = static_cast<int>(s.size()) + 1;
}

bool SumByteOk(const Text& s) {
    if (s.empty()) return false;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + ByteAt(s, i));
    return sum == ByteAt(s, s.size() - 1);
}

Text BytesToText(std::span<const std::uint8_t> bytes, std::uint16_t count) {
    const std::size_t n = std::min({static_cast<std::size_t>(count), kMaxConverted, bytes.size()});
    return Text(reinterpret_cast<const char*>(bytes.data()), n);
}

Text BytesToHexList(std::span<const std::uint8_t> bytes, std::uint16_t count) {
    const std::size_t n = std::min({static_cast<std::size_t>(count), kMaxConverted, bytes.size()});
    Text r;
    r.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        AppendHexByte(r, bytes[i]);
        r.push_back(' ');
    }
    return r;
}

std::span<const std::uint8_t> AsBytes(const Text& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

Text BytesToHexList(const Text& bytes) {
    const std::size_t n = std::min(bytes.size(), kMaxConverted);
    return BytesToHexList(AsBytes(bytes), static_cast<std::uint16_t>(n));
}

bool ExtractFrame(Text& rxText, const Text& marker, FrameBuffer& dest, bool& sumOk,
                  std::size_t* frameLength) {
    if (marker.empty()) return false;
    const std::size_t length = rxText.size();
    const std::size_t p = rxText.find(marker);
    if (p == Text::npos) {
        if (length > 0) rxText = rxText.substr(length - 1);
        return false;
    }
    // Six bytes from the marker's first byte are needed before the length byte is read.
    if (length < p + 6) return false;
    const std::size_t n = ByteAt(rxText, p + 3);
    if (n == 0) return false;
    if (p + 4 + n > length) return false;
    const std::size_t frameSize = n + 4;
    if (frameSize > kMaxFrame) return false;
    const Text frame = rxText.substr(p, frameSize);
    std::copy(frame.begin(), frame.end(), reinterpret_cast<char*>(dest.data()));
    sumOk = SumByteOk(frame);
    if (frameLength) *frameLength = frameSize;
    rxText.clear();
    return true;
}

} // namespace tarnik
