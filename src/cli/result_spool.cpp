#include "cli/result_spool.h"

#include "cli/results_log.h"
#include "tools/file_lock.h"
#include "tools/sha256.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>

namespace tarnik::cli {

namespace {

std::filesystem::path FromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value)
                                              : std::filesystem::path();
}

std::filesystem::path LockFileOf(const std::filesystem::path& spool) {
    return std::filesystem::path(spool).concat(".lock");
}

// Whether the spool's lock was taken; why not when it was not.
bool Held(const FileLock& lock, const std::filesystem::path& spool, std::string& why) {
    if (!lock.Locked()) why = "cannot lock " + LockFileOf(spool).string() + ": " + lock.Why();
    return lock.Locked();
}

} // namespace

std::filesystem::path DefaultSpoolFolder() {
#ifdef _WIN32
    const std::filesystem::path base = FromEnvironment("LOCALAPPDATA");
    return base.empty() ? base : base / "tarnik";
#else
    if (const std::filesystem::path state = FromEnvironment("XDG_STATE_HOME"); !state.empty())
        return state / "tarnik";
    const std::filesystem::path home = FromEnvironment("HOME");
    return home.empty() ? home : home / ".local" / "state" / "tarnik";
#endif
}

std::filesystem::path SpoolFileFor(const std::filesystem::path& folder,
                                   const std::string& maskedUrl) {
    return folder / ("results-" + Sha256Hex(maskedUrl).substr(0, 16) + ".jsonl");
}

std::string SpoolLine(const ResultRow& row) {
    nlohmann::ordered_json line;
    line["run_id"] = row.runId;
    line["time"] = static_cast<long long>(row.time);
    line["station"] = row.station;
    line["host"] = row.host;
    line["port"] = row.port;
    line["image"] = row.image;
    line["image_sha256"] = row.imageSha256;
    line["unit_type"] = row.unitType;
    line["image_version"] = row.imageVersion;
    line["image_date"] = row.imageDate;
    line["unit_address"] = row.unitAddress;
    line["serial"] = row.serial ? nlohmann::ordered_json(*row.serial) : nullptr;
    line["verify"] = row.verify;
    line["exit_status"] = row.exitStatus;
    line["outcome"] = row.outcome;
    line["status"] = row.status;
    line["seconds"] = row.seconds;
    line["records_sent"] = row.recordsSent;
    line["program_version"] = row.programVersion;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::optional<ResultRow> RowFromSpoolLine(const std::string& text) {
    try {
        const auto line = nlohmann::json::parse(text);
        ResultRow row;
        line.at("run_id").get_to(row.runId);
        row.time = static_cast<std::time_t>(line.at("time").get<long long>());
        line.at("station").get_to(row.station);
        line.at("host").get_to(row.host);
        line.at("port").get_to(row.port);
        line.at("image").get_to(row.image);
        line.at("image_sha256").get_to(row.imageSha256);
        line.at("unit_type").get_to(row.unitType);
        line.at("image_version").get_to(row.imageVersion);
        line.at("image_date").get_to(row.imageDate);
        line.at("unit_address").get_to(row.unitAddress);
        if (!line.at("serial").is_null()) row.serial = line.at("serial").get<std::string>();
        line.at("verify").get_to(row.verify);
        line.at("exit_status").get_to(row.exitStatus);
        line.at("outcome").get_to(row.outcome);
        line.at("status").get_to(row.status);
        line.at("seconds").get_to(row.seconds);
        line.at("records_sent").get_to(row.recordsSent);
        line.at("program_version").get_to(row.programVersion);
        if (row.runId.empty()) return std::nullopt;
        return row;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

bool ResultSpool::Add(const ResultRow& row, std::string& why) const {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    if (ec) {
        why = "cannot make the folder " + file_.parent_path().string() + ": " + ec.message();
        return false;
    }
    const FileLock lock(LockFileOf(file_).string());
    if (!Held(lock, file_, why)) return false;
    if (!AppendToFile(file_.string(), SpoolLine(row) + "\n")) {
        why = "cannot write " + file_.string();
        return false;
    }
    return true;
}

bool ResultSpool::MayHoldRows() const {
    std::error_code ec;
    return std::filesystem::file_size(file_, ec) > 0 && !ec;
}

SpoolReplay ResultSpool::Replay(const Writer& write) const {
    SpoolReplay result;
    if (!MayHoldRows()) return result;
    const FileLock lock(LockFileOf(file_).string());
    if (!Held(lock, file_, result.error)) return result;
    std::ifstream in(file_, std::ios::binary);
    if (!in) return result; // replayed meanwhile by another process of the station
    std::vector<ResultRow> rows;
    std::string unreadable;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        if (auto row = RowFromSpoolLine(line))
            rows.push_back(std::move(*row));
        else
            unreadable += line + "\n";
    }
    in.close();
    if (!rows.empty() && !write(rows, result.error)) {
        if (result.error.empty()) result.error = "the rows could not be written";
        return result;
    }
    result.written = rows.size();
    if (!unreadable.empty()) {
        const std::string keep = std::filesystem::path(file_).concat(".unreadable").string();
        if (!AppendToFile(keep, unreadable)) {
            // The rows are in the database and replaying them again is harmless; the lines
            // that are not rows stay in the spool rather than be lost.
            result.error = "cannot write " + keep;
            return result;
        }
    }
    std::error_code ec;
    std::filesystem::remove(file_, ec);
    if (ec) result.error = "cannot remove " + file_.string() + ": " + ec.message();
    return result;
}

} // namespace tarnik::cli
