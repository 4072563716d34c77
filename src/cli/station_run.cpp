#include "cli/station_run.h"

#include "cli/interrupt.h"
#include "cli/results_log.h"
#include "cli/station_console.h"
#include "cli/unit_watcher.h"
#include "shell/address_entry.h"
#include "tools/locked_settings.h"
#include "tools/serial_store.h"
#include "tools/sha256.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <thread>

namespace tarnik::cli {

std::string PortLabel(const std::string& port) {
    const std::string dev = "/dev/";
    return port.rfind(dev, 0) == 0 ? port.substr(dev.size()) : port;
}

int UnitExitCode(const UnitResult& unit) {
    return unit.refused ? kExitBadArguments : OutcomeExitCode(unit.outcome.kind);
}

int CombinedExitStatus(const std::vector<UnitResult>& units) {
    for (const UnitResult& unit : units)
        if (!unit.outcome.Succeeded()) return unit.outcome.exitStatus;
    return units.empty() ? -1 : units.front().outcome.exitStatus;
}

int CombinedExitCode(const std::vector<UnitResult>& units) {
    for (const UnitResult& unit : units)
        if (!unit.outcome.Succeeded()) return UnitExitCode(unit);
    return units.empty() ? kExitNothingRan : kExitProgrammed;
}

std::string SummaryTable(const std::vector<UnitResult>& units) {
    std::string table = "Summary:\n";
    char line[512];
    std::snprintf(line, sizeof line, "  %-16s %-9s %-60s %-17s %s\n", "Port", "Serial", "Status",
                  "Exit status", "Seconds");
    table += line;
    for (const UnitResult& unit : units) {
        const std::string exit = "Exit status: " + std::to_string(unit.outcome.exitStatus);
        std::snprintf(line, sizeof line, "  %-16s %-9s %-60s %-17s %.1f\n", unit.port.c_str(),
                      unit.serial ? unit.serial->c_str() : "-",
                      unit.status.empty() ? "-" : unit.status.c_str(), exit.c_str(), unit.seconds);
        table += line;
    }
    return table;
}

RoundSerials SerialsForRound(const CliOptions& options, std::size_t units) {
    RoundSerials round;
    round.serials.resize(units);
    if (options.serialStore) {
        const SerialAllocation taken = TakeSerials(*options.serialStore, units);
        round.error = taken.error;
        for (std::size_t i = 0; i < taken.serials.size() && i < units; ++i)
            round.serials[i] = taken.serials[i];
    } else if (options.serial) {
        std::string serial = *options.serial;
        for (auto& unitSerial : round.serials) {
            unitSerial = serial;
            serial = NextSerial(serial);
        }
    }
    return round;
}

namespace {

// Called with every unit's result as soon as its process has ended (from its thread).
using UnitFinished = std::function<void(const UnitResult&)>;

struct Round {
    int exitCode = 0;
    std::vector<UnitResult> units;
    bool refused = false;
};

// One unit on the calling thread, its output exactly as the unattended window's process.
Round RunOnePort(const CliOptions& options, const std::optional<std::string>& serial,
                 const std::string& executablePath, const CliStreams& streams,
                 SettingsStore& settings, const UnitFinished& finished, RunWatcher* watcher) {
    UnitJob job;
    job.port = options.port;
    job.serial = serial;
    job.terminal.trace = options.trace;
    job.terminal.yes = options.yes;
    job.terminal.interactive = streams.stdinIsTerminal;
    job.terminal.progressBar = streams.stderrIsTerminal;
    job.terminal.out = streams.out;
    job.terminal.err = streams.err;
    job.terminal.in = streams.in;
    job.terminal.watcher = watcher;
    if (watcher) watcher->RoundStarting({options.port ? PortLabel(*options.port) : ""});
    Round round;
    round.units.push_back(RunUnit(options, job, executablePath, settings));
    const UnitResult& unit = round.units.back();
    round.refused = unit.refused;
    if (round.refused) return round;
    finished(unit);
    if (watcher) watcher->Finished(0, unit);
    if (options.serialInc && unit.outcome.Succeeded())
        std::fprintf(streams.out, "Next serial number: %s\n", unit.nextSerial.c_str());
    std::fprintf(streams.out, "Exit status: %d\n", unit.outcome.exitStatus);
    std::fflush(streams.out);
    round.exitCode = UnitExitCode(unit);
    return round;
}

// Every --port at once, each unit on its own thread.
Round RunSeveralPorts(const CliOptions& options,
                      const std::vector<std::optional<std::string>>& serials,
                      const std::string& executablePath, const CliStreams& streams,
                      SettingsStore& settings, const UnitFinished& finished, RunWatcher* watcher) {
    const std::size_t count = options.ports.size();
    std::vector<std::string> labels;
    for (const std::string& port : options.ports)
        labels.push_back(PortLabel(port));
    StationConsole console(streams.err, streams.stderrIsTerminal, labels);
    LockedSettingsStore sharedSettings(settings);
    if (watcher) watcher->RoundStarting(labels);

    std::vector<UnitJob> jobs(count);
    for (std::size_t i = 0; i < count; ++i) {
        UnitJob& job = jobs[i];
        job.port = options.ports[i];
        job.serial = serials[i];
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
        job.terminal.watcher = watcher;
    }

    Round round;
    round.units.resize(count);
    {
        std::vector<std::jthread> units;
        for (std::size_t i = 0; i < count; ++i)
            units.emplace_back([&, i] {
                UnitResult& result = round.units[i];
                try {
                    result = RunUnit(options, jobs[i], executablePath, sharedSettings);
                } catch (const std::exception& error) {
                    // One unit's fault never ends the others: it is that unit's failure.
                    console.Print(streams.err,
                                  jobs[i].terminal.prefix + kProgram + ": " + error.what());
                }
                if (result.port.empty()) result.port = options.ports[i];
                if (result.refused) return;
                finished(result);
                if (watcher) watcher->Finished(i, result);
            });
    }
    console.Finish();
    for (const UnitResult& unit : round.units)
        round.refused = round.refused || unit.refused;
    if (round.refused) return round;

    const int status = CombinedExitStatus(round.units);
    std::fputs(SummaryTable(round.units).c_str(), streams.out);
    const bool allSucceeded =
        std::all_of(round.units.begin(), round.units.end(),
                    [](const UnitResult& unit) { return unit.outcome.Succeeded(); });
    if (options.serialInc && allSucceeded && serials.back())
        std::fprintf(streams.out, "Next serial number: %s\n", NextSerial(*serials.back()).c_str());
    std::fprintf(streams.out, "Exit status: %d\n", status);
    std::fflush(streams.out);
    round.exitCode = CombinedExitCode(round.units);
    return round;
}

Round RunRound(const CliOptions& options, const std::string& executablePath,
               const CliStreams& streams, SettingsStore& settings, const UnitFinished& finished,
               RunWatcher* watcher) {
    const std::size_t units = std::max<std::size_t>(options.ports.size(), 1);
    const RoundSerials serials = SerialsForRound(options, units);
    if (!serials.error.empty()) {
        std::fprintf(streams.err, "%s: %s\n", kProgram, serials.error.c_str());
        Round round;
        round.refused = true;
        return round;
    }
    if (options.ports.size() > 1)
        return RunSeveralPorts(options, serials.serials, executablePath, streams, settings,
                               finished, watcher);
    return RunOnePort(options, serials.serials.front(), executablePath, streams, settings, finished,
                      watcher);
}

} // namespace

int RunRounds(const CliOptions& options, const std::string& executablePath,
              const CliStreams& streams, SettingsStore& settings) {
    RunFacts facts;
    if (options.log) {
        std::error_code ec;
        facts.host = HostName();
        facts.imagePath = std::filesystem::absolute(options.imagePath, ec).string();
        facts.imageSha256 = Sha256OfFile(options.imagePath).value_or("");
        facts.programVersion = kProgramVersion;
        // A line that needs a record of every unit must not program units it cannot record.
        if (!AppendToFile(*options.log, "")) {
            std::fprintf(streams.err, "%s: cannot write the results log %s\n", kProgram,
                         options.log->c_str());
            return 2;
        }
    }
    const UnitFinished finished = [&](const UnitResult& unit) {
        if (!options.log) return;
        const std::string line = ResultLine(unit, facts, std::time(nullptr)) + "\n";
        if (!AppendToFile(*options.log, line))
            std::fprintf(streams.err, "%s: cannot append to the results log %s\n", kProgram,
                         options.log->c_str());
    };
    // The page serves from before the first round to the end of the last.
    std::unique_ptr<RunWatcher> page;
    if (options.http && !(page = ServeStationPage(options, streams.err))) return 2;
    if (!options.repeat) {
        const Round round =
            RunRound(options, executablePath, streams, settings, finished, page.get());
        return round.refused ? 2 : round.exitCode;
    }
    RunTotals totals;
    CliOptions roundOptions = options;
    for (;;) {
        const Round round =
            RunRound(roundOptions, executablePath, streams, settings, finished, page.get());
        if (round.refused) return 2;
        totals.Add(round.units);
        // A number taken is never taken again: the next run counts on from the last one.
        if (roundOptions.serial)
            for (std::size_t i = 0; i < round.units.size(); ++i)
                roundOptions.serial = NextSerial(*roundOptions.serial);
        // Ctrl+C ends the run of runs too: the processes it stopped were the last ones.
        if (InterruptCount() > 0 || !WaitForNextRun(streams)) break;
    }
    std::fputs(totals.Text().c_str(), streams.out);
    std::fprintf(streams.out, "Exit status: %d\n", totals.exitStatus);
    std::fflush(streams.out);
    return totals.exitCode;
}

void RunTotals::Add(const std::vector<UnitResult>& units) {
    ++runs;
    for (const UnitResult& unit : units) {
        // Until a unit fails, each one carries the run's result; the first failure keeps it.
        if (!failed) {
            exitStatus = unit.outcome.exitStatus;
            exitCode = UnitExitCode(unit);
        }
        if (unit.outcome.Succeeded()) {
            ++successes;
        } else {
            ++failures[unit.outcome.exitStatus];
            failed = true;
        }
    }
}

std::string RunTotals::Text() const {
    int units = successes;
    for (const auto& [status, count] : failures)
        units += count;
    std::string text = "Totals: " + std::to_string(runs) + (runs == 1 ? " run, " : " runs, ") +
                       std::to_string(units) + " units, " + std::to_string(successes) +
                       " succeeded, " + std::to_string(units - successes) + " failed\n";
    for (const auto& [status, count] : failures)
        text += "  Exit status: " + std::to_string(status) + "  " + std::to_string(count) +
                (count == 1 ? " unit\n" : " units\n");
    return text;
}

bool WaitForNextRun(const CliStreams& streams) {
    if (streams.stdinIsTerminal) {
        std::fputs("Next unit: connect it and press Enter (q and Enter to finish): ", streams.err);
        std::fflush(streams.err);
    }
    char line[256];
    if (!std::fgets(line, sizeof line, streams.in)) return false;
    const std::string answer = line;
    const std::size_t first = answer.find_first_not_of(" \t\r\n");
    return first == std::string::npos || (answer[first] != 'q' && answer[first] != 'Q');
}

} // namespace tarnik::cli
