#pragma once
// Byte texts: every character is one byte 0..255. Frames, received data and image
// records are carried in std::string without any character-set interpretation.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tarnik {

using Text = std::string;

// A 1025-byte working buffer, the size of the transform and send buffers.
using Block = std::array<std::uint8_t, 1025>;

inline std::uint8_t ByteAt(const Text& text, std::size_t index) {
    return static_cast<std::uint8_t>(text[index]);
}

inline char AsChar(std::uint8_t byte) {
    return static_cast<char>(byte);
}

} // namespace tarnik
