#pragma once
// The compilation date of an image in the system's short date and time format.
#include "tools/text.h"

#include <cstdint>

namespace tarnik {

// The seconds are taken as they are: no time-zone conversion.
Text FormatImageDateQt(std::int64_t seconds);

} // namespace tarnik
