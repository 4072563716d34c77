#pragma once
// One run of tarnik-cli: parse the command line, set the core shell up with the terminal
// view, run one process as the unattended window does, and return the exit code.
#include <cstdio>
#include <string>
#include <vector>

namespace tarnik {
class SettingsStore;
}

namespace tarnik::cli {

struct CliStreams {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    std::FILE* in = stdin;
    bool stdinIsTerminal = false;
    bool stderrIsTerminal = false;
};

// Returns the process exit code (the exit status's low byte on POSIX). The settings are the
// platform's store unless settingsOverride is given.
int RunCli(const std::vector<std::string>& args, const std::string& executablePath,
           const CliStreams& streams, SettingsStore* settingsOverride = nullptr);

// The compilation date of an image in the system's short date and time format; the
// seconds are shown as they are, without a time-zone conversion.
std::string FormatImageDateForTerminal(long long seconds);

} // namespace tarnik::cli
