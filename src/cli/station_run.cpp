#include "cli/station_run.h"

#include "cli/interrupt.h"
#include "cli/results_log.h"
#include "cli/station_console.h"
#include "cli/station_db.h"
#include "cli/unit_watcher.h"
#include "shell/address_entry.h"
#include "tools/cp1250.h"
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

std::string SummaryResult(const UnitResult& unit) {
    std::string result(OutcomeWord(unit.outcome.kind));
    if (unit.outcome.kind == ProcessOutcome::Kind::Failed && !unit.outcome.stepName.empty())
        result += ": " + DisplayUtf8(unit.outcome.stepName);
    return result;
}

std::string SummaryTable(const std::vector<UnitResult>& units) {
    struct Row {
        std::string port, serial, result, exitStatus, seconds;
    };
    std::vector<Row> rows{{"Port", "Serial", "Result", "Exit status", "Seconds"}};
    for (const UnitResult& unit : units) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", unit.seconds);
        rows.push_back({unit.port, unit.serial.value_or("-"), SummaryResult(unit),
                        std::to_string(unit.outcome.exitStatus), seconds});
    }
    // Each column as wide as its widest cell: ports named by id are long, numbers are short.
    std::size_t port = 0, serial = 0, result = 0, exitStatus = 0, seconds = 0;
    for (const Row& row : rows) {
        port = std::max(port, row.port.size());
        serial = std::max(serial, row.serial.size());
        result = std::max(result, row.result.size());
        exitStatus = std::max(exitStatus, row.exitStatus.size());
        seconds = std::max(seconds, row.seconds.size());
    }
    const auto left = [](const std::string& cell, std::size_t width) {
        return cell + std::string(width - cell.size() + 2, ' ');
    };
    const auto right = [](const std::string& cell, std::size_t width) {
        return std::string(width - cell.size(), ' ') + cell;
    };
    std::string table = "Summary:\n";
    for (const Row& row : rows)
        table += "  " + left(row.port, port) + left(row.serial, serial) + left(row.result, result) +
                 right(row.exitStatus, exitStatus) + "  " + right(row.seconds, seconds) + "\n";
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
    bool notStarted = false; // the database gave no serial numbers: nothing ran
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
               StationDb* db, RunWatcher* watcher) {
    const std::size_t units = std::max<std::size_t>(options.ports.size(), 1);
    const RoundSerials serials =
        db ? db->TakeSerials(options.ports.empty()
                                 ? std::vector<std::string>{options.port.value_or("")}
                                 : options.ports)
           : SerialsForRound(options, units);
    if (!serials.error.empty()) {
        std::fprintf(streams.err, "%s: %s\n", kProgram, serials.error.c_str());
        Round round;
        // The database refusing numbers is a run that did not start, not a bad command line.
        (db ? round.notStarted : round.refused) = true;
        return round;
    }
    if (options.ports.size() > 1)
        return RunSeveralPorts(options, serials.serials, executablePath, streams, settings,
                               finished, watcher);
    return RunOnePort(options, serials.serials.front(), executablePath, streams, settings, finished,
                      watcher);
}

// A run that did not start: the reason (when not said yet) and the status of nothing run.
int NothingRan(const CliStreams& streams, const std::string& why) {
    if (!why.empty()) std::fprintf(streams.err, "%s: %s\n", kProgram, why.c_str());
    std::fprintf(streams.out, "Exit status: -1\n");
    std::fflush(streams.out);
    return kExitNothingRan;
}

} // namespace

int RunRounds(const CliOptions& options, const std::string& executablePath,
              const CliStreams& streams, SettingsStore& settings) {
    RunFacts facts;
    if (options.log || options.db) {
        std::error_code ec;
        facts.host = HostName();
        facts.imagePath = std::filesystem::absolute(options.imagePath, ec).string();
        facts.imageSha256 = Sha256OfFile(options.imagePath).value_or("");
        facts.programVersion = kProgramVersion;
    }
    std::unique_ptr<StationDb> db;
    if (options.db) {
        // Reached before any port opens: units whose numbers and rows have no home never start.
        std::string why;
        std::vector<std::string> notes;
        db = StationDb::Open(options, why, notes);
        for (const std::string& note : notes)
            std::fprintf(streams.err, "%s: %s\n", kProgram, note.c_str());
        if (!db) return NothingRan(streams, why);
    }
    if (options.log) {
        // A line that needs a record of every unit must not program units it cannot record.
        if (!AppendToFile(*options.log, "")) {
            std::fprintf(streams.err, "%s: cannot write the results log %s\n", kProgram,
                         options.log->c_str());
            return 2;
        }
    }
    const UnitFinished finished = [&](const UnitResult& unit) {
        if (db)
            if (const std::string why = db->Record(unit, facts); !why.empty())
                std::fprintf(streams.err, "%s: %s\n", kProgram, why.c_str());
        if (!options.log) return;
        const std::string line = ResultLine(unit, facts, std::time(nullptr)) + "\n";
        if (!AppendToFile(*options.log, line))
            std::fprintf(streams.err, "%s: cannot append to the results log %s\n", kProgram,
                         options.log->c_str());
    };
    // The page serves from before the first round to the end of the last.
    std::unique_ptr<RunWatcher> page;
    if (options.http && !(page = ServeStationPage(options, streams.err, db.get()))) return 2;
    if (!options.repeat) {
        const Round round =
            RunRound(options, executablePath, streams, settings, finished, db.get(), page.get());
        if (round.notStarted) return NothingRan(streams, {});
        return round.refused ? 2 : round.exitCode;
    }
    RunTotals totals;
    CliOptions roundOptions = options;
    for (;;) {
        const Round round = RunRound(roundOptions, executablePath, streams, settings, finished,
                                     db.get(), page.get());
        if (round.refused) return 2;
        // A list of numbers that ran out ends the run of runs; nothing of this round ran.
        if (round.notStarted) {
            if (!totals.failed) {
                totals.exitStatus = -1;
                totals.exitCode = kExitNothingRan;
            }
            break;
        }
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
