#include "support/child_process.h"

#include "support/temp_dir.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarnik::testing {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings)
        pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// This process's environment with the given variables set on top.
std::vector<std::string> Environment(const std::map<std::string, std::string>& env) {
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!env.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
    }
    for (const auto& [name, value] : env)
        environment.push_back(name + "=" + value);
    return environment;
}

std::optional<int> WaitFor(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

void End(pid_t pid) {
    kill(pid, SIGTERM);
    if (!WaitFor(pid, 2000)) {
        kill(pid, SIGKILL);
        WaitFor(pid, 2000);
    }
}

} // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& errorFile,
                           const std::map<std::string, std::string>& env) {
    int pipeFds[2];
    // Close-on-exec, so children started side by side do not hold each other's pipes open.
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return;
    std::vector<std::string> all = args;
    all.insert(all.begin(), program);
    std::vector<char*> argv = Pointers(all);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    if (!errorFile.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> environment = Environment(env);
    std::vector<char*> envp = Pointers(environment);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = pipeFds[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) End(pid_);
    if (out_ >= 0) close(out_);
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0 && !status_) kill(pid_, signal);
}

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (const auto end = buffered_.find('\n'); end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (out_ < 0 || left.count() <= 0) return std::nullopt;
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[256];
        const ssize_t n = read(out_, chunk, sizeof chunk);
        if (n <= 0) return std::nullopt;
        buffered_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
    if (status_ || pid_ <= 0) return status_;
    status_ = WaitFor(pid_, timeoutMs);
    return status_;
}

std::string StartEmulator(ChildProcess& sim) {
    for (int i = 0; i < 10; ++i) {
        const auto line = sim.ReadLine(5000);
        if (!line) break;
        if (line->rfind("PTY ", 0) == 0) return line->substr(4);
    }
    return "";
}

SimProcess::SimProcess(const std::vector<std::string>& args, const std::string& program)
    : process_(program, args), pty_(StartEmulator(process_)) {}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env,
                         std::chrono::milliseconds limit) {
    TempDir dir;
    const std::string outPath = (dir / "out").string();
    const std::string errPath = (dir / "err").string();
    std::vector<std::string> all = args;
    all.insert(all.begin(), program);
    std::vector<char*> argv = Pointers(all);

    std::vector<std::string> environment = Environment(env);
    std::vector<char*> envp = Pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ProgramResult result;
    pid_t pid = -1;
    const bool started =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (started) {
        const auto code = WaitFor(pid, static_cast<int>(limit.count()));
        if (!code) End(pid);
        result.exitCode = code.value_or(-1);
    }
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

} // namespace tarnik::testing
