#include "tools/system_error.h"

#include <cerrno>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarnik {

std::string ErrnoText(int error) {
    return std::generic_category().message(error);
}

#ifdef _WIN32
std::string WindowsErrorText(unsigned long code) {
    char* buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = length > 0 && buffer ? std::string(buffer, length) : std::string();
    if (buffer) LocalFree(buffer);
    // The system's sentences end with a full stop and a line break.
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    const std::string number = "error " + std::to_string(code);
    return text.empty() ? number : text + " (" + number + ")";
}
#endif

std::string LastSystemErrorText() {
#ifdef _WIN32
    return WindowsErrorText(GetLastError());
#else
    return ErrnoText(errno);
#endif
}

} // namespace tarnik
