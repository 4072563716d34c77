#include "shell/address_entry.h"

#include "tools/hexcodec.h"

#include <cctype>
#include <optional>

namespace tarnik {

namespace {

bool IsHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
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
    const std::optional<std::uint32_t> value = SerialValue(serial);
    return value ? SerialText(*value + 1) : serial;
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
