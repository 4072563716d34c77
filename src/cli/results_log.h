#pragma once
// The results log of a station (--log=FILE): one JSON object per unit process, one
// line each (JSON Lines), every line added with a single append so that concurrent runs
// writing the same file never interleave.
#include "cli/station_run.h"

#include <ctime>
#include <string>

namespace tarnik::cli {

// What every line of a run shares.
struct RunFacts {
    std::string host;
    std::string imagePath; // absolute
    std::string imageSha256;
    std::string programVersion;
};

// The local time with its offset from UTC, for example 2026-12-08T21:05:09+01:00.
std::string Iso8601(std::time_t when);
std::string HostName();

// One unit's line, without the line end.
std::string ResultLine(const UnitResult& unit, const RunFacts& run, std::time_t when);

// Appends text to the file (created when missing) with one write; false when it failed.
bool AppendToFile(const std::string& path, const std::string& text);

} // namespace tarnik::cli
