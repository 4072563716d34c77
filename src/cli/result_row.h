#pragma once
// One unit process as the production database keeps it: the fields of the results log's line
// plus the run's identity (run_id), the station and the outcome's word.
#include <ctime>
#include <optional>
#include <string>

namespace tarnik::cli {

struct ResultRow {
    std::string runId; // unique per unit process: NewRunId()
    std::time_t time = 0;
    std::string station;
    std::string host;
    std::string port;
    std::string image; // absolute path
    std::string imageSha256;
    int unitType = -1;
    std::string imageVersion;
    std::string imageDate;
    std::string unitAddress;
    std::optional<std::string> serial; // none when no number was written into the unit
    bool verify = false;
    int exitStatus = -1;
    std::string outcome; // "programmed", "failed", "interrupted" or "not started"
    std::string status;  // the last status line, UTF-8
    double seconds = 0;
    int recordsSent = 0;
    std::string programVersion;

    bool operator==(const ResultRow&) const = default;
};

// 32 random hex digits.
std::string NewRunId();

// The text as a database column takes it: well-formed UTF-8 without NUL characters (a server
// refuses anything else, and the row would never be stored). Bytes that are not UTF-8, and
// NULs, become U+FFFD; everything else is kept.
std::string StorableText(const std::string& text);

// The row with every text storable.
ResultRow StorableRow(ResultRow row);

// The time as UTC text, 2026-12-08T20:05:09Z: rows of stations in different time zones
// sort and compare by it.
std::string UtcText(std::time_t when);
// The time of such a text; nothing when it is not one.
std::optional<std::time_t> TimeOfUtcText(const std::string& text);

} // namespace tarnik::cli
