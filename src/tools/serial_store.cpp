#include "tools/serial_store.h"

#include "tools/durable_file.h"
#include "tools/hexcodec.h"
#include "tools/system_error.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tarnik {

namespace {

constexpr std::uint64_t kLastSerial = 0xFFFFFFFFu;
constexpr const char* kSpent = "SPENT";

// Holds the lock of the store's lock file for its lifetime.
class StoreLock {
public:
    explicit StoreLock(const std::string& lockPath) {
#ifdef _WIN32
        handle_ = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            why_ = LastSystemErrorText();
            return;
        }
        OVERLAPPED whole{};
        locked_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
#else
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            why_ = LastSystemErrorText();
            return;
        }
        int result = 0;
        do
            result = ::flock(fd_, LOCK_EX);
        while (result != 0 && errno == EINTR);
        locked_ = result == 0;
#endif
        if (!locked_) why_ = LastSystemErrorText();
    }
    ~StoreLock() {
#ifdef _WIN32
        if (handle_ == INVALID_HANDLE_VALUE) return;
        if (locked_) {
            OVERLAPPED whole{};
            UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &whole);
        }
        CloseHandle(handle_);
#else
        if (fd_ >= 0) ::close(fd_); // closing the descriptor releases the lock
#endif
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool Locked() const {
        return locked_;
    }
    // Why the lock could not be taken.
    const std::string& Why() const {
        return why_;
    }

private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
    bool locked_ = false;
    std::string why_;
};

// The store's text without surrounding blanks and line ends.
std::string Trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

SerialAllocation TakeSerials(const std::string& path, std::size_t count) {
    SerialAllocation result;
    const StoreLock lock(path + ".lock");
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
