#pragma once
// The station the page tests and scripts/check-page show: three ports (one running, one
// programmed, one failed) and a few ended units, one of them with a port label that is markup.
#include "cli/station_page.h"

namespace tarnik::cli::testing {

inline constexpr const char* kHostileLabel = "<script>document.title='owned'</script>";

inline void FillThreePortStation(StationPage& page) {
    const auto now = std::chrono::steady_clock::now();
    const char* expander = "Expander";
    page.UpdatePort(0, {"ttyUSB0", 1, expander, "0000A1F3", "Programming ...", 64, PortState::Running,
                     0, now - std::chrono::milliseconds(41500), "Process status: Programming ..."});
    page.UpdatePort(1, {"ttyUSB1",
                     1,
                     expander,
                     "0000A1F2",
                     "Ending process",
                     100,
                     PortState::Programmed,
                     58.3,
                     {},
                     "Process status: Ending process"});
    page.UpdatePort(2, {"ttyUSB2",
                     1,
                     expander,
                     "0000A1F4",
                     "Connection establishment",
                     0,
                     PortState::Failed,
                     12.0,
                     {},
                     "Process status: An error occurred. Connection establishment"});
    const ShownResult ended[] = {
        {"2026-03-02T14:02:10+01:00", "ttyUSB0", 1, "0000A1EE", "programmed", 17, "Ending process",
         "Process status: Ending process", 57.9},
        {"2026-03-02T14:02:11+01:00", "ttyUSB2", 1, "0000A1F0", "failed", 5384,
         "Erasing Block No 1 memory...",
         "Process status: An error occurred. Erasing Block No 1 memory...", 20.4},
        {"2026-03-02T14:03:02+01:00", kHostileLabel, 1, "0000A1F1", "interrupted", 13,
         "Programming ...", "Process status: Interrupting process", 31.0},
        {"2026-03-02T14:03:21+01:00", "ttyUSB1", 1, "0000A1F2", "programmed", 17, "Ending process",
         "Process status: Ending process", 58.3},
    };
    for (const ShownResult& row : ended)
        page.AddResult(row);
}

} // namespace tarnik::cli::testing
