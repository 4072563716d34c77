#pragma once
// Keyboard filters of the address and serial-number fields and the serial-number step.
#include "tools/text.h"

#include <cstdint>

namespace tarnik {

constexpr char kBackspace = '\b';

// AdrTxKeyPress: the character in upper case when it is a hex digit or backspace, else 0
// (the key is discarded).
char FilterAddressKey(char key);
// EdNrSerialKeyPress: the character itself when it is a hex digit (either case) or
// backspace, else 0.
char FilterSerialKey(char key);

// The serial number after a successful process: eight hex digits read as one 32-bit number
// plus one, written as eight upper-case digits (FFFFFFFF gives 00000000). Anything but
// eight hex digits is returned unchanged.
Text NextSerial(const Text& serial);

// Address text as stored and shown: empty gives 0, hex digits of the text otherwise; below
// 256 the text becomes two upper-case digits, larger values keep the text as it was.
struct AddressText {
    std::uint32_t value = 0;
    Text text;
};
AddressText NormaliseAddress(const Text& text);

} // namespace tarnik
