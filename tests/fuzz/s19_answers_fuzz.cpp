// TS19_WR's recognition of the unit's answers: any received byte stream, in random splits,
// alone or on top of a correctly answering unit. Nothing may crash, every process must end by
// itself, and success is only reported when the unit holds the whole image (and has verified
// it, when asked).
#include "fuzzed_line.h"

#include "programmers/s19_programmer.h"

#include <array>
#include <map>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnik;
    static constexpr std::array<int, 15> kTypes = {0,  1,  2,  3,  6,  7,  8, 10,
                                                   11, 12, 13, 14, 16, 17, 18};
    static std::map<int, RecordList> images;

    fuzz::InputReader input(data, size);
    const std::uint8_t setup = input.Byte();
    const int unitType = kTypes[input.Byte() % kTypes.size()];
    const std::uint8_t address = input.Byte();
    const bool withUnit = (setup & 1) != 0;
    const bool verify = (setup & 2) != 0;
    auto image = images.find(unitType);
    if (image == images.end())
        image = images.emplace(unitType, fuzz::ProcessRecords(unitType, 3)).first;

    fuzz::FuzzedLine line(input, unitType, address, verify, image->second, withUnit);
    TS19_WR programmer(line.context, address);
    programmer.StartProcess(unitType);

    if (withUnit && line.exitStatus == TS19_WR::kStartApplication)
        TARNIK_FUZZ_CHECK(line.UnitHasWholeImage(0, verify), "success only with the whole image");
    return 0;
}
