#pragma once
// The serial port as the rest of the program sees it: line settings, open/close, block
// transfers and the character-received event. TComm64 is the real port; tests plug in a
// simulated one. Failures are return values (false, -1, -2), never exceptions.
#include "tools/serial_line.h"
#include "tools/text.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace tarnik {

enum TC32EventState : std::uint8_t {
    evBreak,
    evCTS,
    evDSR,
    evError,
    evRing,
    evRlsd,
    evRxChar,
    evRxFlag,
    evTxEmpty
};

// Set of TC32EventState, one bit per ordinal.
using TC32EventType = std::uint16_t;
constexpr TC32EventType EventSet(TC32EventState e) {
    return static_cast<TC32EventType>(1u << e);
}
constexpr TC32EventType kAllEvents = 0x01FF;

// Bits per second of a TBaudRate.
int BaudRateBits(TBaudRate rate);
// The TBaudRate of a bit rate, or false when there is none.
bool BaudRateFromBits(int bits, TBaudRate& rate);
// The system event bit of an event (0x0001 character received, ...).
std::uint32_t SystemEventBit(TC32EventState e);
// The system event mask of a set.
std::uint32_t SystemEventMask(TC32EventType set);

// Why the last Open failed, for the front ends' messages.
enum class OpenFailure { None, Missing, InUse, PermissionDenied, NotATerminal, Other };

class CommPort {
public:
    virtual ~CommPort() = default;

    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual bool SetDTR(bool value) = 0;
    // Up to count bytes into buffer; the count read, or -1 (count < 1, time-out, failure).
    virtual int ReadBlock(void* buffer, int count) = 0;
    // The count written, -2 when count < 1, or -1 (time-out, failure).
    virtual int WriteBlock(const void* buffer, int count) = 0;

    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& name) { deviceName_ = name; }
    TBaudRate BaudRate() const { return baudRate_; }
    TParity Parity() const { return parity_; }
    TStopbits Stopbits() const { return stopbits_; }
    TDatabits Databits() const { return databits_; }
    // Stored at once; applied to the live line when the port is open.
    void SetBaudRate(TBaudRate v) {
        baudRate_ = v;
        ApplySetting();
    }
    void SetParity(TParity v) {
        parity_ = v;
        ApplySetting();
    }
    void SetStopbits(TStopbits v) {
        stopbits_ = v;
        ApplySetting();
    }
    void SetDatabits(TDatabits v) {
        databits_ = v;
        ApplySetting();
    }

    TC32EventType MonitorEvents = kAllEvents;
    int ReadBufferSize = 1024;
    int WriteBufferSize = 1024;

    // Event handlers, called on the main thread. Only the character-received one is bound
    // by the program; the others exist for completeness of the component.
    std::function<void()> OnBreakSignal;
    std::function<void(bool)> OnCTSSignal;
    std::function<void(bool)> OnDSRSignal;
    std::function<void(int)> OnErrorSignal;
    std::function<void()> OnRingSignal;
    std::function<void()> OnRLSDSignal;
    std::function<void(int)> OnRxCharSignal;
    std::function<void()> OnRxFlagSignal;
    std::function<void()> OnTxEmptySignal;

    // Reason of the last failed Open (None after a successful one).
    OpenFailure LastOpenFailure() const { return lastOpenFailure_; }
    // The system's own words for it ("Permission denied", "Access is denied (error 5)"), or
    // empty when the system gave none.
    const std::string& LastOpenErrorText() const { return lastOpenErrorText_; }

protected:
    // Applies the stored line settings to the open port; nothing when closed.
    virtual void ApplySetting() {}
    void SetLastOpenFailure(OpenFailure f, std::string errorText = {}) {
        lastOpenFailure_ = f;
        lastOpenErrorText_ = std::move(errorText);
    }

private:
    std::string deviceName_ = "COM2";
    TBaudRate baudRate_ = cbr2400;
    TParity parity_ = paNone;
    TStopbits stopbits_ = sb1_0;
    TDatabits databits_ = da8;
    OpenFailure lastOpenFailure_ = OpenFailure::None;
    std::string lastOpenErrorText_;
};

} // namespace tarnik
