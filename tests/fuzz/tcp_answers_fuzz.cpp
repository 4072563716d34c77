// TTCP_WR's recognition of the network modules' answers (handshakes, identification, boot
// identification, erase and record acknowledgments): any received byte stream, in random
// splits, alone or on top of a correctly answering unit, for each model code and either
// answer to the version question. Nothing may crash, every process must end by itself, and
// success is only reported when the unit holds the whole image.
#include "fuzzed_line.h"

#include "programmers/tcp_programmer.h"

#include <array>
#include <map>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnik;
    // Unit type and the model code its image gives the programmer.
    static constexpr std::array<std::array<int, 2>, 3> kTypes = {{{4, 0}, {9, 2}, {15, 4}}};
    static std::map<int, RecordList> images;

    fuzz::InputReader input(data, size);
    const std::uint8_t setup = input.Byte();
    const auto [unitType, modelCode] = kTypes[input.Byte() % kTypes.size()];
    const std::uint8_t address = input.Byte();
    const bool withUnit = (setup & 1) != 0;
    auto image = images.find(unitType);
    if (image == images.end())
        image = images.emplace(unitType, fuzz::ProcessRecords(unitType, 3)).first;

    fuzz::FuzzedLine line(input, unitType, address, false, image->second, withUnit);
    line.view.answerYes = (setup & 2) != 0;
    TTCP_WR programmer(line.context);
    programmer.Configure(address, static_cast<std::uint8_t>(modelCode));
    programmer.StartProcess();

    if (withUnit && line.exitStatus == TTCP_WR::kEndingProgramming)
        TARNIK_FUZZ_CHECK(line.UnitHasWholeImage(0, false), "success only with the whole image");
    return 0;
}
