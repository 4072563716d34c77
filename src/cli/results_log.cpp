#include "cli/results_log.h"

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarnik::cli {

std::string Iso8601(std::time_t when) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[64];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) return {};
    // strftime gives +0100; ISO 8601 as most readers expect it has +01:00.
    const std::string iso = text;
    if (iso.size() < 5) return iso;
    return iso.substr(0, iso.size() - 2) + ':' + iso.substr(iso.size() - 2);
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
    line["exit_status"] = unit.exitStatus;
    line["status"] = unit.status;
    line["seconds"] = static_cast<double>(static_cast<long long>(unit.seconds * 1000 + 0.5)) / 1000;
    line["records_sent"] = unit.recordsSent;
    line["program_version"] = run.programVersion;
    // Texts that are not UTF-8 are written with replacement characters, never dropped.
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool AppendToFile(const std::string& path, const std::string& text) {
#ifdef _WIN32
    const HANDLE file =
        CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size();
    CloseHandle(file);
    return ok;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const ssize_t written = ::write(fd, text.data(), text.size());
    const bool closed = ::close(fd) == 0;
    return written == static_cast<ssize_t>(text.size()) && closed;
#endif
}

} // namespace tarnik::cli
