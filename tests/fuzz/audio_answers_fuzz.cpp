// TVAUDIO_WR's recognition of the audio verification unit's answers: any received byte
// stream, in random splits, alone or on top of a correctly answering unit. Nothing may crash,
// every process must end by itself, and success is only reported when the unit holds and has
// verified the whole image (record 0 is never sent to this unit).
#include "fuzzed_line.h"

#include "programmers/audio_programmer.h"

#include <optional>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnik;
    constexpr int kUnitType = 5;
    static const RecordList image = fuzz::ProcessRecords(kUnitType, 3);

    fuzz::InputReader input(data, size);
    const std::uint8_t setup = input.Byte();
    const std::uint8_t address = input.Byte();
    const bool withUnit = (setup & 1) != 0;

    fuzz::FuzzedLine line(input, kUnitType, address, true, image, withUnit);
    TVAUDIO_WR programmer(line.context, address);
    programmer.StartProcess();

    if (withUnit && line.exitStatus == TVAUDIO_WR::kStartApplication)
        TARNIK_FUZZ_CHECK(line.UnitHasWholeImage(1, true), "success only with the whole image");
    return 0;
}
