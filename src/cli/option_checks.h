#pragma once
// Value checks for the CLI11 options of the command-line programs (tarnik-cli, tarnik-sim,
// tarnik-image). CLI11 puts the option's name before the text a check returns.
#include <algorithm>
#include <cctype>
#include <string>

#include <CLI/CLI.hpp>

namespace tarnik::options {

// A whole decimal number: digits only, leading zeros dropped, so "050" is fifty (CLI11 alone
// would read it as octal) and "-1" or "0x10" are refused. Goes before a typed option's
// CLI::Range.
inline CLI::Validator Decimal() {
    return {[](std::string& value) -> std::string {
                if (value.empty() || !std::all_of(value.begin(), value.end(), [](unsigned char c) {
                        return std::isdigit(c) != 0;
                    }))
                    return "takes a decimal number, not '" + value + "'";
                value.erase(0, std::min(value.find_first_not_of('0'), value.size() - 1));
                return {};
            },
            "N"};
}

// minDigits to maxDigits hexadecimal digits, upper-cased.
inline CLI::Validator HexDigits(std::size_t minDigits, std::size_t maxDigits,
                                const std::string& what) {
    return {[=](std::string& value) -> std::string {
                const bool hex = std::all_of(value.begin(), value.end(),
                                             [](unsigned char c) { return std::isxdigit(c) != 0; });
                if (!hex || value.size() < minDigits || value.size() > maxDigits)
                    return "takes " + what + ": " + value;
                for (char& c : value)
                    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
                return {};
            },
            "HEX"};
}

// Any text but an empty one; `what` says what the option needs ("a file name").
inline CLI::Validator NotEmpty(const std::string& what) {
    return {[=](const std::string& value) { return value.empty() ? "needs " + what : ""; }, ""};
}

} // namespace tarnik::options
