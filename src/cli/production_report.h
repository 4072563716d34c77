#pragma once
// The report of the production database, per image: how many units, how many were programmed,
// the failures by the step that failed, the first-pass yield and the median time.
//
// First-pass yield: the share of the processes that ran to a verdict (programmed or failed)
// that ended programmed, programmed / (programmed + failed). Every process counts once: a unit
// that is tried again gets a new serial number, so the database cannot tell a retried unit from
// a new one, and a unit that failed once counts as a failure even if a later try programmed
// it. Interrupted processes and processes that never started say nothing about the unit and
// are left out. No figure (null, "-") when no process ran to a verdict.
// Median seconds: over the programmed processes only, the time a good unit takes.
#include <cstddef>
#include <ctime>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::cli {

// What the report reads of one row.
struct ReportRow {
    std::string image;
    std::string imageSha256;
    std::string outcome;
    int exitStatus = -1;
    double seconds = 0;
};

struct ImageFigures {
    std::string image;
    std::string imageSha256;
    std::size_t units = 0; // every row, whatever its outcome
    std::size_t programmed = 0;
    std::size_t failed = 0;
    std::size_t interrupted = 0;
    std::size_t notStarted = 0;
    std::map<int, std::size_t> failedBySteps; // failing step: failed units
    std::optional<double> firstPassYield;     // 0..1
    std::optional<double> medianSeconds;
};

// The step that failed, read from a failed process's exit status.
int FailingStep(int exitStatus);

// The figures per image (path and SHA-256: an image rebuilt under the same name is another
// image), in the order of the path.
std::vector<ImageFigures> SummariseResults(const std::vector<ReportRow>& rows);

// An aligned table with a heading, one line per image.
std::string ReportTable(const std::vector<ImageFigures>& images);
// A JSON array, one object per image.
std::string ReportJson(const std::vector<ImageFigures>& images);

// Local midnight at the start of a YYYY-MM-DD date; nothing when it is not a valid date.
std::optional<std::time_t> ParseSinceDate(const std::string& date);

} // namespace tarnik::cli
