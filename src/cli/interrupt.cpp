#include "cli/interrupt.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace tarnik::cli {

namespace {

std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free data");

// The second interrupt: the user insists, leave without any clean-up.
void CountInterrupt() {
    if (interrupts.fetch_add(1) + 1 >= 2) _exit(kSecondInterruptExitCode);
}

#ifdef _WIN32
BOOL WINAPI ConsoleHandler(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    CountInterrupt();
    return TRUE;
}
#else
void SignalHandler(int) {
    const int saved = errno;
    CountInterrupt();
    errno = saved;
}
#endif

} // namespace

void InstallInterruptHandlers() {
#ifdef _WIN32
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = SignalHandler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a question waiting for the terminal gives up and takes the safe answer.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

int InterruptCount() {
    return interrupts.load();
}

void InterruptiblePump::processMessages() {
    inner_.processMessages();
    // The stop itself processes messages (it writes log lines): it must not start again.
    if (inside_) return;
    const int count = InterruptCount();
    if (count == handled_) return;
    handled_ = count;
    inside_ = true;
    onInterrupt_();
    inside_ = false;
}

} // namespace tarnik::cli
