#include "shell/address_entry.h"

#include "tools/hexcodec.h"

#include <cctype>
#include <cstdio>

namespace tarnik {

namespace {

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

Text EightHexDigits(std::uint32_t value) {
    char buffer[9];
    std::snprintf(buffer, sizeof buffer, "%08X", static_cast<unsigned>(value));
    return buffer;
}

} // namespace

char FilterAddressKey(char key) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(key)));
    return IsHexDigit(upper) || key == kBackspace ? upper : '\0';
}

char FilterSerialKey(char key) {
    return IsHexDigit(key) || key == kBackspace ? key : '\0';
}

Text NextSerial(const Text& serial) {
    if (serial.size() != 8) return serial;
    std::uint32_t value = 0;
    for (char c : serial) {
        if (!IsHexDigit(c)) return serial;
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return EightHexDigits(value + 1);
}

AddressText NormaliseAddress(const Text& text) {
    AddressText result;
    result.value = text.empty() ? 0 : static_cast<std::uint32_t>(HexToInt(text));
    result.text = text;
    if (result.value < 256) {
        char buffer[3];
        std::snprintf(buffer, sizeof buffer, "%02X", static_cast<unsigned>(result.value));
        result.text = buffer;
    }
    return result;
}

} // namespace tarnik
