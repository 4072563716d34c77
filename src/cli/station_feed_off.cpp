// tarnik-cli built without the station page.
#include "cli/cli_options.h"
#include "cli/unit_watcher.h"

namespace tarnik::cli {

std::unique_ptr<RunWatcher> ServeStationPage(const CliOptions&, std::FILE* err, const StationDb*) {
    std::fputs("tarnik-cli: --http: this build has no station page\n", err);
    return nullptr;
}

} // namespace tarnik::cli
