#pragma once
// The unit's side of the frame codec: key chains that continue from frame to answer,
// plain frames with their sum byte, and searching for frame markers.
#include "tools/text.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

namespace tarnik::sim {

// Scrambles `plain` from its first byte; key moves on to the state after the last byte.
Text ScrambleRun(const Text& plain, std::uint16_t& key);
// Descrambles `scrambled` from its first byte; key moves on like the host's did.
Text DescrambleRun(const Text& scrambled, std::uint16_t& key);

// marker marker address length command data... sum, where length counts the command, the
// data and the sum byte.
Text PlainFrame(std::uint8_t marker, std::uint8_t address, std::uint8_t command,
                const Text& data = Text());
// Two upper-case hex digits.
std::string HexByte(std::uint8_t value);
// The sum of the bytes modulo 256.
std::uint8_t SumOf(const Text& bytes);
// The 16-bit value stored high byte first at `index` and `index + 1` (keys, addresses).
std::uint16_t WordAt(const Text& bytes, std::size_t index);
// True when the last of at least two bytes is the sum of the ones before it (plain frames,
// S19 records).
bool EndsWithSum(const Text& bytes);

// Position of the first occurrence of any of the texts in `in`.
struct MarkerHit {
    std::size_t position;
    Text marker;
};
std::optional<MarkerHit> FindFirst(const Text& in, std::initializer_list<Text> markers);

// Bytes from a list of values.
Text Bytes(std::initializer_list<std::uint8_t> values);

} // namespace tarnik::sim
