#pragma once
// The unit processes of tarnik-cli. One port runs one process on the calling thread, as the
// unattended window does. Several ports run one process per port at once, each on its own
// thread that acts as that process's main thread, with its own port, link buffer,
// programmer and step state; the run ends with a summary table.
#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/terminal_view.h"
#include "programmers/process_outcome.h"
#include "tools/version.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnik {
class SettingsStore;
}

namespace tarnik::cli {

inline constexpr const char* kProgram = "tarnik-cli";

struct UnitJob {
    std::optional<std::string> port;   // the stored port (or C=) when not given
    std::optional<std::string> serial; // eight hex digits for the serial number field
    TerminalSettings terminal;
};

struct UnitResult {
    bool started = false;
    bool refused = false; // --address refused for the image's unit type (exit code 2)
    std::string port;
    std::optional<std::string> serial; // the serial number written into the unit
    std::string status;                // the last status line, UTF-8, as shown
    ProcessOutcome outcome;            // how the process ended: what every decision reads
    double seconds = 0;
    int recordsSent = 0;
    int unitType = -1;
    std::string imageVersion;
    std::string imageDate;
    std::string unitAddress;
    bool verify = false;
    std::string nextSerial; // the serial number field after the process
};

// Runs one unit process on the calling thread, which acts as its main thread.
UnitResult RunUnit(const CliOptions& options, const UnitJob& job, const std::string& executablePath,
                   SettingsStore& settings);

// The short name a port's lines carry: "/dev/ttyUSB1" gives "ttyUSB1".
std::string PortLabel(const std::string& port);

// The exit code of one unit: by how its process ended.
int UnitExitCode(const UnitResult& unit);

// Exit status of a run with several units (the full value that is printed): the
// success status when every unit succeeded, else the first failure's in port order.
int CombinedExitStatus(const std::vector<UnitResult>& units);
// Exit code of a run with several units: 0 when every unit was programmed, else the code of
// the first unit in port order that was not.
int CombinedExitCode(const std::vector<UnitResult>& units);

// A unit's result in the summary: the outcome's word, and on a failure the failing step.
std::string SummaryResult(const UnitResult& unit);

// The summary table that ends a run with several ports: one row per unit (port, serial
// number, result, exit status, seconds), each column as wide as its content.
std::string SummaryTable(const std::vector<UnitResult>& units);

// The serial numbers of one round, one per unit in port order: from the store, counted on
// from --serial, or none. Empty error text when they could be given.
struct RoundSerials {
    std::vector<std::optional<std::string>> serials;
    std::string error;
};
RoundSerials SerialsForRound(const CliOptions& options, std::size_t units);

// What a run of runs (--repeat) did, for its closing lines.
struct RunTotals {
    int runs = 0;
    int successes = 0;
    std::map<int, int> failures; // exit status: units
    bool failed = false;
    int exitStatus = -1;            // the success status, or the first failure's once one failed
    int exitCode = kExitNothingRan; // 0, or the first failure's code once one failed

    void Add(const std::vector<UnitResult>& units);
    std::string Text() const;
};

// Waits for the next run: a line of stdin (Enter at a terminal, after a prompt on stderr).
// False at the end of the input or for a line starting with q.
bool WaitForNextRun(const CliStreams& streams);

// One run of every --port (or the one stored port); returns the exit code.
int RunRounds(const CliOptions& options, const std::string& executablePath,
              const CliStreams& streams, SettingsStore& settings);

} // namespace tarnik::cli
