#pragma once
// Ctrl+C for tarnik-cli. The signal (SIGINT, SIGTERM; Ctrl+C and Ctrl+Break on Windows) only
// counts; the main thread notices the count when it processes its messages and stops the
// process there, as STOP answered Yes does. A second signal ends the program at once.
#include "tools/message_pump.h"

#include <functional>

namespace tarnik::cli {

// Exit code of a program ended by the second interrupt.
inline constexpr int kSecondInterruptExitCode = 130;

// Installs the handlers; each signal adds one to InterruptCount().
void InstallInterruptHandlers();
int InterruptCount();

// The pump the shell runs with: processes the main thread's messages and then, once per new
// interrupt, calls onInterrupt on the main thread.
class InterruptiblePump final : public MessagePump {
public:
    InterruptiblePump(MessagePump& inner, std::function<void()> onInterrupt)
        : inner_(inner), onInterrupt_(std::move(onInterrupt)) {}
    void processMessages() override;
    void callSync(std::function<void()> fn) override { inner_.callSync(std::move(fn)); }
    void waitForWork(std::uint32_t timeoutMs, Clock& clock) override {
        inner_.waitForWork(timeoutMs, clock);
    }

private:
    MessagePump& inner_;
    std::function<void()> onInterrupt_;
    int handled_ = 0;
    bool inside_ = false;
};

} // namespace tarnik::cli
