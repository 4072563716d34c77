#pragma once
// Child processes for end-to-end tests: the unit emulator tarnik-sim on a pseudo-terminal,
// and the front ends run as the built programs.
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::testing {

// A program started with args and the given environment variables set on top of this
// process's own; its standard output is kept for ReadLine, its standard error goes to
// errorFile when one is named. It is ended (SIGTERM, then SIGKILL) when the object goes.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& errorFile = {},
                 const std::map<std::string, std::string>& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output, or nothing at its end or after timeoutMs.
    std::optional<std::string> ReadLine(int timeoutMs);
    // The exit code (128 + signal when killed), or nothing after timeoutMs.
    std::optional<int> Wait(int timeoutMs);
    // Sends a signal (SIGINT: Ctrl+C at the terminal).
    void Signal(int signal);

private:
    int pid_ = -1;
    int out_ = -1;
    std::string buffered_;
    std::optional<int> status_;
};

// Reads tarnik-sim's "PTY <path>" line; empty text when it did not start.
std::string StartEmulator(ChildProcess& sim);

// tarnik-sim with its pseudo-terminal.
class SimProcess {
public:
    SimProcess(const std::vector<std::string>& args, const std::string& program);
    const std::string& Pty() const { return pty_; }
    // The exit code, or -1 when the emulator does not end within the time.
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        return process_.Wait(static_cast<int>(limit.count())).value_or(-1);
    }

private:
    ChildProcess process_;
    std::string pty_;
};

struct ProgramResult {
    int exitCode = -1; // -1 when it did not end in time (it is then killed)
    std::string out;
    std::string err;
};

// Runs a program to its end with stdin from /dev/null, stdout and stderr captured, and the
// given environment variables set on top of the test's own.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(60));

} // namespace tarnik::testing
