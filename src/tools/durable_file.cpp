#include "tools/durable_file.h"

#include "tools/system_error.h"

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarnik {

namespace {

std::filesystem::path FixedTemporary(const std::filesystem::path& path) {
    std::filesystem::path temporary = path;
    temporary += ".new";
    return temporary;
}

// "cannot write /x/store.new: Is a directory".
std::string Failure(const char* what, const std::filesystem::path& file) {
    return std::string("cannot ") + what + " " + file.string() + ": " + LastSystemErrorText();
}

// A unique temporary has no name worth showing before it exists.
std::string CreateFailure(const std::filesystem::path& path, TemporaryName kind,
                          const std::filesystem::path& temporary) {
    if (kind == TemporaryName::Fixed) return Failure("create", temporary);
    return "cannot create a temporary file beside " + path.string() + ": " + LastSystemErrorText();
}

#ifdef _WIN32

bool WriteAll(HANDLE file, std::string_view contents) {
    while (!contents.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size(), 1u << 30));
        if (!WriteFile(file, contents.data(), chunk, &written, nullptr) || written == 0)
            return false;
        contents.remove_prefix(written);
    }
    return true;
}

// Creates the temporary file and names it in temporary; a unique name is made by the system,
// which creates an empty file under it (reserved tells so, for the clean-up of a failure).
HANDLE CreateTemporary(const std::filesystem::path& path, TemporaryName kind,
                       std::filesystem::path& temporary, bool& reserved) {
    temporary = FixedTemporary(path);
    reserved = false;
    if (kind == TemporaryName::Unique) {
        temporary = path.has_parent_path() ? path.parent_path() : std::filesystem::path(L".");
        wchar_t name[MAX_PATH];
        if (GetTempFileNameW(temporary.c_str(), L"tnk", 0, name) == 0) return INVALID_HANDLE_VALUE;
        temporary = name;
        reserved = true;
    }
    return CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Replace(const std::filesystem::path& path, std::string_view contents, TemporaryName kind,
             std::string& why) {
    std::filesystem::path temporary;
    bool reserved = false;
    const HANDLE file = CreateTemporary(path, kind, temporary, reserved);
    if (file == INVALID_HANDLE_VALUE) {
        why = CreateFailure(path, kind, temporary);
        if (reserved) DeleteFileW(temporary.c_str());
        return false;
    }
    bool ok = WriteAll(file, contents);
    if (!ok) why = Failure("write", temporary);
    // The data must be on the disk before the rename makes it the file.
    if (ok && !FlushFileBuffers(file)) {
        why = Failure("flush", temporary);
        ok = false;
    }
    CloseHandle(file);
    if (ok && !MoveFileExW(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        why = Failure("replace", path);
        ok = false;
    }
    if (!ok) DeleteFileW(temporary.c_str());
    return ok;
}

#else

bool WriteAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t n = ::write(fd, contents.data(), contents.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        contents.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

int CreateTemporary(const std::filesystem::path& path, TemporaryName kind,
                    std::filesystem::path& temporary) {
    if (kind == TemporaryName::Unique) {
        std::string pattern = path.string() + ".XXXXXX";
        const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        temporary = pattern;
        return fd;
    }
    temporary = FixedTemporary(path);
    return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

// Makes the rename itself durable: the folder's entry is on the disk only once the folder
// is synced. File systems that cannot sync a folder say EINVAL; they need no sync.
bool SyncFolder(const std::filesystem::path& path, std::string& why) {
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) folder = ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        why = Failure("open the folder", folder);
        return false;
    }
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    if (!synced) why = Failure("sync the folder", folder);
    ::close(fd);
    return synced;
}

bool Replace(const std::filesystem::path& path, std::string_view contents, TemporaryName kind,
             std::string& why) {
    std::filesystem::path temporary;
    const int fd = CreateTemporary(path, kind, temporary);
    if (fd < 0) {
        why = CreateFailure(path, kind, temporary);
        return false;
    }
    bool ok = WriteAll(fd, contents);
    if (!ok) why = Failure("write", temporary);
    // The data must be on the disk before the rename makes it the file.
    if (ok && ::fsync(fd) != 0) {
        why = Failure("flush", temporary);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        why = Failure("write", temporary);
        ok = false;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        why = Failure("replace", path);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return false;
    }
    return SyncFolder(path, why);
}

#endif

} // namespace

bool ReplaceFileDurably(const std::filesystem::path& path, std::string_view contents,
                        TemporaryName temporary, std::string& why) {
    why.clear();
    return Replace(path, contents, temporary, why);
}

} // namespace tarnik
