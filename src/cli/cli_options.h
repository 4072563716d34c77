#pragma once
// Command line of tarnik-cli: the window's P=, C=, V= arguments plus options that override
// the stored port, the remembered address, the serial number field and the serial step.
#include <optional>
#include <string>
#include <vector>

namespace tarnik::cli {

struct CliOptions {
    std::optional<std::string> port;     // --port=DEVICE
    std::optional<std::string> address;  // --address=HEX (one or two hex digits)
    std::optional<std::string> serial;   // --serial=XXXXXXXX (eight hex digits)
    bool serialInc = false;              // --serial-inc
    bool fast = false;                   // --fast
    std::optional<unsigned> turnaround;  // --turnaround-ms=N (0..50), milliseconds
    bool yes = false;                    // --yes
    bool trace = false;                  // --trace
    bool listPorts = false;              // --list-ports
    bool help = false;                   // --help
    bool version = false;                // --version
    std::vector<std::string> windowArgs; // P=, C=, V= in their order, as the window takes them
    std::string imagePath;               // value of the last P=
};

struct ParseResult {
    CliOptions options;
    std::string error; // empty when the command line is usable
    bool ok() const { return error.empty(); }
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText(const std::string& program);
std::string HelpText(const std::string& program);

} // namespace tarnik::cli
