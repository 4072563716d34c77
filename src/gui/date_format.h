#pragma once
// The compilation date of an image in the system's short date and long time format.
#include "tools/text.h"

#include <QLocale>

#include <cstdint>

namespace tarnik {

// The seconds are taken as they are: no time-zone conversion, and no time zone is shown.
Text FormatImageDateQt(std::int64_t seconds);
// The same in the formats of a given locale.
Text FormatImageDateIn(const QLocale& locale, std::int64_t seconds);

} // namespace tarnik
