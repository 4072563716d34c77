#pragma once
// The command line of the program: P=image (unattended process), C=port number,
// V=verification. Prefixes are compared without regard to case; a later argument
// overrides an earlier one; other arguments are ignored.
#include "tools/text.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnik {

struct CommandLine {
    std::optional<std::string> imageFile; // an existing file named by P=
    std::optional<Text> portName;         // "COM" + the value of C= as written
    std::optional<bool> verify;           // V=: true only for the integer 1
};

CommandLine ParseCommandLine(const std::vector<std::string>& args,
                             const std::function<bool(const std::string&)>& fileExists);

// A decimal integer with an optional sign and nothing else.
std::optional<long long> ParseDecimal(const std::string& text);

} // namespace tarnik
