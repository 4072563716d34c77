#pragma once
// Comparison of a record as the unit received it with the record of the image.
#include "image/image_file.h"
#include "sim/unit_report.h"
#include "tools/text.h"

#include <cstdint>

namespace tarnik::sim {

// Which of a record's texts the host should have sent.
enum class RecordText { Programming, Verification };

// Fills entry.matches and entry.note: the frame key must be the record's key, and the
// descrambled record must equal the image's byte for byte. In the serial record (address
// 0xEFA0, S19 format) the serial number bytes and the checksum may differ, since the loader
// inserts the serial number; the note then names the serial number sent.
void CompareRecord(RecordEntry& entry, std::uint16_t frameKey, const Text& plain,
                   const TLDane& expected, RecordText which, bool s19Format);

// True when the image's record `next` (the one due) or the one before it (a resend) has
// this key and its programming text descrambles to firstByte first: a record of this image
// under the image's own key, whatever its command byte.
bool ImageRecordStartsWith(const RecordList& image, std::size_t next, std::uint16_t key,
                           std::uint8_t firstByte);

// The descrambled bytes of a record text stored under `key`.
Text DescrambleStored(const Text& stored, std::uint16_t key);

// "byte 7: 12 received, 13 expected", or empty when equal.
std::string FirstDifference(const Text& received, const Text& expected);

} // namespace tarnik::sim
