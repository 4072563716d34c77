#include "serial/tfustaw.h"

#include "tools/hexcodec.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

namespace tarnik {

namespace {

// Bit periods per character on the line: start bit, 8 data bits, stop bit.
constexpr long long kBitsPerCharacterTimesMs = 10 * 1000;

} // namespace

TFUstaw::TFUstaw(CommPort& comm, MessagePump& pump, Clock& clock, LogSink& log)
    : comm_(comm), pump_(pump), clock_(clock), log_(log) {
    comm_.OnRxCharSignal = [this](int count) { CommRxCharSignal(count); };
}

TFUstaw::~TFUstaw() {
    comm_.OnRxCharSignal = nullptr;
}

void TFUstaw::FormCreate() {
    RxRingPos = 0;
    // The program's port as the form stores it: only arrivals wake the event thread.
    comm_.SetDeviceName("COM1");
    comm_.SetBaudRate(cbr9600);
    comm_.SetParity(paNone);
    comm_.SetStopbits(sb1_0);
    comm_.SetDatabits(da8);
    comm_.MonitorEvents = EventSet(evRxChar);
    comm_.ReadBufferSize = 1024;
    comm_.WriteBufferSize = 1024;
}

void TFUstaw::CommRxCharSignal(int count) {
    pump_.processMessages();

    // The driver may hold more than the buffer: take what fits, the rest raises the next event.
    std::array<std::uint8_t, kReadBufferSize> buffer;
    const int request = std::min(count, kReadBufferSize);
    int n = comm_.ReadBlock(buffer.data(), request);
    if (n < 1) return;
    ++arrivals_;
    lastArrivalUs_ = clock_.TickUs();

    if (n > kMaxArrival) {
        log_.LogLine(" CAT ! " + std::to_string(n - kMaxArrival));
        n = kMaxArrival;
    }
    const std::span<const std::uint8_t> block(buffer.data(), static_cast<std::size_t>(n));
    log_.LogLine("RX:" + BytesToHexList(block, static_cast<std::uint16_t>(n)));

    if (RxRingPos < 0 || RxRingPos + n > kRingSize) RxRingPos = 0;
    std::memcpy(RxRing.data() + RxRingPos, block.data(), block.size());
    RxRingPos += n;

    RxText += BytesToText(block, static_cast<std::uint16_t>(n));
    if (RxText.size() > kMaxRxText) RxText.clear();
}

void TFUstaw::SendText(const Text& s) {
    if (s.empty()) return;
    const int count = static_cast<int>(s.size());
    const int written = comm_.WriteBlock(s.data(), count);
    log_.LogLine("TX: " + BytesToHexList(s));
    LogFailedWrite(written, count);
    pump_.processMessages();
}

void TFUstaw::SendBlock(Block block, int count) {
    if (count < 1) return;
    const int n = std::min(count, static_cast<int>(block.size()));
    const int written = comm_.WriteBlock(block.data(), n);
    log_.LogLine("TX: " + BytesToHexList(std::span<const std::uint8_t>(block.data(), n),
                                         static_cast<std::uint16_t>(n)));
    LogFailedWrite(written, n);
    pump_.processMessages();
}

void TFUstaw::LogFailedWrite(int written, int count) {
    if (written == count) return;
    const std::string what = written >= 0 ? "only " + std::to_string(written) + " of " +
                                                std::to_string(count) + " bytes sent"
                                          : std::string("time-out or line error");
    log_.LogLine("Write to port " + comm_.DeviceName() + " failed: " + what);
}

void TFUstaw::WaitLineQuiet(std::uint32_t guardMs, std::uint32_t capMs) {
    if (arrivals_ == 0 || guardMs == 0) return;
    const std::uint64_t guardUs = std::uint64_t{guardMs} * 1000;
    const std::uint32_t start = clock_.TickMs();
    for (;;) {
        const std::uint64_t quietUs = clock_.TickUs() - lastArrivalUs_;
        if (quietUs >= guardUs || clock_.TickMs() - start >= capMs) return;
        const auto waitMs = static_cast<std::uint32_t>((guardUs - quietUs + 999) / 1000);
        pump_.waitForWork(waitMs, clock_);
        pump_.processMessages();
    }
}

int TFUstaw::SendTimeMs(const Text& s) const {
    const long long bits = BaudRateBits(comm_.BaudRate());
    return static_cast<int>(static_cast<long long>(s.size()) * kBitsPerCharacterTimesMs / bits);
}

} // namespace tarnik
