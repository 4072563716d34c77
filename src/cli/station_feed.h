#pragma once
// The station page fed by a run: every port's card follows its unit's view, every ended unit
// goes first in the results, and the results that came before this run are read once, at the
// start, from a results source.
#include "cli/station_page.h"
#include "cli/unit_watcher.h"

#include <ctime>
#include <memory>

namespace tarnik::cli {

// Where the results that came before this run are read from.
class ResultsSource {
public:
    virtual ~ResultsSource() = default;
    // At most limit results, newest first.
    virtual std::vector<ShownResult> Earlier(std::size_t limit) const = 0;
};

// The results log (--log): its last lines, skipping any that is not a result.
class LogFileResults final : public ResultsSource {
public:
    explicit LogFileResults(std::string path) : path_(std::move(path)) {}
    std::vector<ShownResult> Earlier(std::size_t limit) const override;

private:
    std::string path_;
};

// The production database's rows of this station (--db).
class StationDbResults final : public ResultsSource {
public:
    explicit StationDbResults(const StationDb& db) : db_(db) {}
    std::vector<ShownResult> Earlier(std::size_t limit) const override;

private:
    const StationDb& db_;
};

// An ended unit as a row of the results.
ShownResult RowOfUnit(const UnitResult& unit, std::time_t when);

class StationFeed final : public RunWatcher {
public:
    // Shows the earlier results (source may be null); today's count into the totals.
    StationFeed(std::unique_ptr<StationPage> page, const ResultsSource* source, std::time_t now);

    const std::string& Url() const { return page_->Url(); }
    StationSnapshot Snapshot() const { return page_->Snapshot(); }

    void RoundStarting(const std::vector<std::string>& labels) override;
    void Starting(std::size_t slot, const std::string& port, int unitType,
                  const std::optional<std::string>& serial) override;
    void Step(std::size_t slot, const std::string& name) override;
    void Status(std::size_t slot, const std::string& text) override;
    void Progress(std::size_t slot, int done, int max) override;
    void Finished(std::size_t slot, const UnitResult& unit) override;

private:
    PortSnapshot* Card(std::size_t slot);
    void Show(std::size_t slot);

    std::unique_ptr<StationPage> page_;
    // The cards as the units see them. A slot is written only by its unit's thread (or by the
    // round's start, when none runs), and copied into the page under the page's lock.
    std::vector<PortSnapshot> cards_;
};

} // namespace tarnik::cli
