#pragma once
// Hex text codec, sum bytes and the extraction of one marked, length-prefixed frame.
#include "tools/text.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace tarnik {

// The value of a hex digit of either case, or -1.
int HexDigitValue(char c);
// A serial number is eight hex digits.
constexpr std::size_t kSerialDigits = 8;
// The value of exactly eight hex digits of either case; nothing for any other text.
std::optional<std::uint32_t> SerialValue(const Text& text);
// Eight upper-case hex digits.
Text SerialText(std::uint32_t value);
// Value of the hex digits of s; other characters are ignored; more than 7 digits give 0.
std::int32_t HexToInt(const Text& s);
// Upper-case hex digits of even length: 0 -> "00", 0x123 -> "0123".
Text IntToHexEven(std::uint32_t value);
// R := bytes of the hex pairs of s (a lone last digit is ignored), plus their sum when addSum.
void HexToBytes(const Text& s, bool addSum, Text& r);
Text HexToBytes(const Text& s, bool addSum);
// R := bytes 0..lastIndex as characters / as two upper-case hex digits each (clamped to bytes).
void BytesToStr(std::span<const std::uint8_t> bytes, int lastIndex, Text& r);
void BytesToHex(std::span<const std::uint8_t> bytes, int lastIndex, Text& r);
// dest[0..len-1] := bytes of s (clamped to dest); count := len(s) + 1.
void StrToBytes(const Text& s, int& count, std::span<std::uint8_t> dest);
// True when the sum of all bytes but the last equals the last byte (modulo 256).
bool SumByteOk(const Text& s);
// The first min(count, 32768) bytes as a text / as "XX " per byte.
Text BytesToText(std::span<const std::uint8_t> bytes, std::uint16_t count);
Text BytesToHexList(std::span<const std::uint8_t> bytes, std::uint16_t count);
// Convenience forms over a whole text.
Text BytesToHexList(const Text& bytes);
std::span<const std::uint8_t> AsBytes(const Text& text);

// Largest frame ExtractFrame hands out.
constexpr std::size_t kMaxFrame = 134;
using FrameBuffer = std::array<std::uint8_t, kMaxFrame>;

// Takes one frame (marker, one byte, length N, N bytes ending in their sum byte) out of
// rxText. False while nothing complete is there; true with sumOk telling the checksum
// verdict once a frame was taken (rxText is then emptied).
bool ExtractFrame(Text& rxText, const Text& marker, FrameBuffer& dest, bool& sumOk,
                  std::size_t* frameLength = nullptr);

} // namespace tarnik
