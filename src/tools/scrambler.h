#pragma once
// Rolling-key scrambler. Each byte is shifted by 21 and by the high byte of a 16-bit key;
// the key is stirred by every scrambled byte, so both directions keep the same key chain.
#include "tools/text.h"

#include <cstdint>
#include <span>

namespace tarnik {

// One step of the key chain, stirred with the scrambled byte c.
std::uint16_t UpdateKey(std::uint16_t key, std::uint8_t scrambled);

// Text forms: positions count from 1; positions below start pass unchanged.
// R is replaced by the scrambled text; returns the key after the last byte.
std::uint16_t ScrambleText(const Text& s, int start, Text& r, std::uint16_t key);
// Appends the descrambled characters to R (callers pass an empty R).
void UnscrambleText(const Text& s, int start, Text& r, std::uint16_t key);

// Block forms: indices count from 0; indices below start pass unchanged.
// Processes Src[0..lastIndex] (lastIndex is clamped to the block); count := lastIndex + 1.
std::uint16_t ScrambleBlock(Block src, int start, int lastIndex, Block& dest, int& count,
                            std::uint16_t key);
// Processes src[0..count-1] (clamped to both spans); returns the key after the last byte.
std::uint16_t UnscrambleBlock(std::span<const std::uint8_t> src, int start, int count,
                              std::span<std::uint8_t> dest, std::uint16_t key);
// Processes elements 1..count of src (element 0 is not read) and appends the results to R.
void UnscrambleBlockToText(std::span<const std::uint8_t> src, int start, int count, Text& r,
                           std::uint16_t key);

} // namespace tarnik
