#pragma once
// The production database in tarnik-cli (--db): a run's serial numbers taken from it, every
// unit's result written to it, and the commands that only read or fill it (--report,
// --import-serials). A build without the database refuses --db with a reason.
#include "cli/cli_app.h"
#include "cli/cli_options.h"
#include "cli/result_row.h"
#include "cli/results_log.h"
#include "cli/station_run.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnik::cli {

class StationDb {
public:
    // Connects to --db (writing the rows a station spooled while it was away); null, with the
    // reason (password masked) in error, when it cannot be used. notes: what the connection
    // did that the operator should know (spooled rows written, or still waiting).
    static std::unique_ptr<StationDb> Open(const CliOptions& options, std::string& error,
                                           std::vector<std::string>& notes);
    ~StationDb();
    StationDb(const StationDb&) = delete;
    StationDb& operator=(const StationDb&) = delete;

    // One number per port in one transaction, in port order; the error when the run must not
    // start (the database is gone, the list is empty, the counter was never seeded).
    RoundSerials TakeSerials(const std::vector<std::string>& ports);

    // Writes the unit's row (any thread); empty when it is in the database, else why not and
    // where it waits.
    std::string Record(const UnitResult& unit, const RunFacts& facts);

    // This station's latest results, newest first (empty when they cannot be read).
    std::vector<ResultRow> Latest(std::size_t limit) const;

    struct State;

private:
    explicit StationDb(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// --report or --import-serials with --db: the exit code.
int RunDatabaseCommand(const CliOptions& options, const CliStreams& streams);

} // namespace tarnik::cli
