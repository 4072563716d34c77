#pragma once
// The unit's side of a serial line, as the in-process loopback and the pseudo-terminal
// emulator drive it: host bytes go in with the host's line settings, answers come out
// when their time has come.
#include "serial/comm_port.h"
#include "tools/text.h"

#include <cstdint>
#include <optional>

namespace tarnik::sim {

struct LineSettings {
    int baud = 9600;
    TParity parity = paNone;
    TStopbits stopbits = sb1_0;
    TDatabits databits = da8;
    bool operator==(const LineSettings&) const = default;
};

class UnitPeer {
public:
    virtual ~UnitPeer() = default;
    // Bytes written by the host reach the unit at nowMs, sent with the given line settings.
    virtual void OnHostBytes(const Text& bytes, std::uint32_t nowMs, const LineSettings& line) = 0;
    // Bytes the unit has sent by nowMs (taken out of the unit's output).
    virtual Text TakeUnitBytes(std::uint32_t nowMs) = 0;
    // True once the unit has dropped the line (the host then sees end of file).
    virtual bool HungUp() const { return false; }
    // The earliest moment at which the unit has something due, if anything is waiting.
    virtual std::optional<std::uint32_t> NextEventMs() const { return std::nullopt; }
};

} // namespace tarnik::sim
