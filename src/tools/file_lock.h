#pragma once
// An exclusive lock of a lock file (created when missing), held for the object's lifetime:
// flock on POSIX, LockFileEx on Windows. Writers of one file on a station (and stations that
// share a folder) take it around every change they make.
#include <string>

namespace tarnik {

class FileLock {
public:
    // Waits until the lock is taken or has failed.
    explicit FileLock(const std::string& lockPath);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Locked() const { return locked_; }
    // Why the lock could not be taken.
    const std::string& Why() const { return why_; }

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
    bool locked_ = false;
    std::string why_;
};

} // namespace tarnik
