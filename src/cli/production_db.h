#pragma once
// The production database of a station, or of several stations that share a line: serial
// numbers handed out centrally (from a counter, or from a list of pre-assigned numbers) and one
// row per unit process for traceability. Opened by URL:
//   sqlite:PATH                     one station; the file is created on first use
//   postgresql://[user[:password]@]host[:port]/dbname[?...]   (libpq's own URL; the password
//                                   may also come from PGPASSWORD or ~/.pgpass)
// A password never appears in a message: every URL shown has it masked.
//
// The schema is created and upgraded here (a schema_version table); a database whose schema is
// newer than this program knows is refused. Every value reaches the database as a bound
// parameter, never inside the SQL text.
//
// A row that cannot be written (the database cannot be reached) goes to a spool file of this
// station and is written at the next successful connection; the row's run_id is unique in the
// table, so a row is stored at most once however often it is replayed.
#include "cli/production_report.h"
#include "cli/result_row.h"
#include "cli/result_spool.h"
#include "tools/serial_store.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::cli {

// The URL with its password (in the user part or a password= parameter) shown as ***.
std::string MaskedUrl(const std::string& url);

struct DbOptions {
    // SQLite: how long a writer waits for another station process's transaction to end.
    std::chrono::milliseconds busyTimeout{10000};
    // Where the spool file goes; empty: DefaultSpoolFolder().
    std::filesystem::path spoolFolder;
};

// The numbers of one run: one per port, in the order given (port order).
struct SerialRequest {
    std::string counter = "default";
    // The first number of a counter that has never been used; ignored once it has been, and
    // by a counter that hands out an imported list.
    std::optional<std::uint32_t> start;
    std::string station;
    std::vector<std::string> ports;
};

struct ImportOutcome {
    std::size_t imported = 0;
    std::string error; // empty when the whole list was imported; else nothing was
    bool ok() const { return error.empty(); }
};

struct RecordOutcome {
    enum class Where {
        Database, // the row is in the database
        Spooled,  // the database could not be reached: the row waits in the spool file
        Lost,     // neither the database nor the spool file could take it
    };
    Where where = Where::Lost;
    std::string message; // why the row is not in the database; empty when it is
};

struct ReportOutcome {
    std::vector<ImageFigures> images;
    std::string error;
    bool ok() const { return error.empty(); }
};

class ProductionDb;

struct OpenedDb {
    std::unique_ptr<ProductionDb> db; // null when the database could not be opened
    std::string error;                // why not, the URL masked
    SpoolReplay replay;               // the spooled rows written on connecting
};

// The units of a run may share one object: their calls take turns on its one connection.
class ProductionDb {
public:
    // Connects, creates or upgrades the schema and writes the rows spooled for this database.
    static OpenedDb Open(const std::string& url, const DbOptions& options = {});
    ~ProductionDb();
    ProductionDb(const ProductionDb&) = delete;
    ProductionDb& operator=(const ProductionDb&) = delete;

    // Takes one number per port in one transaction: all of them or none. A number taken is
    // never handed out again, whatever becomes of its unit.
    SerialAllocation TakeSerials(const SerialRequest& request);

    // Adds a list file (one number of eight hex digits a line; blank lines are passed over) to
    // the pool of the counter, after the numbers it already has. Bad lines, numbers repeated in
    // the file and numbers already in the pool refuse the whole file.
    ImportOutcome ImportSerials(const std::string& counter, const std::filesystem::path& file);

    // Writes one unit's row; when the database cannot be reached (even after connecting again)
    // the row goes to the spool file. Rows spooled earlier are written first.
    RecordOutcome Record(const ResultRow& row);

    // The figures per image of the rows written since the given time (every row when none).
    ReportOutcome Report(std::optional<std::time_t> since = std::nullopt);

    // The station's latest rows, newest first; nothing when they cannot be read.
    std::optional<std::vector<ResultRow>> Latest(const std::string& station, std::size_t limit);

    // The URL as it may be shown (password masked).
    const std::string& Url() const;
    const std::filesystem::path& SpoolFile() const;

    class Impl;

private:
    explicit ProductionDb(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace tarnik::cli
