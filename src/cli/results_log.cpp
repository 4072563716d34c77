#include "cli/results_log.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tarnik::cli {

namespace {

// Seconds of a broken-down time counted from the civil epoch, for the difference of two.
std::int64_t CivilSeconds(const std::tm& t) {
    using namespace std::chrono;
    const year_month_day date{year{t.tm_year + 1900}, month{static_cast<unsigned>(t.tm_mon + 1)},
                              day{static_cast<unsigned>(t.tm_mday)}};
    const std::int64_t days = sys_days{date}.time_since_epoch().count();
    return days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

} // namespace

std::string Iso8601(std::time_t when) {
    std::tm local{};
    std::tm utc{};
#ifdef _WIN32
    localtime_s(&local, &when);
    gmtime_s(&utc, &when);
#else
    localtime_r(&when, &local);
    gmtime_r(&when, &utc);
#endif
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local) == 0) return {};
    // The offset is worked out here: not every C library's %z gives +hhmm.
    const std::int64_t offset = CivilSeconds(local) - CivilSeconds(utc);
    const std::int64_t minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+',
                  static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    return std::string(text) + zone;
}

std::string HostName() {
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
#endif
}

std::string ResultLine(const UnitResult& unit, const RunFacts& run, std::time_t when) {
    nlohmann::ordered_json line;
    line["time"] = Iso8601(when);
    line["host"] = run.host;
    line["port"] = unit.port;
    line["image"] = run.imagePath;
    line["image_sha256"] = run.imageSha256;
    line["unit_type"] = unit.unitType;
    line["image_version"] = unit.imageVersion;
    line["image_date"] = unit.imageDate;
    line["unit_address"] = unit.unitAddress;
    line["serial"] = unit.serial ? nlohmann::ordered_json(*unit.serial) : nullptr;
    line["verify"] = unit.verify;
    line["exit_status"] = unit.outcome.exitStatus;
    line["outcome"] = OutcomeWord(unit.outcome.kind);
    line["status"] = unit.status;
    line["seconds"] = static_cast<double>(std::llround(unit.seconds * 1000)) / 1000;
    line["records_sent"] = unit.recordsSent;
    line["program_version"] = run.programVersion;
    // Texts that are not UTF-8 are written with replacement characters, never dropped.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool AppendToFile(const std::string& path, const std::string& text) {
#ifdef _WIN32
    // Appends are made whole under a lock of the file: not every Windows file system (nor
    // wine) keeps concurrent appends of one handle each apart.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED whole{};
    bool ok = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
    if (ok) {
        LARGE_INTEGER end{};
        DWORD written = 0;
        ok = SetFilePointerEx(file, end, nullptr, FILE_END) &&
             WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
             written == text.size() && FlushFileBuffers(file);
        OVERLAPPED unlock{};
        UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &unlock);
    }
    CloseHandle(file);
    return ok;
#else
    // The same lock as on Windows: a write to a file on a network share may be split, and
    // the line of a unit that was programmed must reach the disk before the next one starts.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    int locked = 0;
    do
        locked = ::flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR);
    bool ok = locked == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    // Closing the descriptor releases the lock.
    return ::close(fd) == 0 && ok;
#endif
}

} // namespace tarnik::cli
