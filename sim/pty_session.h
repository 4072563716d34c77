#pragma once
// One session of the emulated unit on a pseudo-terminal: the host opens the slave side as
// its serial port; the emulator reads the host's bytes and line settings on the master side.
#include "sim/unit_model.h"

#include <cstdint>
#include <string>

namespace tarnik::sim {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens the pair and sets the slave side raw. False with `error` set on failure.
    bool Open(std::string& error);
    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    // The line settings the host has set on its side.
    LineSettings HostLine() const;
    // Our own hold on the slave side keeps the master from seeing hang-ups before the host
    // has opened the port; once the host has spoken it is let go, so that the host's close
    // shows.
    void ReleaseSlave();
    void CloseMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

struct SessionTiming {
    std::uint32_t idleTimeoutMs = 20000;
    std::uint32_t hangupGraceMs = 3000;
    std::uint32_t lingerMs = 300;
};

// Serves the host until the session is over; the model holds the outcome.
void RunPtySession(PseudoTerminal& pty, UnitModel& model, const SessionTiming& timing);

// Line settings of a termios baud/flag set, as the host configured them.
LineSettings LineFromTermios(unsigned long speed, unsigned long cflag);

} // namespace tarnik::sim
