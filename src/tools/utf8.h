#pragma once
// UTF-8: the encoding of a code point and the well-formed sequences (no overlong forms, no
// surrogates, nothing above U+10FFFF).
#include "tools/text.h"

#include <cstddef>

namespace tarnik {

void AppendUtf8(Text& out, char32_t codePoint);
// The length of the well-formed sequence of two to four bytes that starts at `at`, or 0.
std::size_t Utf8SequenceAt(const Text& text, std::size_t at);
// True when the bytes are well-formed UTF-8 (plain ASCII included).
bool IsValidUtf8(const Text& text);

} // namespace tarnik
