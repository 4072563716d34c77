#include "shell/command_line.h"

#include <cctype>
#include <charconv>

namespace tarnik {

std::optional<long long> ParseDecimal(const std::string& text) {
    std::string_view digits = text;
    // One sign at most: from_chars takes a minus itself, so a minus after a plus is refused here.
    if (!digits.empty() && digits.front() == '+') {
        digits.remove_prefix(1);
        if (!digits.empty() && digits.front() == '-') return std::nullopt;
    }
    long long value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

namespace {

std::string UpperPrefix(const std::string& arg) {
    std::string prefix = arg.substr(0, 2);
    for (char& c : prefix)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return prefix;
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args,
                             const std::function<bool(const std::string&)>& fileExists) {
    CommandLine result;
    for (const std::string& arg : args) {
        const std::string prefix = UpperPrefix(arg);
        const std::string value = arg.size() > 2 ? arg.substr(2) : std::string();
        if (prefix == "P=") {
            if (fileExists(value)) result.imageFile = value;
        } else if (prefix == "C=") {
            const auto number = ParseDecimal(value);
            if (number && *number > 0) result.portName = "COM" + value;
        } else if (prefix == "V=") {
            const auto number = ParseDecimal(value);
            result.verify = number && *number == 1;
        }
    }
    return result;
}

} // namespace tarnik
