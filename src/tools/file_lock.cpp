#include "tools/file_lock.h"

#include "tools/system_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tarnik {

FileLock::FileLock(const std::string& lockPath) {
#ifdef _WIN32
    const HANDLE handle = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why_ = LastSystemErrorText();
        return;
    }
    handle_ = handle;
    OVERLAPPED whole{};
    locked_ = LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
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

FileLock::~FileLock() {
#ifdef _WIN32
    if (handle_ == nullptr) return;
    if (locked_) {
        OVERLAPPED whole{};
        UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &whole);
    }
    CloseHandle(handle_);
#else
    if (fd_ >= 0) ::close(fd_); // closing the descriptor releases the lock
#endif
}

} // namespace tarnik
