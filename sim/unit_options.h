#pragma once
// What the emulated unit is and how it misbehaves: unit type, address, the image it expects
// to receive, identity data, timing and injected faults.
#include "image/image_file.h"
#include "serial/comm_port.h"
#include "sim/unit_peer.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::sim {

// Line settings a unit type listens with (data bits are always 8).
struct UnitLine {
    int baud = 38400;
    TParity parity = paNone;
    TStopbits stopbits = sb1_0;
};

bool IsNetworkUnit(int unitType);
bool IsAudioUnit(int unitType);
// The line settings of the unit type's serial interface, as the loader opens the port.
UnitLine LineOfUnitType(int unitType);
// The network modules' bootloaders always listen at 57600 baud, no parity, 2 stop bits.
UnitLine NetworkBootloaderLine();
// The line a network module's application listens with: 19200 baud for type 4 (the loader
// switches from 4800 before it speaks), 4800 even for type 9, 57600 for type 15.
UnitLine NetworkApplicationLine(int unitType);

// Time on the wire of `count` bytes: a start bit, 8 data bits, a parity bit when there is
// parity, one or two stop bits. Rounded up to whole milliseconds.
std::uint32_t WireTimeMs(std::size_t count, const LineSettings& line);

struct UnitDate {
    int year = 2024;
    int month = 1;
    int day = 1;
};

struct UnitFaults {
    bool silent = false;              // never answers
    bool wrongType = false;           // reports a unit type other than its own
    bool bootloaderActive = false;    // starts in its bootloader, the application does not run
    bool eraseFail = false;           // erasure fails: status 0x20 (network modules: no answer)
    bool noise = false;               // junk bytes after answers
    std::uint32_t noisePercent = 100; // with noise: the share of answers followed by junk
    bool duplicateAnswers = false;    // every answer is sent twice
    bool foreignAddress = false;      // answers carry another unit's address (address + 1)
    std::vector<std::uint8_t> eraseProgress; // statuses sent before the final one (1 or 2)
    int dropAck = -1;        // the first try of this record (index from 0) gets no answer
    int hangupAtRecord = -1; // the unit drops the line when this record arrives
    int verifyMismatch = -1; // this record fails verification
    int loseRecord = -1;     // the first frame of this record is lost on the line: not booked,
                             // not answered (network modules)
    std::uint32_t answerDelayMs = 0;
    // Network modules answer every record a second time, this long after the first answer and
    // on a read of its own.
    std::optional<std::uint32_t> recordAnswerAgainMs;
    // Audio unit: an erase command starts an erasure of this length; frames that arrive
    // meanwhile are ignored, and the frame that started it is answered when it is done.
    std::uint32_t eraseBusyMs = 0;
    // The unit's answers reach the host in pieces of at most this many bytes, each on a read
    // of its own (0: whole).
    std::uint32_t chunkBytes = 0;

    // True when a correct host cannot finish the session against these faults.
    bool BlockCompletion() const {
        return silent || wrongType || eraseFail || hangupAtRecord >= 0 || verifyMismatch >= 0 ||
               foreignAddress;
    }
};

struct UnitOptions {
    int unitType = 0;
    std::uint8_t address = 0;
    // Records the host is expected to send, as the loader reads them from the image file.
    std::optional<RecordList> image;
    std::array<std::uint8_t, 4> serial{0x00, 0x00, 0x00, 0x01};
    std::array<std::uint8_t, 3> version{1, 0, 5}; // program version reported by network modules
    std::optional<UnitDate> date;                 // compilation date reported with the version
    bool bootTypeBit7 = false; // network boot identification sets bit 7 of the type code
    bool wire = false;         // delays by the bytes' time on the wire
    bool checkParity = true;   // pseudo-terminals cannot report parity
    std::uint32_t processingDelayMs = 2;
    std::uint32_t rebootMs = 50;      // application to bootloader
    std::uint32_t eraseStepMs = 100;  // per erase status (main family) or whole erasure
    std::uint32_t staleFrameMs = 500; // an incomplete frame older than this is dropped
    std::uint32_t noiseSeed = 1;
    UnitFaults faults;
};

} // namespace tarnik::sim
