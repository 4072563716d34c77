// The serial port on Windows: the communications API with overlapped I/O, the event wait
// done by WaitCommEvent.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600 // CancelIoEx
#endif
#include "serial/serial_backend.h"
#include "tools/system_error.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace tarnik {

namespace {

// While the device is gone (an unplugged adapter), the event wait is retried this often.
constexpr DWORD kLineDownRetryMs = 500;
// A wait that ended without naming an event and without new input is renewed after this
// pause, so a driver that ends such waits at once cannot make the thread spin.
constexpr DWORD kSilentWaitRetryMs = 5;
// How often the input queue is looked at on a port whose driver has no event waits.
constexpr DWORD kQueuePollMs = 5;

constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR; // 0x0A

// One read or write: the structure the system fills while the transfer runs, with an event
// of its own (manual reset, created signalled).
struct TransferRecord {
    OVERLAPPED overlapped{};
};

TransferRecord* NewTransferRecord() {
    auto* record = new TransferRecord{};
    record->overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    if (record->overlapped.hEvent == nullptr) {
        delete record;
        return nullptr;
    }
    return record;
}

void FreeTransferRecord(TransferRecord* record) {
    CloseHandle(record->overlapped.hEvent);
    delete record;
}

// A transfer that did not finish in time may still be running in the system: cancel it and
// wait until the system has let go of the record (and of the caller's buffer) before
// releasing it.
void CancelTransfer(HANDLE port, TransferRecord* record) {
    DWORD transferred = 0;
    CancelIoEx(port, &record->overlapped);
    GetOverlappedResult(port, &record->overlapped, &transferred, TRUE);
    FreeTransferRecord(record);
}

OpenFailure FailureOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return OpenFailure::Missing;
    case ERROR_ACCESS_DENIED: // what an open port gives to a second open
    case ERROR_SHARING_VIOLATION:
        return OpenFailure::InUse;
    default:
        return OpenFailure::Other;
    }
}

HANDLE OpenDevice(const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED, nullptr);
}

class Win32EventWaiter final : public EventWaiter {
public:
    Win32EventWaiter(HANDLE port, DWORD mask) : port_(port), watchRx_((mask & kEventRxChar) != 0) {
        SetCommMask(port_, mask);
        stopEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        waitEvent_ = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        overlapped_.hEvent = waitEvent_;
    }
    ~Win32EventWaiter() override {
        CloseHandle(stopEvent_);
        CloseHandle(waitEvent_);
    }
    Win32EventWaiter(const Win32EventWaiter&) = delete;
    Win32EventWaiter& operator=(const Win32EventWaiter&) = delete;

    Result Wait(std::uint32_t& mask) override {
        if (polling_) return PollInputQueue(mask);
        // After a time-out the outstanding wait stays in force and is not issued again.
        if (!pending_) {
            eventMask_ = 0;
            if (!WaitCommEvent(port_, &eventMask_, &overlapped_) &&
                GetLastError() != ERROR_IO_PENDING)
                return WatchInputQueue(mask);
            pending_ = true;
        }
        HANDLE list[2] = {stopEvent_, waitEvent_};
        switch (WaitForMultipleObjects(2, list, FALSE, kEventWaitMs)) {
        case WAIT_OBJECT_0:
            return Result::Stopped;
        case WAIT_OBJECT_0 + 1: {
            pending_ = false;
            DWORD unused = 0;
            // A wait that ended in failure on a port that still answers was ended by its
            // driver (wine's, on a port mapped to a pseudo-terminal, ends each one after a few
            // milliseconds unless bytes are already queued): backing off as for a lost
            // device would hold every answer of a unit for the whole pause.
            if (!GetOverlappedResult(port_, &overlapped_, &unused, FALSE))
                return WatchInputQueue(mask);
            if (eventMask_ != 0) {
                mask = eventMask_;
                return Result::Event;
            }
            // Some drivers end the wait without naming the event: look at the input queue.
            const Result input = CheckInput(mask);
            return input == Result::TimedOut ? Pause(kSilentWaitRetryMs) : input;
        }
        default:
            return Result::TimedOut;
        }
    }

    void Dispatched(bool inputTaken) override {
        backlog_ = inputTaken ? 0 : std::max(QueuedBytes(), 0);
    }

    void Stop() override { SetEvent(stopEvent_); }

    void Finish() override {
        if (!pending_) return;
        DWORD unused = 0;
        CancelIoEx(port_, &overlapped_);
        GetOverlappedResult(port_, &overlapped_, &unused, TRUE);
        pending_ = false;
    }

private:
    // A driver without working event waits still reports its input queue: watch that for the
    // rest of this session. A port that does not answer at all is gone (an unplugged adapter):
    // look again after the line-down pause.
    Result WatchInputQueue(std::uint32_t& mask) {
        if (QueuedBytes() < 0) return BackOff();
        polling_ = true;
        return CheckInput(mask);
    }

    Result PollInputQueue(std::uint32_t& mask) {
        if (Pause(kQueuePollMs) == Result::Stopped) return Result::Stopped;
        return CheckInput(mask);
    }

    // Bytes that arrived since the last dispatch count as a character received (Event);
    // bytes that a dispatch left unread do not, as with the system's own event (TimedOut).
    // A port that does not answer is looked at again after the line-down pause.
    Result CheckInput(std::uint32_t& mask) {
        const int queued = QueuedBytes();
        if (queued < 0) return BackOff();
        const bool arrived = watchRx_ && queued > backlog_;
        backlog_ = queued;
        if (!arrived) return Result::TimedOut;
        mask = kEventRxChar;
        return Result::Event;
    }

    // Bytes in the driver's input queue, or -1 when the port does not answer. The call that
    // reports the queue also clears the line-error flags; a session without event masks
    // cannot report those anyway.
    int QueuedBytes() const {
        COMSTAT comstat{};
        DWORD errors = 0;
        if (!ClearCommError(port_, &errors, &comstat)) return -1;
        return static_cast<int>(comstat.cbInQue);
    }

    Result Pause(DWORD ms) {
        return WaitForSingleObject(stopEvent_, ms) == WAIT_OBJECT_0 ? Result::Stopped
                                                                    : Result::TimedOut;
    }

    // The wait cannot be issued (device gone): try again later instead of spinning.
    Result BackOff() { return Pause(kLineDownRetryMs); }

    HANDLE port_;
    const bool watchRx_;
    int backlog_ = 0;
    HANDLE stopEvent_ = nullptr;
    HANDLE waitEvent_ = nullptr;
    OVERLAPPED overlapped_{};
    DWORD eventMask_ = 0;
    bool pending_ = false;
    bool polling_ = false;
};

class Win32Backend final : public SerialBackend {
public:
    ~Win32Backend() override { Close(); }

    bool Open(const std::string& deviceName, int readQueue, int writeQueue, OpenFailure& why,
              std::string& errorText) override {
        HANDLE h = OpenDevice(deviceName);
        // Ports above COM9 open only under their device-namespace name.
        if (h == INVALID_HANDLE_VALUE) h = OpenDevice("\\\\.\\" + deviceName);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            why = FailureOf(error);
            errorText = WindowsErrorText(error);
            return false;
        }
        SetupComm(h, static_cast<DWORD>(readQueue), static_cast<DWORD>(writeQueue));
        COMMTIMEOUTS timeouts{};
        GetCommTimeouts(h, &timeouts);
        timeouts.ReadIntervalTimeout = kByteGapMs;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = 0;
        SetCommTimeouts(h, &timeouts);
        handle_ = h;
        return true;
    }

    void Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        PurgeComm(handle_, kPurgeInput);
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    bool IsOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    void ApplyField(LineField field, const LineConfig& line) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(handle_, &dcb);
        switch (field) {
        case LineField::BaudRate:
            dcb.BaudRate = static_cast<DWORD>(BaudRateBits(line.baudRate));
            break;
        case LineField::Parity:
            dcb.Parity = static_cast<BYTE>(line.parity);
            break;
        case LineField::Stopbits:
            dcb.StopBits = static_cast<BYTE>(line.stopbits);
            break;
        case LineField::Databits:
            dcb.ByteSize = static_cast<BYTE>(line.databits + 4);
            break;
        }
        SetCommState(handle_, &dcb);
    }

    bool SetDTR(bool value) override {
        return EscapeCommFunction(handle_, value ? SETDTR : CLRDTR) != 0;
    }

    int Read(void* buffer, int count) override {
        TransferRecord* record = NewTransferRecord();
        if (record == nullptr) return -1;
        // The immediate result does not matter: completion is read from the record.
        if (!ReadFile(handle_, buffer, static_cast<DWORD>(count), nullptr, &record->overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            FreeTransferRecord(record);
            return -1;
        }
        return Complete(record);
    }

    int Write(const void* buffer, int count) override {
        TransferRecord* record = NewTransferRecord();
        if (record == nullptr) return -1;
        if (!WriteFile(handle_, buffer, static_cast<DWORD>(count), nullptr, &record->overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            FreeTransferRecord(record);
            return -1;
        }
        return Complete(record);
    }

    PortStatus ClearError() override {
        PortStatus status;
        DWORD errors = 0;
        COMSTAT comstat{};
        if (ClearCommError(handle_, &errors, &comstat)) {
            status.errors = errors;
            status.inputCount = static_cast<int>(comstat.cbInQue);
            status.heldForDsr = comstat.fDsrHold != 0;
        }
        return status;
    }

    bool ModemStatus(std::uint32_t& status) override {
        DWORD modem = 0;
        if (!GetCommModemStatus(handle_, &modem)) return false;
        status = modem;
        return true;
    }

    std::unique_ptr<EventWaiter> CreateWaiter(std::uint32_t systemMask) override {
        return std::make_unique<Win32EventWaiter>(handle_, systemMask);
    }

private:
    // Waits up to kTransferWaitMs for a started transfer; the count, or -1.
    int Complete(TransferRecord* record) {
        int result = -1;
        DWORD transferred = 0;
        if (WaitForSingleObject(record->overlapped.hEvent, kTransferWaitMs) == WAIT_OBJECT_0 &&
            GetOverlappedResult(handle_, &record->overlapped, &transferred, FALSE))
            result = static_cast<int>(transferred);
        if (result > 0)
            FreeTransferRecord(record);
        else
            CancelTransfer(handle_, record);
        return result;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

} // namespace

std::unique_ptr<SerialBackend> SerialBackend::Create() {
    return std::make_unique<Win32Backend>();
}

} // namespace tarnik
