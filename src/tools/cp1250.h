#pragma once
// Texts of the program are Windows-1250 bytes; front ends show them as UTF-8.
#include "tools/text.h"
#include "tools/utf8.h"

#include <string>

namespace tarnik {

// The Unicode code point of a Windows-1250 byte (U+FFFD for the five unassigned bytes).
char32_t Cp1250ToCodePoint(unsigned char byte);
std::string Cp1250ToUtf8(const Text& text);

// A text of the program for display: file names from the system arrive as UTF-8 and pass
// unchanged; everything else is Windows-1250 and is converted.
std::string DisplayUtf8(const Text& text);

} // namespace tarnik
