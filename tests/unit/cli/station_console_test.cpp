// The console shared by the units of a run: progress per unit, and lines never glued to
// the redrawn progress line.
#include "cli/station_console.h"
#include "cli/station_run.h"

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
    constexpr auto kProgramming = ProgressPass::Programming;
    console.Progress(1, kProgramming, 0, 20);
    console.Progress(1, kProgramming, 1, 20); // still the first tenth
    console.Progress(0, kProgramming, 10, 20);
    console.Progress(1, kProgramming, 2, 20);
    console.Progress(5, kProgramming, 1, 20); // no such unit
    console.Progress(0, kProgramming, 19, 20);
    console.Progress(0, ProgressPass::Verification, 19, 20); // the same tenth of a new pass
    EXPECT_EQ(Contents(err), "[ttyUSB1] Progress: programming 0 % (0/20 records)\n"
                             "[ttyUSB0] Progress: programming 50 % (10/20 records)\n"
                             "[ttyUSB1] Progress: programming 10 % (2/20 records)\n"
                             "[ttyUSB0] Progress: programming 90 % (19/20 records)\n"
                             "[ttyUSB0] Progress: verification 90 % (19/20 records)\n");
    std::fclose(err);
}

TEST(StationConsole, OnATerminalOneBoardHoldsEveryUnitAndALineEndsItFirst) {
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    StationConsole console(err, true, {"a", "b"});
    console.Progress(0, ProgressPass::Programming, 5, 10);
    console.Print(err, "[b] Process status: Programming ...");
    console.Finish(); // nothing open: no empty line
    EXPECT_EQ(Contents(err), "\r[a programming #####      50%] [b programming            0%] \n"
                             "[b] Process status: Programming ...\n");
    std::fclose(err);
}

TEST(StationSummary, ColumnsFitTheirLongestCellAndEachStateIsSaidOnce) {
    UnitResult byId, failed, interrupted;
    byId.port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    byId.serial = "0000A1B2";
    byId.outcome = ProcessOutcome(ProcessOutcome::Kind::Succeeded, 20);
    byId.outcome.stepName = "Ending process";
    byId.seconds = 12.34;
    failed.port = "/dev/ttyUSB1";
    failed.outcome = ProcessOutcome(ProcessOutcome::Kind::Failed, 5389);
    failed.outcome.stepName = "Programming ...";
    failed.seconds = 3;
    interrupted.port = "COM3";
    interrupted.outcome = ProcessOutcome(ProcessOutcome::Kind::Interrupted, 13);
    interrupted.outcome.stepName = "Programming ...";
    EXPECT_EQ(SummaryTable({byId, failed, interrupted}),
              "Summary:\n"
              "  Port                                                            Serial    Result"
              "                   Exit status  Seconds\n"
              "  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0  0000A1B2  "
              "programmed                        20     12.3\n"
              "  /dev/ttyUSB1                                                    -         "
              "failed: Programming ...         5389      3.0\n"
              "  COM3                                                            -         "
              "interrupted                       13      0.0\n");
}

} // namespace
} // namespace tarnik::cli
