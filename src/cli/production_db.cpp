#include "cli/production_db.h"

#include "tools/hexcodec.h"

#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

namespace tarnik::cli {

namespace {

enum class Backend { SQLite, PostgreSQL };

constexpr int kSchemaVersion = 1;
constexpr long long kPastLastSerial = 0x100000000LL;
// Serialises schema changes of stations that connect to a fresh PostgreSQL database at once.
constexpr long long kSchemaLockKey = 0x7461726E696BLL;
// Seconds a station waits for a PostgreSQL server that does not answer, unless the URL says.
constexpr const char* kConnectTimeout = "10";
// How many problems of a list file are named before the rest are only counted.
constexpr std::size_t kShownProblems = 10;

constexpr const char* kSqliteScheme = "sqlite:";
constexpr const char* kPostgresSchemes[] = {"postgresql://", "postgres://"};

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsPostgresUrl(const std::string& url) {
    for (const char* scheme : kPostgresSchemes)
        if (StartsWith(url, scheme)) return true;
    return false;
}

// Where a password stands in a PostgreSQL URL: [begin, end) pairs.
std::vector<std::pair<std::size_t, std::size_t>> PasswordSpans(const std::string& url) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    const std::size_t authority = url.find("://") + 3;
    const std::size_t authorityEnd = std::min(url.find_first_of("/?", authority), url.size());
    const std::size_t at = url.rfind('@', authorityEnd);
    if (at != std::string::npos && at >= authority) {
        const std::size_t colon = url.find(':', authority);
        if (colon < at && colon + 1 < at) spans.emplace_back(colon + 1, at);
    }
    for (std::size_t query = url.find('?'); query != std::string::npos;
         query = url.find('&', query + 1)) {
        const std::string key = "password=";
        if (url.compare(query + 1, key.size(), key) != 0) continue;
        const std::size_t begin = query + 1 + key.size();
        const std::size_t end = std::min(url.find('&', begin), url.size());
        if (end > begin) spans.emplace_back(begin, end);
    }
    return spans;
}

std::string ReplaceAll(std::string text, const std::string& what, const std::string& with) {
    for (std::size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A transaction that is rolled back unless committed. SQLite's writers begin IMMEDIATE: the
// write lock is taken at the start (waiting up to the busy time-out for another process's
// transaction), so two writers never both read the same counter and then both write it.
class Transaction {
public:
    Transaction(soci::session& sql, Backend backend) : sql_(sql) {
        sql_ << (backend == Backend::SQLite ? "BEGIN IMMEDIATE" : "BEGIN");
    }
    ~Transaction() {
        if (done_) return;
        try {
            sql_ << "ROLLBACK";
        } catch (const std::exception&) {
            // A connection that is gone ends its transaction by itself.
        }
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        sql_ << "COMMIT";
        done_ = true;
    }

private:
    soci::session& sql_;
    bool done_ = false;
};

// The statements that bring a schema of version n - 1 to version n, by n - 1.
std::vector<std::string> SchemaSteps(int from, Backend backend) {
    if (from == 0)
        return {
            "CREATE TABLE serial_counters (name TEXT PRIMARY KEY, next_serial BIGINT NOT NULL)",
            "CREATE TABLE serial_pool (counter TEXT NOT NULL, serial TEXT NOT NULL,"
            " position INTEGER NOT NULL, taken_at TEXT, station TEXT, port TEXT,"
            " PRIMARY KEY (counter, serial), UNIQUE (counter, position))",
            std::string("CREATE TABLE results (id ") +
                (backend == Backend::SQLite ? "INTEGER PRIMARY KEY AUTOINCREMENT"
                                            : "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY") +
                ", run_id TEXT NOT NULL UNIQUE, \"time\" TEXT NOT NULL, station TEXT NOT NULL,"
                " host TEXT NOT NULL, port TEXT NOT NULL, image TEXT NOT NULL,"
                " image_sha256 TEXT NOT NULL, unit_type INTEGER NOT NULL,"
                " image_version TEXT NOT NULL, image_date TEXT NOT NULL,"
                " unit_address TEXT NOT NULL, serial TEXT, verify INTEGER NOT NULL,"
                " exit_status INTEGER NOT NULL, outcome TEXT NOT NULL, status TEXT NOT NULL,"
                " seconds DOUBLE PRECISION NOT NULL, records_sent INTEGER NOT NULL,"
                " program_version TEXT NOT NULL)",
            "CREATE INDEX results_time ON results (\"time\")",
        };
    return {};
}

} // namespace

std::string MaskedUrl(const std::string& url) {
    // Any URL with a user part: a mistyped scheme must not show the password either.
    if (url.find("://") == std::string::npos) return url;
    std::string masked = url;
    const auto spans = PasswordSpans(url);
    // From the back, so the earlier positions stay right.
    for (auto span = spans.rbegin(); span != spans.rend(); ++span)
        masked.replace(span->first, span->second - span->first, "***");
    return masked;
}

class ProductionDb::Impl {
public:
    Impl(Backend backend, std::string connect, const std::string& url, const DbOptions& options)
        : backend_(backend), connect_(std::move(connect)), masked_(MaskedUrl(url)),
          busyTimeout_(options.busyTimeout),
          spool_(SpoolFileFor(
              options.spoolFolder.empty() ? DefaultSpoolFolder() : options.spoolFolder, masked_)) {
        if (backend == Backend::PostgreSQL)
            for (const auto& [begin, end] : PasswordSpans(url))
                passwords_.push_back(url.substr(begin, end - begin));
    }

    // Opens the connection and makes the schema current; false with error when it failed.
    bool Connect(std::string& error) {
        try {
            if (backend_ == Backend::SQLite)
                sql_.open(soci::sqlite3, connect_);
            else
                sql_.open(soci::postgresql, connect_);
            Configure();
            MakeSchemaCurrent();
            return true;
        } catch (const std::exception& e) {
            error = Clean(e.what());
            sql_.close();
            return false;
        }
    }

    SpoolReplay ReplaySpool() {
        return spool_.Replay([this](const std::vector<ResultRow>& rows, std::string& why) {
            try {
                InsertRows(rows);
                return true;
            } catch (const std::exception& e) {
                why =
                    "the spooled rows could not be written to " + masked_ + ": " + Clean(e.what());
                return false;
            }
        });
    }

    SerialAllocation TakeSerials(const SerialRequest& request) {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::string why;
        for (int attempt = 0; attempt < 2; ++attempt) {
            try {
                return Allocate(request);
            } catch (const std::exception& e) {
                why = Clean(e.what());
            }
            // A connection lost since the last run (a restarted server) is made again. A
            // transaction that was cut short at its commit may have taken its numbers: they
            // are passed over, a gap and never a number handed out twice.
            if (attempt == 0 && !Reconnect(why)) break;
        }
        SerialAllocation result;
        result.error = "cannot take serial numbers from " + masked_ + ": " + why;
        return result;
    }

    ImportOutcome ImportSerials(const std::string& counter, const std::filesystem::path& file) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ImportOutcome result;
        std::vector<std::string> serials;
        std::vector<std::size_t> lines;
        std::vector<std::string> problems;
        if (!ReadList(file, serials, lines, problems, result.error)) return result;
        try {
            Transaction transaction(sql_, backend_);
            const long long zero = 0;
            sql_ << "INSERT INTO serial_counters (name, next_serial) VALUES (:name, :zero)"
                    " ON CONFLICT (name) DO NOTHING",
                soci::use(counter), soci::use(zero);
            long long next = 0;
            LockCounter(counter, next);
            long long pooled = 0;
            long long last = -1;
            soci::indicator lastKnown = soci::i_ok;
            sql_ << "SELECT COUNT(*), MAX(position) FROM serial_pool WHERE counter = :counter",
                soci::use(counter), soci::into(pooled), soci::into(last, lastKnown);
            if (pooled == 0 && next != 0) {
                result.error =
                    "the serial counter \"" + counter + "\" counts its numbers (next " +
                    (next < kPastLastSerial ? SerialText(static_cast<std::uint32_t>(next))
                                            : std::string("none")) +
                    "): a list goes under a counter name of its own";
                return result;
            }
            std::set<std::string> held;
            {
                std::string serial;
                soci::statement query = (sql_.prepare << "SELECT serial FROM serial_pool"
                                                         " WHERE counter = :counter",
                                         soci::use(counter), soci::into(serial));
                query.execute();
                while (query.fetch())
                    held.insert(serial);
            }
            for (std::size_t i = 0; i < serials.size(); ++i)
                if (held.count(serials[i]) > 0)
                    problems.push_back("line " + std::to_string(lines[i]) + ": " + serials[i] +
                                       " is already in the list of counter \"" + counter + "\"");
            if (!problems.empty()) {
                result.error = ProblemsText(file, problems);
                return result;
            }
            long long position = lastKnown == soci::i_ok ? last + 1 : 0;
            std::string serial;
            soci::statement insert =
                (sql_.prepare << "INSERT INTO serial_pool (counter, serial, position)"
                                 " VALUES (:counter, :serial, :position)",
                 soci::use(counter), soci::use(serial), soci::use(position));
            for (const std::string& each : serials) {
                serial = each;
                insert.execute(true);
                ++position;
            }
            transaction.Commit();
            result.imported = serials.size();
        } catch (const std::exception& e) {
            result.error = "cannot import " + file.string() + " into " + masked_ + ": " +
                           Clean(e.what()) + " (nothing was imported)";
        }
        return result;
    }

    RecordOutcome Record(const ResultRow& given) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ResultRow row = StorableRow(given);
        // Rows without an id would all be one row to the table: every row but the first lost.
        if (row.runId.empty()) row.runId = NewRunId();
        RecordOutcome result;
        std::string why;
        if (TryInsert(row, why) || (Reconnect(why) && TryInsert(row, why))) {
            // Rows spooled earlier (by this process or another one of the station) follow as
            // soon as the database answers again.
            if (spool_.MayHoldRows()) ReplaySpool();
            result.where = RecordOutcome::Where::Database;
            return result;
        }
        std::string spoolWhy;
        if (spool_.Add(row, spoolWhy)) {
            result.where = RecordOutcome::Where::Spooled;
            result.message = "the result of " + row.port + " could not be written to " + masked_ +
                             " (" + why + "); it is kept in " + spool_.File().string() +
                             " and written at the next connection";
        } else {
            result.where = RecordOutcome::Where::Lost;
            result.message = "the result of " + row.port + " could not be written to " + masked_ +
                             " (" + why + ") nor kept in the spool file (" + spoolWhy + ")";
        }
        return result;
    }

    ReportOutcome Report(std::optional<std::time_t> since) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ReportOutcome result;
        try {
            // Every row's time is later than the empty text.
            const std::string from = since ? UtcText(*since) : std::string();
            std::vector<ReportRow> rows;
            ReportRow row;
            soci::statement query =
                (sql_.prepare << "SELECT image, image_sha256, outcome, exit_status, seconds"
                                 " FROM results WHERE \"time\" >= :since",
                 soci::use(from), soci::into(row.image), soci::into(row.imageSha256),
                 soci::into(row.outcome), soci::into(row.exitStatus), soci::into(row.seconds));
            query.execute();
            while (query.fetch())
                rows.push_back(row);
            result.images = SummariseResults(rows);
        } catch (const std::exception& e) {
            result.error = "cannot read the results of " + masked_ + ": " + Clean(e.what());
        }
        return result;
    }

    std::optional<std::vector<ResultRow>> Latest(const std::string& station, std::size_t limit) {
        const std::lock_guard<std::mutex> lock(mutex_);
        try {
            std::vector<ResultRow> rows;
            ResultRow row;
            std::string time;
            std::string serial;
            soci::indicator serialKnown = soci::i_ok;
            const auto count = static_cast<long long>(limit);
            soci::statement query =
                (sql_.prepare << "SELECT run_id, \"time\", port, image, unit_type, serial,"
                                 " exit_status, outcome, status, seconds FROM results"
                                 " WHERE station = :station ORDER BY \"time\" DESC, id DESC"
                                 " LIMIT :count",
                 soci::use(station), soci::use(count), soci::into(row.runId), soci::into(time),
                 soci::into(row.port), soci::into(row.image), soci::into(row.unitType),
                 soci::into(serial, serialKnown), soci::into(row.exitStatus),
                 soci::into(row.outcome), soci::into(row.status), soci::into(row.seconds));
            query.execute();
            while (query.fetch()) {
                row.time = TimeOfUtcText(time).value_or(0);
                row.serial = serialKnown == soci::i_ok ? std::optional(serial) : std::nullopt;
                row.station = station;
                rows.push_back(row);
            }
            return rows;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    const std::string& Masked() const { return masked_; }
    const std::filesystem::path& SpoolPath() const { return spool_.File(); }

private:
    void Configure() {
        if (backend_ == Backend::SQLite) {
            sql_ << "PRAGMA busy_timeout = " + std::to_string(busyTimeout_.count());
        } else {
            // The notices of CREATE ... IF NOT EXISTS and the like would reach the terminal.
            sql_ << "SET client_min_messages TO WARNING";
            sql_ << "SET client_encoding TO 'UTF8'";
        }
    }

    void MakeSchemaCurrent() {
        Transaction transaction(sql_, backend_);
        if (backend_ == Backend::PostgreSQL)
            sql_ << "SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLockKey) + ")";
        sql_ << "CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)";
        int version = 0;
        soci::indicator known = soci::i_ok;
        sql_ << "SELECT MAX(version) FROM schema_version", soci::into(version, known);
        if (known != soci::i_ok) version = 0;
        if (version > kSchemaVersion)
            throw std::runtime_error("its schema is version " + std::to_string(version) +
                                     ", newer than this program knows (" +
                                     std::to_string(kSchemaVersion) +
                                     "): it was upgraded by a newer tarnik-cli, use that one");
        if (version == kSchemaVersion) return; // nothing written: the rollback is harmless
        for (int from = version; from < kSchemaVersion; ++from)
            for (const std::string& statement : SchemaSteps(from, backend_))
                sql_ << statement;
        sql_ << "DELETE FROM schema_version";
        sql_ << "INSERT INTO schema_version (version) VALUES (:version)", soci::use(kSchemaVersion);
        transaction.Commit();
    }

    // One run's numbers in one transaction; throws when the database fails.
    SerialAllocation Allocate(const SerialRequest& request) {
        SerialAllocation result;
        if (request.ports.empty()) return result;
        const long long count = static_cast<long long>(request.ports.size());
        const std::string& counter = request.counter;
        Transaction transaction(sql_, backend_);
        if (request.start) {
            const long long start = *request.start;
            sql_ << "INSERT INTO serial_counters (name, next_serial) VALUES (:name, :start)"
                    " ON CONFLICT (name) DO NOTHING",
                soci::use(counter), soci::use(start);
        }
        long long next = 0;
        if (!LockCounter(counter, next)) {
            result.error = "the serial counter \"" + counter +
                           "\" has never been used: its first number must be given "
                           "(--serial-start=XXXXXXXX)";
            return result;
        }
        long long pooled = 0;
        sql_ << "SELECT COUNT(*) FROM serial_pool WHERE counter = :counter", soci::use(counter),
            soci::into(pooled);
        if (pooled > 0) {
            result.error = TakeFromPool(request, count, result.serials);
        } else if (next + count > kPastLastSerial) {
            result.error = "the serial counter \"" + counter + "\" has fewer than " +
                           std::to_string(count) + " numbers left" +
                           (next < kPastLastSerial
                                ? " (next " + SerialText(static_cast<std::uint32_t>(next)) + ")"
                                : "");
        } else {
            const long long after = next + count;
            sql_ << "UPDATE serial_counters SET next_serial = :after WHERE name = :name",
                soci::use(after), soci::use(counter);
            for (long long n = next; n < after; ++n)
                result.serials.push_back(SerialText(static_cast<std::uint32_t>(n)));
        }
        if (!result.error.empty()) {
            result.serials.clear();
            return result;
        }
        transaction.Commit();
        return result;
    }

    // Takes the counter's row lock (PostgreSQL: other stations' allocations wait for this
    // transaction) and reads its next number; false when the counter has no row.
    bool LockCounter(const std::string& counter, long long& next) {
        sql_ << "UPDATE serial_counters SET next_serial = next_serial WHERE name = :name"
                " RETURNING next_serial",
            soci::use(counter), soci::into(next);
        return sql_.got_data();
    }

    // The pool's first untaken numbers in file order, marked taken; the error when too few
    // are left.
    std::string TakeFromPool(const SerialRequest& request, long long count,
                             std::vector<std::string>& serials) {
        // Row by row: the library's bulk fetch into a vector of one misses the row on SQLite.
        std::vector<std::string> found;
        std::vector<long long> positions;
        {
            std::string serial;
            long long position = 0;
            soci::statement query =
                (sql_.prepare << "SELECT serial, position FROM serial_pool WHERE counter = :counter"
                                 " AND taken_at IS NULL ORDER BY position LIMIT :count",
                 soci::use(request.counter), soci::use(count), soci::into(serial),
                 soci::into(position));
            query.execute();
            while (query.fetch()) {
                found.push_back(serial);
                positions.push_back(position);
            }
        }
        if (static_cast<long long>(found.size()) < count)
            return "the serial list of counter \"" + request.counter + "\" has " +
                   (found.empty() ? std::string("no numbers left")
                                  : "only " + std::to_string(found.size()) + " numbers left") +
                   "; the run needs " + std::to_string(count);
        const std::string now = UtcText(std::time(nullptr));
        std::string port;
        long long position = 0;
        soci::statement mark =
            (sql_.prepare << "UPDATE serial_pool SET taken_at = :now, station = :station,"
                             " port = :port WHERE counter = :counter AND position = :position",
             soci::use(now), soci::use(request.station), soci::use(port),
             soci::use(request.counter), soci::use(position));
        for (std::size_t i = 0; i < found.size(); ++i) {
            port = request.ports[i];
            position = positions[i];
            mark.execute(true);
        }
        serials = std::move(found);
        return {};
    }

    // Reads and checks a list file; false with error (naming every problem) when it is refused.
    bool ReadList(const std::filesystem::path& file, std::vector<std::string>& serials,
                  std::vector<std::size_t>& lines, std::vector<std::string>& problems,
                  std::string& error) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            error = "cannot read the serial number list " + file.string();
            return false;
        }
        std::map<std::string, std::size_t> seen;
        std::size_t number = 0;
        for (std::string line; std::getline(in, line);) {
            ++number;
            const std::string text = Trimmed(line);
            if (text.empty()) continue;
            const std::optional<std::uint32_t> parsed = SerialValue(text);
            if (!parsed) {
                problems.push_back("line " + std::to_string(number) + ": \"" +
                                   StorableText(text.substr(0, 16)) +
                                   "\" is not eight hexadecimal digits");
                continue;
            }
            const std::string serial = SerialText(*parsed);
            if (const auto [first, fresh] = seen.emplace(serial, number); !fresh) {
                problems.push_back("line " + std::to_string(number) + ": " + serial +
                                   " repeats line " + std::to_string(first->second));
                continue;
            }
            serials.push_back(serial);
            lines.push_back(number);
        }
        if (serials.empty() && problems.empty()) problems.push_back("it holds no serial numbers");
        if (problems.empty()) return true;
        error = ProblemsText(file, problems);
        return false;
    }

    static std::string ProblemsText(const std::filesystem::path& file,
                                    const std::vector<std::string>& problems) {
        std::string text =
            "the serial number list " + file.string() + " was not imported (nothing of it was):";
        for (std::size_t i = 0; i < problems.size() && i < kShownProblems; ++i)
            text += "\n  " + problems[i];
        if (problems.size() > kShownProblems)
            text += "\n  and " + std::to_string(problems.size() - kShownProblems) + " more";
        return text;
    }

    bool TryInsert(const ResultRow& row, std::string& why) {
        try {
            InsertRows({row});
            return true;
        } catch (const std::exception& e) {
            why = Clean(e.what());
            return false;
        }
    }

    bool Reconnect(std::string& why) {
        try {
            sql_.reconnect();
            Configure();
            return true;
        } catch (const std::exception& e) {
            why = Clean(e.what());
            return false;
        }
    }

    // Writes the rows in one transaction; a row whose run_id is stored already is passed
    // over, so a replayed row is stored once.
    void InsertRows(const std::vector<ResultRow>& rows) {
        ResultRow row;
        std::string time;
        soci::indicator serialKnown = soci::i_ok;
        std::string serial;
        int verify = 0;
        Transaction transaction(sql_, backend_);
        soci::statement insert =
            (sql_.prepare << "INSERT INTO results (run_id, \"time\", station, host, port, image,"
                             " image_sha256, unit_type, image_version, image_date, unit_address,"
                             " serial, verify, exit_status, outcome, status, seconds,"
                             " records_sent, program_version) VALUES (:run_id, :time, :station,"
                             " :host, :port, :image, :image_sha256, :unit_type, :image_version,"
                             " :image_date, :unit_address, :serial, :verify, :exit_status,"
                             " :outcome, :status, :seconds, :records_sent, :program_version)"
                             " ON CONFLICT (run_id) DO NOTHING",
             soci::use(row.runId), soci::use(time), soci::use(row.station), soci::use(row.host),
             soci::use(row.port), soci::use(row.image), soci::use(row.imageSha256),
             soci::use(row.unitType), soci::use(row.imageVersion), soci::use(row.imageDate),
             soci::use(row.unitAddress), soci::use(serial, serialKnown), soci::use(verify),
             soci::use(row.exitStatus), soci::use(row.outcome), soci::use(row.status),
             soci::use(row.seconds), soci::use(row.recordsSent), soci::use(row.programVersion));
        for (const ResultRow& each : rows) {
            row = StorableRow(each);
            time = UtcText(row.time);
            serial = row.serial.value_or(std::string());
            serialKnown = row.serial ? soci::i_ok : soci::i_null;
            verify = row.verify ? 1 : 0;
            insert.execute(true);
        }
        transaction.Commit();
    }

    // A message of the library or the server, without a password that might stand in it.
    std::string Clean(std::string text) const {
        // Short passwords are left: replacing every "ab" of a message would garble it, and
        // neither the library nor libpq ever repeats a password.
        constexpr std::size_t kShortest = 4;
        for (const std::string& password : passwords_)
            if (password.size() >= kShortest) text = ReplaceAll(text, password, "***");
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        return ReplaceAll(text, "\n", " ");
    }

    Backend backend_;
    std::string connect_;
    std::string masked_;
    std::vector<std::string> passwords_;
    std::chrono::milliseconds busyTimeout_;
    ResultSpool spool_;
    std::mutex mutex_; // one statement at a time on the connection, whatever thread asks
    soci::session sql_;
};

OpenedDb ProductionDb::Open(const std::string& url, const DbOptions& options) {
    OpenedDb result;
    std::unique_ptr<Impl> impl;
    if (StartsWith(url, kSqliteScheme)) {
        const std::string path = url.substr(std::string(kSqliteScheme).size());
        if (path.empty()) {
            result.error = "the database URL " + url + " names no file (sqlite:PATH)";
            return result;
        }
        // An absolute path is taken whole by the library, whatever characters it holds.
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
        const std::string file = ec ? path : absolute.string();
        impl = std::make_unique<Impl>(Backend::SQLite, file, kSqliteScheme + file, options);
    } else if (IsPostgresUrl(url)) {
        // The library takes its own options from the text as key=value pairs and garbles a
        // text without one: the time-out is always such a pair.
        std::string connect = url;
        if (connect.find("connect_timeout=") == std::string::npos)
            connect += std::string(connect.find('?') == std::string::npos ? "?" : "&") +
                       "connect_timeout=" + kConnectTimeout;
        impl = std::make_unique<Impl>(Backend::PostgreSQL, connect, url, options);
    } else {
        result.error = "the database URL " + MaskedUrl(url) +
                       " is neither sqlite:PATH nor postgresql://[user[:password]@]host[:port]/"
                       "dbname";
        return result;
    }
    std::string why;
    if (!impl->Connect(why)) {
        result.error = "cannot open the database " + impl->Masked() + ": " + why;
        return result;
    }
    result.replay = impl->ReplaySpool();
    result.db.reset(new ProductionDb(std::move(impl)));
    return result;
}

ProductionDb::ProductionDb(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
ProductionDb::~ProductionDb() = default;

SerialAllocation ProductionDb::TakeSerials(const SerialRequest& request) {
    return impl_->TakeSerials(request);
}

ImportOutcome ProductionDb::ImportSerials(const std::string& counter,
                                          const std::filesystem::path& file) {
    return impl_->ImportSerials(counter, file);
}

RecordOutcome ProductionDb::Record(const ResultRow& row) {
    return impl_->Record(row);
}

ReportOutcome ProductionDb::Report(std::optional<std::time_t> since) {
    return impl_->Report(since);
}

std::optional<std::vector<ResultRow>> ProductionDb::Latest(const std::string& station,
                                                           std::size_t limit) {
    return impl_->Latest(station, limit);
}

const std::string& ProductionDb::Url() const {
    return impl_->Masked();
}

const std::filesystem::path& ProductionDb::SpoolFile() const {
    return impl_->SpoolPath();
}

} // namespace tarnik::cli
