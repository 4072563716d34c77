// The window's command line: numbers in C= and V=, and inputs the fuzzer found.
#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>

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

// The window has no --help to make its manual page from: the page's OPTIONS entries
// (".BI P= IMAGE") must be exactly the arguments the command line acts on.
TEST(ShellCommandLine, ManualPageListsTheArgumentsTheWindowTakes) {
    const char* source = std::getenv("TARNIK_TEST_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream page(std::string(source) + "/packaging/man/tarnik.1.in");
    ASSERT_TRUE(page.is_open());
    std::set<char> documented;
    bool inOptions = false;
    const std::regex entry(R"(^\.B[IR]? ([A-Z])=)");
    std::smatch match;
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".SH ", 0) == 0) inOptions = line == ".SH OPTIONS";
        if (inOptions && std::regex_search(line, match, entry))
            documented.insert(match[1].str()[0]);
    }
    std::set<char> taken;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const CommandLine line = ParseCommandLine({std::string(1, letter) + "=1"},
                                                  [](const std::string&) { return true; });
        if (line.imageFile || line.portName || line.verify) taken.insert(letter);
    }
    EXPECT_EQ(documented, taken);
}

} // namespace
} // namespace tarnik
