#include "cli/station_db.h"

#include "cli/production_db.h"
#include "programmers/process_outcome.h"

#include <cstdio>

namespace tarnik::cli {

struct StationDb::State {
    std::unique_ptr<ProductionDb> db;
    SerialRequest request; // counter, first number and station; the ports per round
};

namespace {

void SayError(const CliStreams& streams, const std::string& text) {
    std::fprintf(streams.err, "%s: %s\n", kProgram, text.c_str());
    std::fflush(streams.err);
}

} // namespace

std::unique_ptr<StationDb> StationDb::Open(const CliOptions& options, std::string& error,
                                           std::vector<std::string>& notes) {
    OpenedDb opened = ProductionDb::Open(*options.db);
    if (!opened.db) {
        error = opened.error;
        return nullptr;
    }
    if (opened.replay.written > 0)
        notes.push_back(std::to_string(opened.replay.written) + " spooled results written to " +
                        opened.db->Url());
    if (!opened.replay.ok()) notes.push_back(opened.replay.error);
    auto state = std::make_unique<State>();
    state->db = std::move(opened.db);
    state->request.counter = options.serialCounter;
    state->request.station = options.station.value_or(HostName());
    if (options.serialStart)
        state->request.start =
            static_cast<std::uint32_t>(std::stoul(*options.serialStart, nullptr, 16));
    return std::unique_ptr<StationDb>(new StationDb(std::move(state)));
}

StationDb::StationDb(std::unique_ptr<State> state) : state_(std::move(state)) {}
StationDb::~StationDb() = default;

std::vector<ResultRow> StationDb::Latest(std::size_t limit) const {
    return state_->db->Latest(state_->request.station, limit).value_or(std::vector<ResultRow>{});
}

RoundSerials StationDb::TakeSerials(const std::vector<std::string>& ports) {
    SerialRequest request = state_->request;
    request.ports = ports;
    const SerialAllocation taken = state_->db->TakeSerials(request);
    RoundSerials round;
    round.error = taken.error;
    if (taken.ok()) round.serials.assign(taken.serials.begin(), taken.serials.end());
    return round;
}

std::string StationDb::Record(const UnitResult& unit, const RunFacts& facts) {
    ResultRow row;
    row.runId = NewRunId();
    row.time = std::time(nullptr);
    row.station = state_->request.station;
    row.host = facts.host;
    row.port = unit.port;
    row.image = facts.imagePath;
    row.imageSha256 = facts.imageSha256;
    row.unitType = unit.unitType;
    row.imageVersion = unit.imageVersion;
    row.imageDate = unit.imageDate;
    row.unitAddress = unit.unitAddress;
    row.serial = unit.serial;
    row.verify = unit.verify;
    row.exitStatus = unit.outcome.exitStatus;
    row.outcome = std::string(OutcomeWord(unit.outcome.kind));
    row.status = unit.status;
    row.seconds = unit.seconds;
    row.recordsSent = unit.recordsSent;
    row.programVersion = facts.programVersion;
    return state_->db->Record(row).message;
}

int RunDatabaseCommand(const CliOptions& options, const CliStreams& streams) {
    std::optional<std::time_t> since;
    if (options.since) {
        since = ParseSinceDate(*options.since);
        if (!since) {
            SayError(streams, "--since takes a date as YYYY-MM-DD: " + *options.since);
            return kExitBadArguments;
        }
    }
    OpenedDb opened = ProductionDb::Open(*options.db);
    if (!opened.db) {
        SayError(streams, opened.error);
        return kExitNothingRan;
    }
    if (!opened.replay.ok()) SayError(streams, opened.replay.error);
    if (options.importSerials) {
        const ImportOutcome imported =
            opened.db->ImportSerials(options.serialCounter, *options.importSerials);
        if (!imported.ok()) {
            SayError(streams, imported.error);
            return kExitFailed;
        }
        std::fprintf(streams.out, "Imported %zu serial numbers into the list of counter \"%s\"\n",
                     imported.imported, options.serialCounter.c_str());
        return kExitProgrammed;
    }
    const ReportOutcome report = opened.db->Report(since);
    if (!report.ok()) {
        SayError(streams, report.error);
        return kExitFailed;
    }
    std::fputs((options.json ? ReportJson(report.images) : ReportTable(report.images)).c_str(),
               streams.out);
    return kExitProgrammed;
}

} // namespace tarnik::cli
