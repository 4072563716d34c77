#pragma once
// Command line of tarnik-cli: the window's P=, C=, V= arguments plus options that override
// the stored port, the remembered address, the serial number field and the serial step.
#include <optional>
#include <string>
#include <vector>

namespace tarnik::cli {

struct CliOptions {
    std::optional<std::string> port;        // the last --port=DEVICE
    std::vector<std::string> ports;         // every --port, in order: one process each
    std::optional<std::string> address;     // --address=HEX (one or two hex digits)
    std::optional<std::string> serial;      // --serial=XXXXXXXX (eight hex digits)
    bool serialInc = false;                 // --serial-inc
    std::optional<std::string> serialStore; // --serial-store=FILE
    std::optional<std::string> log;         // --log=FILE (JSON Lines)
    std::optional<std::string> http;        // --http=[HOST:]PORT, the station page
    bool repeat = false;                    // --repeat
    bool fast = false;                      // --fast
    std::optional<unsigned> turnaround;     // --turnaround-ms=N (0..50), milliseconds
    bool yes = false;                       // --yes
    bool trace = false;                     // --trace
    bool listPorts = false;                 // --list-ports
    bool json = false;                      // --json (with --list-ports or --report)
    bool help = false;                      // --help
    bool version = false;                   // --version
    std::vector<std::string> windowArgs;    // P=, C=, V= in their order, as the window takes them
    std::string imagePath;                  // value of the last P=

    // The production database.
    std::optional<std::string> db;            // --db=URL: serial numbers and results
    std::optional<std::string> station;       // --station=NAME (default: the host name)
    std::string serialCounter = "default";    // --serial-counter=NAME
    std::optional<std::string> serialStart;   // --serial-start=XXXXXXXX (eight hex digits)
    std::optional<std::string> importSerials; // --import-serials=FILE
    bool report = false;                      // --report
    std::optional<std::string> since;         // --since=YYYY-MM-DD
};

struct ParseResult {
    CliOptions options;
    std::string error; // empty when the command line is usable
    bool ok() const { return error.empty(); }
};

// Never throws: a command line it cannot use comes back with the reason in error.
ParseResult ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText(const std::string& program);
std::string HelpText(const std::string& program);
// --version: the package's version, the loader's own and what the program was built with.
std::string VersionText(const std::string& program);

} // namespace tarnik::cli
