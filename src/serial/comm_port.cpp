#include "serial/comm_port.h"

#include <array>

namespace tarnik {

namespace {

constexpr std::array<int, 13> kBaudBits = {110,   300,   1200,   2400,   4800,   9600,  19200,
                                           38400, 57600, 115200, 230400, 460800, 921600};
constexpr std::array<std::uint32_t, 9> kEventBits = {0x0040, 0x0008, 0x0010, 0x0080, 0x0100,
                                                     0x0020, 0x0001, 0x0002, 0x0004};

} // namespace

int BaudRateBits(TBaudRate rate) {
    return rate < kBaudBits.size() ? kBaudBits[rate] : kBaudBits[cbr9600];
}

bool BaudRateFromBits(int bits, TBaudRate& rate) {
    for (std::size_t i = 0; i < kBaudBits.size(); ++i) {
        if (kBaudBits[i] == bits) {
            rate = static_cast<TBaudRate>(i);
            return true;
        }
    }
    return false;
}

std::uint32_t SystemEventBit(TC32EventState e) {
    return e < kEventBits.size() ? kEventBits[e] : 0;
}

std::uint32_t SystemEventMask(TC32EventType set) {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < kEventBits.size(); ++i)
        if (set & (1u << i)) mask |= kEventBits[i];
    return mask;
}

} // namespace tarnik
