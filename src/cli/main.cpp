// tarnik-cli: programs one unit from the command line, without a window.
#include "cli/cli_app.h"
#include "cli/interrupt.h"

#include <clocale>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
    std::setlocale(LC_TIME, "");
    tarnik::cli::InstallInterruptHandlers();
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::error_code ec;
    std::string exe = std::filesystem::absolute(argv[0], ec).string();
#ifndef _WIN32
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) exe = self.string();
#endif
    tarnik::cli::CliStreams streams;
    streams.stdinIsTerminal = isatty(fileno(stdin)) != 0;
    streams.stderrIsTerminal = isatty(fileno(stderr)) != 0;
    return tarnik::cli::RunCli(args, exe, streams);
}
