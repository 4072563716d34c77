#pragma once
// The unit types an image header can name and the window titles that go with them.
#include "tools/text.h"
#include "tools/version.h"

namespace tarnik {

bool IsKnownUnitType(int unitType);
// The window title of a unit type, e.g. "Tarnik v2.01A_EN   Expander Program"; empty for an
// unknown type.
Text UnitTypeTitle(int unitType);
// The unit's name: the title without the program name and without a trailing " Program",
// e.g. "Expander"; empty for an unknown type.
Text UnitTypeName(int unitType);

} // namespace tarnik
