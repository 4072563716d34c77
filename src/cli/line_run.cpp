#include "cli/line_run.h"

#include "cli/line_console.h"
#include "shell/address_entry.h"
#include "tools/locked_settings.h"

#include <cstdio>
#include <exception>
#include <thread>

namespace tarnik::cli {

std::string PortLabel(const std::string& port) {
    const std::string dev = "/dev/";
    return port.rfind(dev, 0) == 0 ? port.substr(dev.size()) : port;
}

int CombinedExitStatus(const std::vector<UnitResult>& units) {
    for (const UnitResult& unit : units)
        if (!unit.succeeded) return unit.exitStatus;
    return units.empty() ? -1 : units.front().exitStatus;
}

std::string SummaryTable(const std::vector<UnitResult>& units) {
    std::string table = "Summary:\n";
    char line[512];
    std::snprintf(line, sizeof line, "  %-16s %-9s %-60s %-17s %s\n", "Port", "Serial", "Status",
                  "Exit status", "Seconds");
    table += line;
    for (const UnitResult& unit : units) {
        const std::string exit = "Exit status: " + std::to_string(unit.exitStatus);
        std::snprintf(line, sizeof line, "  %-16s %-9s %-60s %-17s %.1f\n", unit.port.c_str(),
                      unit.serial ? unit.serial->c_str() : "-",
                      unit.status.empty() ? "-" : unit.status.c_str(), exit.c_str(), unit.seconds);
        table += line;
    }
    return table;
}

int RunLine(const CliOptions& options, const std::string& executablePath, const CliStreams& streams,
            SettingsStore& settings) {
    const std::size_t count = options.ports.size();
    std::vector<std::string> labels;
    for (const std::string& port : options.ports)
        labels.push_back(PortLabel(port));
    LineConsole console(streams.err, streams.stderrIsTerminal, labels);
    LockedSettingsStore sharedSettings(settings);

    std::vector<UnitJob> jobs(count);
    std::optional<std::string> serial = options.serial;
    for (std::size_t i = 0; i < count; ++i) {
        UnitJob& job = jobs[i];
        job.port = options.ports[i];
        job.serial = serial;
        if (serial) serial = NextSerial(*serial);
        job.terminal.trace = options.trace;
        job.terminal.yes = options.yes;
        // Several units cannot share one keyboard: a question is answered by --yes or No.
        job.terminal.interactive = false;
        job.terminal.out = streams.out;
        job.terminal.err = streams.err;
        job.terminal.in = streams.in;
        job.terminal.console = &console;
        job.terminal.prefix = "[" + labels[i] + "] ";
        job.terminal.slot = i;
    }

    std::vector<UnitResult> results(count);
    {
        std::vector<std::jthread> units;
        for (std::size_t i = 0; i < count; ++i)
            units.emplace_back([&, i] {
                try {
                    results[i] = RunUnit(options, jobs[i], executablePath, sharedSettings);
                } catch (const std::exception& error) {
                    // One unit's fault never ends the others: it is that unit's failure.
                    console.Print(streams.err,
                                  jobs[i].terminal.prefix + kProgram + ": " + error.what());
                }
                if (results[i].port.empty()) results[i].port = options.ports[i];
            });
    }
    console.Finish();
    for (const UnitResult& unit : results)
        if (unit.refused) return 2;

    const int status = CombinedExitStatus(results);
    std::fputs(SummaryTable(results).c_str(), streams.out);
    std::fprintf(streams.out, "Exit status: %d\n", status);
    std::fflush(streams.out);
    return ExitCode(status);
}

} // namespace tarnik::cli
