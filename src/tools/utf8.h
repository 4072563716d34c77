#pragma once
// Recognising well-formed UTF-8 in byte texts.
#include <cstddef>
#include <string>

namespace tarnik {

// Length of the well-formed UTF-8 sequence of two to four bytes that starts at `i`, or 0 (for
// a single byte below 0x80 too, and for overlong forms, surrogates and anything above
// U+10FFFF).
std::size_t Utf8SequenceAt(const std::string& text, std::size_t i);

} // namespace tarnik
