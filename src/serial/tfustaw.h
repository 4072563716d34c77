#pragma once
// The link buffer between the serial port and the programmers: it collects received bytes
// (the received text RxText and the receive area RxRing), sends texts and blocks, traces
// every block into the log, and provides the send-time estimate and the millisecond tick.
#include "serial/comm_port.h"
#include "tools/clock.h"
#include "tools/log_sink.h"
#include "tools/message_pump.h"
#include "tools/text.h"

#include <array>
#include <cstdint>

namespace tarnik {

class TFUstaw {
public:
    static constexpr int kRingSize = 32768;
    static constexpr int kReadBufferSize = 32768;
    static constexpr int kMaxArrival = 1024;
    static constexpr std::size_t kMaxRxText = 1000;

    // Binds comm's OnRxCharSignal to CommRxCharSignal.
    TFUstaw(CommPort& comm, MessagePump& pump, Clock& clock, LogSink& log);
    ~TFUstaw();
    TFUstaw(const TFUstaw&) = delete;
    TFUstaw& operator=(const TFUstaw&) = delete;

    CommPort& Comm() { return comm_; }
    Clock& GetClock() { return clock_; }

    // Gives Comm the program's stored settings (COM1, 9600 baud, no parity, 1 stop bit, 8 data
    // bits, character-received events only, 1024-byte queues) and empties the receive area.
    void FormCreate();
    void CommRxCharSignal(int count);
    void SendText(const Text& s);
    void SendBlock(Block block, int count);
    Text GetRxText() const { return RxText; }
    void ClearRxText() { RxText.clear(); }
    int SendTimeMs(const Text& s) const;
    std::uint32_t TickMs() { return clock_.TickMs(); }

    // Arrivals taken into RxText so far.
    std::uint64_t ArrivalCount() const { return arrivals_; }
    // Blocks until the port (or anything else) has work for the main thread or timeoutMs
    // have passed; the caller then processes its messages.
    void WaitForWork(std::uint32_t timeoutMs) { pump_.waitForWork(timeoutMs, clock_); }
    // Returns once no byte has arrived for more than guardMs (taking what arrives meanwhile),
    // or after capMs at most, so that a chattering line cannot hold the process.
    void WaitLineQuiet(std::uint32_t guardMs, std::uint32_t capMs);

    Text RxText;
    std::array<std::uint8_t, kRingSize> RxRing{};
    std::int32_t RxRingPos = 0;

private:
    // The process does not look at a send's result, but a line that did not take the bytes
    // must not pass unseen: the log says so (the trace line above it shows what was meant).
    void LogFailedWrite(int written, int count);

    CommPort& comm_;
    MessagePump& pump_;
    Clock& clock_;
    LogSink& log_;
    std::uint64_t arrivals_ = 0;
    std::uint64_t lastArrivalUs_ = 0;
};

} // namespace tarnik
