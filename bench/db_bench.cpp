// Time to take the serial numbers of a 24-unit station run from the production database: on
// SQLite in a temporary file, and on PostgreSQL when the PG* variables name a server (or on the
// databases whose URLs are given). Prints the figures, asserts nothing.
#include "cli/production_db.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kUnits = 24;
constexpr int kRuns = 30;

void Measure(const std::string& url, const tarnik::cli::DbOptions& options) {
    using tarnik::cli::ProductionDb;
    tarnik::cli::OpenedDb opened = ProductionDb::Open(url, options);
    if (!opened.db) {
        std::printf("%s: %s\n", tarnik::cli::MaskedUrl(url).c_str(), opened.error.c_str());
        return;
    }
    tarnik::cli::SerialRequest request;
    request.counter = "bench-" + tarnik::cli::NewRunId().substr(0, 8);
    request.start = 0;
    request.station = "bench";
    for (std::size_t i = 0; i < kUnits; ++i)
        request.ports.push_back("ttyUSB" + std::to_string(i));
    std::vector<double> ms;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        const tarnik::SerialAllocation got = opened.db->TakeSerials(request);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        if (!got.ok()) {
            std::printf("%s: %s\n", opened.db->Url().c_str(), got.error.c_str());
            return;
        }
        ms.push_back(took.count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%s: %zu numbers in %.2f ms (median of %d runs; fastest %.2f, slowest %.2f)\n",
                opened.db->Url().c_str(), kUnits, ms[ms.size() / 2], kRuns, ms.front(), ms.back());
}

} // namespace

int main(int argc, char** argv) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("tarnik-db-bench-" + tarnik::cli::NewRunId());
    std::filesystem::create_directories(folder);
    tarnik::cli::DbOptions options;
    options.spoolFolder = folder / "spool";
    std::vector<std::string> urls(argv + 1, argv + argc);
    if (urls.empty()) {
        urls.push_back("sqlite:" + (folder / "bench.db").string());
        if (std::getenv("PGHOST") != nullptr)
            urls.emplace_back("postgresql://");
        else
            std::printf("PostgreSQL: not measured (no PGHOST; scripts/test-postgres gives one)\n");
    }
    for (const std::string& url : urls)
        Measure(url, options);
    std::filesystem::remove_all(folder);
    return 0;
}
