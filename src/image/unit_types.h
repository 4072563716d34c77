#pragma once
// The unit types an image header can name and the window titles that go with them.
#include "tools/text.h"

namespace tarnik {

// The application title: the program name and two blanks. The programmers append the
// percentage done to it.
inline constexpr const char* kApplicationTitle = "Tarnik v2.01A_EN  ";
// Every unit title starts with the program name and three blanks.
inline constexpr const char* kTitlePrefix = "Tarnik v2.01A_EN   ";

bool IsKnownUnitType(int unitType);
// The window title of a unit type, e.g. "Tarnik v2.01A_EN   Expander Program"; empty for an
// unknown type.
Text UnitTypeTitle(int unitType);
// The unit's name: the title without the program name and without a trailing " Program",
// e.g. "Expander"; empty for an unknown type.
Text UnitTypeName(int unitType);

} // namespace tarnik
