#pragma once
// The system's own words for why a call failed, so that a message can say why and not only
// what went wrong.
#include <string>

namespace tarnik {

// The text of an errno value ("No such file or directory").
std::string ErrnoText(int error);

#ifdef _WIN32
// The text of a Windows error code with its number ("Access is denied (error 5)").
std::string WindowsErrorText(unsigned long code);
#endif

// The text of the error the last failed system call left: errno on POSIX, GetLastError on
// Windows. Read it straight after the call, before anything else can overwrite it.
std::string LastSystemErrorText();

} // namespace tarnik
