#include "tools/serial_store.h"

#include "tools/durable_file.h"
#include "tools/file_lock.h"
#include "tools/hexcodec.h"
#include "tools/system_error.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

namespace tarnik {

namespace {

constexpr std::uint64_t kLastSerial = 0xFFFFFFFFu;
constexpr const char* kSpent = "SPENT";

// The store's text without surrounding blanks and line ends.
std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace


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
    if (Trimmed(text.str()) == kSpent) {
        result.error = "the serial number store " + path + " has no numbers left";
        return result;
    }
    const std::string held = Trimmed(text.str());
    const std::optional<std::uint32_t> first = SerialValue(held);
    if (!first) {
        constexpr std::size_t kShown = 16;
        result.error = "the serial number store " + path +
                       " does not hold eight hexadecimal digits: " +
                       (held.empty() ? std::string("it is empty")
                                     : "it holds \"" + held.substr(0, kShown) +
                                           (held.size() > kShown ? "..." : "") + "\"");
        return result;
    }
    const std::uint32_t next = *first;
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
