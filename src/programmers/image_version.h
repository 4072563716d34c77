#pragma once
#include "tools/hexcodec.h"
#include "tools/text.h"

#include <cstdint>

namespace tarnik {

// Whether the image is newer than the program the unit reported in its identify reply: its
// three version digits read as one number are greater, or equal with a later compilation date
// when the reply carries the unit's date. Not comparable when a version character of the image
// is not a digit, or a version or date byte of the reply is not a decimal value.
enum class VersionOrder { Newer, NotNewer, NotComparable };
VersionOrder CompareImageVersion(const Text& imageVersion, std::int64_t imageDateSeconds,
                                 const FrameBuffer& identifyReply);

} // namespace tarnik
