#pragma once
// The terminal settings of a serial line, built apart from the device so that the flags each
// speed, parity, stop-bit and data-bit value puts on the line can be checked without a UART.
#include "serial/serial_backend.h"

#include <termios.h>

namespace tarnik {

// A raw 8-bit line without flow control that a non-blocking read can wait on.
void MakeRawLine(termios& t);
// Changes only the one field of the line; the other settings stay as they are.
void ApplyLineField(termios& t, LineField field, const LineConfig& line);

} // namespace tarnik
