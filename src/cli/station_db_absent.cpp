// tarnik-cli built without the production database (the Windows cross build): --db is refused
// with the reason, before any port opens.
#include "cli/station_db.h"

#include "programmers/process_outcome.h"

#include <cstdio>

namespace tarnik::cli {

namespace {
constexpr const char* kAbsent = "this tarnik-cli was built without the production database (--db)";
}

struct StationDb::State {};

std::unique_ptr<StationDb> StationDb::Open(const CliOptions&, std::string& error,
                                           std::vector<std::string>&) {
    error = kAbsent;
    return nullptr;
}

StationDb::StationDb(std::unique_ptr<State> state) : state_(std::move(state)) {}
StationDb::~StationDb() = default;

RoundSerials StationDb::TakeSerials(const std::vector<std::string>&) {
    return {{}, kAbsent};
}

std::string StationDb::Record(const UnitResult&, const RunFacts&) {
    return kAbsent;
}

std::vector<ResultRow> StationDb::Latest(std::size_t) const {
    return {};
}

int RunDatabaseCommand(const CliOptions&, const CliStreams& streams) {
    std::fprintf(streams.err, "%s: %s\n", kProgram, kAbsent);
    return kExitNothingRan;
}

} // namespace tarnik::cli
