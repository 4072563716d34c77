#include "cli/station_feed.h"

#include "cli/cli_options.h"
#include "cli/results_log.h"
#include "cli/station_db.h"
#include "cli/station_run.h"
#include "image/unit_types.h"
#include "tools/cp1250.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <deque>
#include <fstream>

namespace tarnik::cli {

namespace {

PortState StateOf(ProcessOutcome::Kind kind) {
    switch (kind) {
    case ProcessOutcome::Kind::Succeeded:
        return PortState::Programmed;
    case ProcessOutcome::Kind::Interrupted:
        return PortState::Interrupted;
    case ProcessOutcome::Kind::Failed:
    case ProcessOutcome::Kind::NotStarted:
        break;
    }
    return PortState::Failed;
}

std::string WithoutPrefix(const std::string& text, std::string_view prefix) {
    return text.rfind(prefix, 0) == 0 ? text.substr(prefix.size()) : text;
}

// The log keeps no step of its own: the status line names it ("Process status: An error
// occurred. Connection establishment" failed in "Connection establishment").
std::string StepOfStatus(const std::string& status) {
    return WithoutPrefix(WithoutPrefix(status, "Process status: "), "An error occurred. ");
}

// One line of the results log, or nothing when it is not one.
std::optional<ShownResult> RowOfLogLine(const std::string& line) {
    const auto json = nlohmann::json::parse(line, nullptr, false);
    if (!json.is_object()) return std::nullopt;
    const auto text = [&json](const char* key) {
        const auto it = json.find(key);
        return it != json.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    const auto number = [&json](const char* key, auto fallback) {
        const auto it = json.find(key);
        return it != json.end() && it->is_number() ? it->get<decltype(fallback)>() : fallback;
    };
    ShownResult row;
    row.outcome = text("outcome");
    if (row.outcome.empty()) return std::nullopt;
    row.time = text("time");
    row.port = PortLabel(text("port"));
    row.unitType = number("unit_type", -1);
    if (const auto serial = json.find("serial"); serial != json.end() && serial->is_string())
        row.serial = serial->get<std::string>();
    row.exitStatus = number("exit_status", -1);
    row.status = text("status");
    row.step = StepOfStatus(row.status);
    row.seconds = number("seconds", 0.0);
    return row;
}

} // namespace

std::vector<ShownResult> LogFileResults::Earlier(std::size_t limit) const {
    // A station's log grows all year: only its last lines are read as results.
    std::deque<std::string> last;
    std::ifstream in(path_);
    for (std::string line; limit > 0 && std::getline(in, line);) {
        if (last.size() == limit) last.pop_front();
        last.push_back(std::move(line));
    }
    std::vector<ShownResult> rows;
    for (auto line = last.rbegin(); line != last.rend(); ++line)
        if (auto row = RowOfLogLine(*line)) rows.push_back(std::move(*row));
    return rows;
}

std::vector<ShownResult> StationDbResults::Earlier(std::size_t limit) const {
    std::vector<ShownResult> rows;
    for (const ResultRow& stored : db_.Latest(limit)) {
        ShownResult row;
        row.time = Iso8601(stored.time);
        row.port = PortLabel(stored.port);
        row.unitType = stored.unitType;
        row.serial = stored.serial;
        row.outcome = stored.outcome;
        row.exitStatus = stored.exitStatus;
        row.status = stored.status;
        row.step = StepOfStatus(row.status);
        row.seconds = stored.seconds;
        rows.push_back(std::move(row));
    }
    return rows;
}

ShownResult RowOfUnit(const UnitResult& unit, std::time_t when) {
    ShownResult row;
    row.time = Iso8601(when);
    row.port = PortLabel(unit.port);
    row.unitType = unit.unitType;
    row.serial = unit.serial;
    row.outcome = OutcomeWord(unit.outcome.kind);
    row.exitStatus = unit.outcome.exitStatus;
    row.step = DisplayUtf8(unit.outcome.stepName);
    row.status = unit.status;
    row.seconds = unit.seconds;
    return row;
}

StationFeed::StationFeed(std::unique_ptr<StationPage> page, const ResultsSource* source,
                         std::time_t now)
    : page_(std::move(page)) {
    if (!source) return;
    StationSnapshot snapshot;
    snapshot.results = source->Earlier(kKeptResults);
    // The totals tell how the day goes: the earlier units of today count, older ones do not.
    const std::string today = Iso8601(now).substr(0, 10);
    for (const ShownResult& row : snapshot.results)
        if (row.time.rfind(today, 0) == 0) CountResult(snapshot.totals, row);
    page_->Replace(std::move(snapshot));
}

PortSnapshot* StationFeed::Card(std::size_t slot) {
    return slot < cards_.size() ? &cards_[slot] : nullptr;
}

void StationFeed::Show(std::size_t slot) {
    page_->UpdatePort(slot, cards_[slot]);
}

void StationFeed::RoundStarting(const std::vector<std::string>& labels) {
    cards_.assign(labels.size(), PortSnapshot{});
    for (std::size_t slot = 0; slot < labels.size(); ++slot) {
        cards_[slot].port = labels[slot];
        Show(slot);
    }
}

void StationFeed::Starting(std::size_t slot, const std::string& port, int unitType,
                           const std::optional<std::string>& serial) {
    PortSnapshot* card = Card(slot);
    if (!card) return;
    *card = PortSnapshot{};
    card->port = PortLabel(port);
    card->unitType = unitType;
    if (IsKnownUnitType(unitType)) card->unitTitle = DisplayUtf8(UnitTypeName(unitType));
    card->serial = serial;
    card->state = PortState::Running;
    card->runningSince = std::chrono::steady_clock::now();
    Show(slot);
}

void StationFeed::Step(std::size_t slot, const std::string& name) {
    PortSnapshot* card = Card(slot);
    // Some steps have no name of their own: the card keeps telling the last one that had.
    if (!card || card->state != PortState::Running || name.empty() || card->step == name) return;
    card->step = name;
    Show(slot);
}

void StationFeed::Status(std::size_t slot, const std::string& text) {
    PortSnapshot* card = Card(slot);
    if (!card || card->state != PortState::Running || card->status == text) return;
    card->status = text;
    Show(slot);
}

void StationFeed::Progress(std::size_t slot, int done, int max) {
    PortSnapshot* card = Card(slot);
    if (!card || card->state != PortState::Running || max <= 0) return;
    // A copy for every record would be wasted: the card shows whole percents.
    const int percent = std::clamp(done, 0, max) * 100 / max;
    if (percent == card->percent) return;
    card->percent = percent;
    Show(slot);
}

void StationFeed::Finished(std::size_t slot, const UnitResult& unit) {
    page_->AddResult(RowOfUnit(unit, std::time(nullptr)));
    PortSnapshot* card = Card(slot);
    if (!card) return;
    if (!unit.port.empty()) card->port = PortLabel(unit.port);
    card->unitType = unit.unitType;
    if (IsKnownUnitType(unit.unitType)) card->unitTitle = DisplayUtf8(UnitTypeName(unit.unitType));
    card->serial = unit.serial;
    card->state = StateOf(unit.outcome.kind);
    if (!unit.outcome.stepName.empty()) card->step = DisplayUtf8(unit.outcome.stepName);
    if (unit.outcome.Succeeded()) card->percent = 100;
    card->runningSince.reset();
    card->seconds = unit.seconds;
    // Where nothing ran, the reason is what the operator must read.
    card->status = unit.status.empty() ? DisplayUtf8(unit.outcome.reason) : unit.status;
    Show(slot);
}

std::unique_ptr<RunWatcher> ServeStationPage(const CliOptions& options, std::FILE* err,
                                             const StationDb* db) {
    const HttpAddressParse parse = ParseHttpAddress(*options.http);
    if (!parse.error.empty()) {
        std::fprintf(err, "%s: --http=%s: %s\n", kProgram, options.http->c_str(),
                     parse.error.c_str());
        return nullptr;
    }
    std::string error;
    auto page = StationPage::Start(parse.address, error);
    if (!page) {
        std::fprintf(err, "%s: %s\n", kProgram, error.c_str());
        return nullptr;
    }
    std::unique_ptr<ResultsSource> earlier;
    if (db)
        earlier = std::make_unique<StationDbResults>(*db);
    else if (options.log)
        earlier = std::make_unique<LogFileResults>(*options.log);
    auto feed = std::make_unique<StationFeed>(std::move(page), earlier.get(), std::time(nullptr));
    std::fprintf(err, "%s: station page: %s\n", kProgram, feed->Url().c_str());
    if (!IsLoopbackHost(parse.address.host))
        std::fprintf(err,
                     "%s: the station page has no authentication: anyone who reaches %s "
                     "can read it\n",
                     kProgram, feed->Url().c_str());
    std::fflush(err);
    return feed;
}

} // namespace tarnik::cli
