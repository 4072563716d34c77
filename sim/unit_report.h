#pragma once
// What the emulated unit saw of the host: every frame with its time and line settings, every
// record with its comparison against the image, and the host's mistakes.
#include "sim/unit_peer.h"
#include "tools/text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::sim {

struct FrameEntry {
    std::uint32_t timeMs = 0; // arrival of its last byte
    LineSettings line;        // settings the first byte arrived with
    Text bytes;
    std::string what; // "identify query", "record 3", "ignored: ..."
};

struct RecordEntry {
    int index = 0;
    std::uint16_t address = 0;
    std::uint16_t key = 0;
    int attempts = 0;
    bool checksumOk = true;
    std::optional<bool> matches; // against the image; none without an image
    std::string note;            // first difference, serial number found, ...
};

struct Violation {
    std::uint32_t timeMs = 0;
    std::string text;
};

struct UnitReport {
    int unitType = 0;
    std::vector<FrameEntry> frames;
    std::vector<RecordEntry> records;
    std::vector<RecordEntry> verifications;
    std::vector<Violation> violations;
    std::size_t junkBytes = 0;
    std::optional<std::size_t> imageRecords; // records the host should send
    bool complete = false;                   // the application was started
    std::string endReason;                   // why the session ended
};

// The report as a JSON document; `pass` is the verdict written into it.
std::string ReportToJson(const UnitReport& report, bool pass);

} // namespace tarnik::sim
