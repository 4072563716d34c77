#pragma once
// The command line of tarnik-sim.
#include "sim/unit_options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnik::sim {

struct SimOptions {
    UnitOptions unit;
    std::string imagePath;               // --image: the records the host should send
    std::string reportPath;              // --report: JSON report written at the end
    std::uint32_t idleTimeoutMs = 20000; // the session ends after this long without traffic
    std::uint32_t hangupGraceMs = 3000;  // the host may close and reopen its side this long
    std::uint32_t lingerMs = 300;        // kept open after the end to see late frames
};

struct ParseOutcome {
    bool ok = false;
    bool help = false;
    std::string error;
};

ParseOutcome ParseSimArguments(const std::vector<std::string>& args, SimOptions& options);
std::string SimUsage();
// Every option explained, for --help (and the manual page made from it).
std::string SimHelp();

} // namespace tarnik::sim
