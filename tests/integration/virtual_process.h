#pragma once
// One whole programming process of any unit family on the in-process line and a virtual
// clock, against the emulated unit: the programmer the process control would create, the
// records read from an image file by the loader, and hooks into the window's log line and
// message processing, where a STOP arrives in the real program.
#include "image/image_writer.h"
#include "image/unit_types.h"
#include "serial/tfustaw.h"
#include "shell/programmer.h"
#include "sim/loopback.h"
#include "sim/quiet_view.h"
#include "sim/unit_model.h"
#include "support/temp_dir.h"
#include "support/virtual_line.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tarnik::sim::testing {

// The window as the programmers see it: records the log and status lines, and processes
// messages inside each log line as the real window does.
class ProcessWindow final : public QuietProcessView {
public:
    using QuietProcessView::QuietProcessView;
    void LogLine(const Text& line) override {
        log.push_back(line);
        pump().processMessages();
    }
    void SetInfoTx(const Text& caption) override { status = caption; }

    std::vector<Text> log;
    Text status;
};

// Records of the unit type's format, as the loader reads them from an image file.
inline RecordList ImageRecordsOfType(int unitType, int count) {
    ImageSpec spec;
    spec.unitType = unitType;
    spec.fileKey = 0x2B4D;
    for (int i = 0; i < count; ++i)
        spec.records.push_back({static_cast<std::uint16_t>(0x4000 + 0x20 * i),
                                Text(20, static_cast<char>(0x41 + i)),
                                static_cast<std::uint16_t>(0x1357 + 0x2468 * i)});
    tarnik::testing::TempDir dir;
    const std::string path = (dir / "image.bin").string();
    WriteImageFile(path, BuildImage(spec));
    RecordList records;
    DiscardLog quiet;
    if (!LoadImageRecords(path, Text(), records, quiet).ok())
        throw std::runtime_error("the test image does not load");
    return records;
}

struct VirtualProcess : tarnik::testing::VirtualLine<ProcessWindow> {
    // A process for the unit type against an emulated unit with the given faults.
    VirtualProcess(int unitType, const UnitFaults& faults = {}, int recordCount = 3)
        : VirtualLine(20261209) {
        records = ImageRecordsOfType(unitType, recordCount);
        UnitOptions options;
        options.unitType = unitType;
        options.address = 0;
        options.image = records;
        options.faults = faults;
        unit = CreateUnitModel(options);
        port.SetPeer(unit.get());
        view.unitType = unitType;
        view.answerYes = true; // the network modules' version question
        view.edNrSerial = "12345678";
        OpenFor(unitType);
        programmer = MakeProgrammer(context, *FindUnitType(unitType), 0);
    }

    ProcessOutcome Run() { return programmer->Run(); }

    std::unique_ptr<UnitModel> unit;
    std::unique_ptr<Programmer> programmer;
};

} // namespace tarnik::sim::testing
