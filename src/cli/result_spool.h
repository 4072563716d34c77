#pragma once
// Rows that could not reach the production database wait in a spool file of the station (JSON
// Lines, one row a line), to be written at the next successful connection. Every change of the
// file is made under the lock of a lock file beside it, so processes of one station that add
// rows while another replays them lose none.
#include "cli/result_row.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::cli {

// $XDG_STATE_HOME/tarnik (~/.local/state/tarnik when unset) on POSIX; %LOCALAPPDATA%\tarnik
// on Windows. Empty when none of them is known.
std::filesystem::path DefaultSpoolFolder();

// The spool file of a database in the folder: one per database (named after a digest of its
// masked URL), so a row is only ever replayed into the database it was meant for.
std::filesystem::path SpoolFileFor(const std::filesystem::path& folder,
                                   const std::string& maskedUrl);

// A row as one JSON line (without the line end), and back; nothing for a line that is not one.
std::string SpoolLine(const ResultRow& row);
std::optional<ResultRow> RowFromSpoolLine(const std::string& line);

struct SpoolReplay {
    std::size_t written = 0; // rows handed to the database
    std::string error;       // why spooled rows are still waiting; empty when none are
    bool ok() const { return error.empty(); }
};

class ResultSpool {
public:
    explicit ResultSpool(std::filesystem::path file) : file_(std::move(file)) {}

    // Adds the row (the folder is made when missing); false with why when it could not.
    bool Add(const ResultRow& row, std::string& why) const;

    // Whether rows may be waiting: cheap, no lock.
    bool MayHoldRows() const;

    // Hands every waiting row to write at once and empties the spool when write returns true
    // (write fills why when it returns false, and the rows stay). Lines that are not rows
    // (a crash in the middle of an append) are moved to a file beside the spool ending in
    // ".unreadable", kept for a person to look at.
    using Writer = std::function<bool(const std::vector<ResultRow>& rows, std::string& why)>;
    SpoolReplay Replay(const Writer& write) const;

    const std::filesystem::path& File() const { return file_; }

private:
    std::filesystem::path file_;
};

} // namespace tarnik::cli
