// The console shared by the units of a run: progress per unit, and lines never glued to
// the redrawn progress line.
#include "cli/station_console.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tarnik::cli {
namespace {

std::string Contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    return text;
}

TEST(StationConsole, WithoutATerminalEachUnitPrintsATenthOnlyOnce) {
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    StationConsole console(err, false, {"ttyUSB0", "ttyUSB1"});
    console.Progress(1, 0, 20);
    console.Progress(1, 1, 20); // still the first tenth
    console.Progress(0, 10, 20);
    console.Progress(1, 2, 20);
    console.Progress(5, 1, 20); // no such unit
    EXPECT_EQ(Contents(err), "[ttyUSB1] Progress: 0 % (0/20 records)\n"
                             "[ttyUSB0] Progress: 50 % (10/20 records)\n"
                             "[ttyUSB1] Progress: 10 % (2/20 records)\n");
    std::fclose(err);
}

TEST(StationConsole, OnATerminalOneBoardHoldsEveryUnitAndALineEndsItFirst) {
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    StationConsole console(err, true, {"a", "b"});
    console.Progress(0, 5, 10);
    console.Print(err, "[b] Process status: Programming ...");
    console.Finish(); // nothing open: no empty line
    EXPECT_EQ(Contents(err), "\r[a #####      50%] [b            0%] \n"
                             "[b] Process status: Programming ...\n");
    std::fclose(err);
}

} // namespace
} // namespace tarnik::cli
