// tarnik-sim: plays a unit on a pseudo-terminal for one programming session.
#include "image/image_file.h"
#include "sim/pty_session.h"
#include "sim/sim_options.h"
#include "sim/unit_model.h"

#include <cstdio>
#include <fstream>
#include <iostream>

namespace {

using namespace tarnik;
using namespace tarnik::sim;

enum ExitCode { kHostCorrect = 0, kHostWrong = 1, kUsage = 2, kSystem = 3 };

bool LoadExpectedImage(SimOptions& options) {
    if (options.imagePath.empty()) return true;
    RecordList records;
    DiscardLog log;
    const ImageLoadResult result = LoadImageRecords(options.imagePath, Text(), records, log);
    if (!result.ok()) {
        std::cerr << "tarnik-sim: cannot use the image " << options.imagePath << ": "
                  << result.message << "\n";
        return false;
    }
    if (result.header && result.header->unitType != options.unit.unitType)
        std::cerr << "tarnik-sim: note: the image is for unit type " << result.header->unitType
                  << ", the unit is of type " << options.unit.unitType << "\n";
    options.unit.image = std::move(records);
    return true;
}

void PrintSummary(const UnitModel& model, bool pass) {
    const UnitReport& r = model.Report();
    std::cerr << "tarnik-sim: " << (pass ? "pass" : "fail") << ": " << r.frames.size()
              << " frames, " << r.records.size() << " records, " << r.verifications.size()
              << " verified, " << r.violations.size() << " violations; " << r.endReason << "\n";
    for (const Violation& v : r.violations)
        std::cerr << "tarnik-sim: violation at " << v.timeMs << " ms: " << v.text << "\n";
}

} // namespace

int main(int argc, char** argv) {
    SimOptions options;
    options.unit.checkParity = false; // a pseudo-terminal clears parity
    const ParseOutcome parsed =
        ParseSimArguments(std::vector<std::string>(argv + 1, argv + argc), options);
    if (parsed.help) {
        std::cout << SimHelp();
        return kHostCorrect;
    }
    if (!parsed.ok) {
        std::cerr << "tarnik-sim: " << parsed.error << "\n" << SimUsage();
        return kUsage;
    }
    if (!LoadExpectedImage(options)) return kUsage;

    PseudoTerminal pty;
    std::string error;
    if (!pty.Open(error)) {
        std::cerr << "tarnik-sim: " << error << "\n";
        return kSystem;
    }
    std::cout << "PTY " << pty.SlavePath() << std::endl;

    const std::unique_ptr<UnitModel> model = CreateUnitModel(options.unit);
    RunPtySession(pty, *model,
                  SessionTiming{options.idleTimeoutMs, options.hangupGraceMs, options.lingerMs});
    const bool pass = model->HostCorrect();
    if (!options.reportPath.empty()) {
        std::ofstream report(options.reportPath, std::ios::binary | std::ios::trunc);
        report << ReportToJson(model->Report(), pass);
        if (!report) {
            std::cerr << "tarnik-sim: cannot write " << options.reportPath << "\n";
            return kSystem;
        }
    }
    PrintSummary(*model, pass);
    return pass ? kHostCorrect : kHostWrong;
}
