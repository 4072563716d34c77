#pragma once
// What TComm64 needs of the operating system: one backend per system (posix/, win32/).
// Everything here except EventWaiter::Wait and EventWaiter::Stop runs on the main thread.
#include "serial/comm_port.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tarnik {

// System event bits of the port (the values of SystemEventBit).
constexpr std::uint32_t kEventRxChar = 0x0001;
constexpr std::uint32_t kEventRxFlag = 0x0002;
constexpr std::uint32_t kEventTxEmpty = 0x0004;
constexpr std::uint32_t kEventCts = 0x0008;
constexpr std::uint32_t kEventDsr = 0x0010;
constexpr std::uint32_t kEventRlsd = 0x0020;
constexpr std::uint32_t kEventBreak = 0x0040;
constexpr std::uint32_t kEventError = 0x0080;
constexpr std::uint32_t kEventRing = 0x0100;

// Modem status bit of the CTS line.
constexpr std::uint32_t kModemCtsOn = 0x0010;

// How long one event wait lasts before it is simply renewed.
constexpr int kEventWaitMs = 10000;
// Bounds of one block transfer.
constexpr int kTransferWaitMs = 2000;
constexpr int kByteGapMs = 250;

struct LineConfig {
    TBaudRate baudRate = cbr9600;
    TParity parity = paNone;
    TStopbits stopbits = sb1_0;
    TDatabits databits = da8;
};

enum class LineField { BaudRate, Parity, Stopbits, Databits };

// Line state read (and error state cleared) at every dispatched event.
struct PortStatus {
    std::uint32_t errors = 0;
    int inputCount = 0;
    bool heldForDsr = false;
};

// The waiting half of the event thread, bound to one open port.
class EventWaiter {
public:
    enum class Result { Event, TimedOut, Stopped };
    virtual ~EventWaiter() = default;
    // Waits up to kEventWaitMs for port events; on Event, mask holds their system bits.
    // Called on the event thread only, and never after Stop.
    virtual Result Wait(std::uint32_t& mask) = 0;
    // Called on the event thread after an event was handed off, while the port is open;
    // inputTaken tells whether the dispatch read any received bytes.
    virtual void Dispatched(bool inputTaken) { (void)inputTaken; }
    // Any thread: makes the running or next Wait return Stopped.
    virtual void Stop() = 0;
    // Called on the event thread on its way out: releases what a pending wait still holds.
    virtual void Finish() {}
};

class SerialBackend {
public:
    virtual ~SerialBackend() = default;
    // The backend of the system the program was built for.
    static std::unique_ptr<SerialBackend> Create();

    // Opens the port exclusively for reading and writing; on failure, why tells the reason
    // and errorText the system's words for it.
    virtual bool Open(const std::string& deviceName, int readQueue, int writeQueue,
                      OpenFailure& why, std::string& errorText) = 0;
    // Drops unread input and closes the port; nothing when closed.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Applies one field of line to the open port; refusals are ignored.
    virtual void ApplyField(LineField field, const LineConfig& line) = 0;
    virtual bool SetDTR(bool value) = 0;
    // As ReadBlock and WriteBlock; count is at least 1.
    virtual int Read(void* buffer, int count) = 0;
    virtual int Write(const void* buffer, int count) = 0;
    virtual PortStatus ClearError() = 0;
    virtual bool ModemStatus(std::uint32_t& status) = 0;
    // A waiter for the given system event mask on the open port.
    virtual std::unique_ptr<EventWaiter> CreateWaiter(std::uint32_t systemMask) = 0;
};

} // namespace tarnik
