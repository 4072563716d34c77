// The window's command line: numbers in C= and V=, and inputs the fuzzer found.
#include "shell/command_line.h"

#include <gtest/gtest.h>

namespace tarnik {
namespace {

bool NoFile(const std::string&) {
    return false;
}

TEST(ShellCommandLine, DecimalNumbersTakeOneSignAtMost) {
    EXPECT_EQ(ParseDecimal("12"), 12);
    EXPECT_EQ(ParseDecimal("+12"), 12);
    EXPECT_EQ(ParseDecimal("-12"), -12);
    // Found by the fuzzer: "+-1" was read as -1.
    for (const char* text : {"+-1", "-+1", "++1", "--1", "+", "-", "", " 1", "1 ", "0x1"})
        EXPECT_EQ(ParseDecimal(text), std::nullopt) << text;
}

TEST(ShellCommandLine, PortAndVerificationValuesMustBeNumbers) {
    const CommandLine line = ParseCommandLine({"C=+-3", "V=+-1"}, NoFile);
    EXPECT_EQ(line.portName, std::nullopt);
    ASSERT_TRUE(line.verify.has_value());
    EXPECT_FALSE(*line.verify);

    const CommandLine later = ParseCommandLine({"c=2", "C=+7", "v=+1"}, NoFile);
    EXPECT_EQ(later.portName, Text("COM+7"));
    EXPECT_EQ(later.verify, true);
}

} // namespace
} // namespace tarnik
