#include "tools/serial_store.h"

#include "tools/durable_file.h"
#include "tools/file_lock.h"
#include "tools/system_error.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tarnik {

namespace {

constexpr std::size_t kSerialDigits = 8;
constexpr std::uint64_t kLastSerial = 0xFFFFFFFFu;
constexpr const char* kSpent = "SPENT";

// The store's text without surrounding blanks and line ends.
std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

bool ParseSerial(const std::string& text, std::uint32_t& value) {
    if (text.size() != kSerialDigits) return false;
    value = 0;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        value = value * 16 + static_cast<std::uint32_t>(
                                 std::isdigit(static_cast<unsigned char>(c))
                                     ? c - '0'
                                     : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10);
    }
    return true;
}

std::string SerialText(std::uint32_t value) {
    char text[kSerialDigits + 1];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

SerialAllocation TakeSerials(const std::string& path, std::size_t count) {
    SerialAllocation result;
    const FileLock lock(path + ".lock");
    if (!lock.Locked()) {
        result.error =
            "cannot lock the serial number store " + path + " (" + path + ".lock): " + lock.Why();
        return result;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const std::string why = errno != 0 ? ErrnoText(errno) : "cannot be opened";
        result.error = "cannot read the serial number store " + path + ": " + why +
                       " (create it with the first serial number, for example: "
                       "echo 00000001 > " +
                       path + ")";
        return result;
    }
    std::stringstream text;
    text << in.rdbuf();
    // Windows cannot replace a file that is still open.
    in.close();
    std::uint32_t next = 0;
    if (Trimmed(text.str()) == kSpent) {
        result.error = "the serial number store " + path + " has no numbers left";
        return result;
    }
    if (const std::string held = Trimmed(text.str()); !ParseSerial(held, next)) {
        constexpr std::size_t kShown = 16;
        result.error = "the serial number store " + path +
                       " does not hold eight hexadecimal digits: " +
                       (held.empty() ? std::string("it is empty")
                                     : "it holds \"" + held.substr(0, kShown) +
                                           (held.size() > kShown ? "..." : "") + "\"");
        return result;
    }
    if (std::uint64_t{next} + count - 1 > kLastSerial && count > 0) {
        result.error = "the serial number store " + path + " has fewer than " +
                       std::to_string(count) + " numbers left (next " + SerialText(next) + ")";
        return result;
    }
    const std::uint64_t after = std::uint64_t{next} + count;
    // Past FFFFFFFF the store is spent: it keeps a text no later run can take from.
    const std::string stored = after > kLastSerial
                                   ? std::string(kSpent) + "\n"
                                   : SerialText(static_cast<std::uint32_t>(after)) + "\n";
    // The temporary file is written only under the lock, so one name serves every run.
    std::string why;
    if (!ReplaceFileDurably(path, stored, TemporaryName::Fixed, why)) {
        result.error = "cannot rewrite the serial number store, no number was taken: " + why;
        return result;
    }
    for (std::uint64_t n = next; n < after; ++n)
        result.serials.push_back(SerialText(static_cast<std::uint32_t>(n)));
    return result;
}

} // namespace tarnik
