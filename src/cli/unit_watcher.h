#pragma once
// What a run tells an onlooker about its units, beside the terminal: the station page follows
// every port through these. A unit's view reports from that unit's thread, and only about its
// own slot; the round's start comes from the main thread while no unit runs.
#include <cstddef>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::cli {

struct CliOptions;
class StationDb;
struct UnitResult;

class UnitWatcher {
public:
    virtual ~UnitWatcher() = default;
    // The process is about to run on port with the image's unit type.
    virtual void Starting(std::size_t slot, const std::string& port, int unitType,
                          const std::optional<std::string>& serial) = 0;
    virtual void Step(std::size_t slot, const std::string& name) = 0;
    virtual void Status(std::size_t slot, const std::string& text) = 0;
    virtual void Progress(std::size_t slot, int done, int max) = 0;
};

class RunWatcher : public UnitWatcher {
public:
    // Every port's label, in port order (empty for the stored port, not known before it opens).
    virtual void RoundStarting(const std::vector<std::string>& labels) = 0;
    // A unit's process has ended (from that unit's thread).
    virtual void Finished(std::size_t slot, const UnitResult& unit) = 0;
};

// Serves the station page for --http and prints its address on err; nothing, with the
// reason printed on err, when it cannot be served. The earlier results come from the
// production database when there is one (db), else from the --log file.
std::unique_ptr<RunWatcher> ServeStationPage(const CliOptions& options, std::FILE* err,
                                             const StationDb* db);

} // namespace tarnik::cli
