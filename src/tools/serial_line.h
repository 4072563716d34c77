#pragma once
// The settings of a serial line, as the port component names them: what the unit-type table
// records for every type and what the port applies.
#include <cstdint>

namespace tarnik {

enum TBaudRate : std::uint8_t {
    cbr110,
    cbr300,
    cbr1200,
    cbr2400,
    cbr4800,
    cbr9600,
    cbr19200,
    cbr38400,
    cbr57600,
    cbr115200,
    cbr230400,
    cbr460800,
    cbr921600
};
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : std::uint8_t { sb1_0, sb1_5, sb2_0 };
enum TDatabits : std::uint8_t { da4, da5, da6, da7, da8 };

} // namespace tarnik
