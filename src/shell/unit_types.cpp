#include "shell/unit_types.h"

#include "image/unit_types.h"

#include <array>

namespace tarnik {

namespace {

using F = ProgrammerFamily;

struct LineRow {
    TBaudRate baud;
    TParity parity;
    TStopbits stopbits;
    std::uint32_t pauseMs;
    ProgrammerFamily family;
    int modelCode;
};

// Indexed by unit type.
// clang-format off
const std::array<LineRow, 19> kUnitTypes = {{
    {cbr9600,  paNone, sb1_0, 0,   F::S19, 0},            // 0
    {cbr38400, paNone, sb1_0, 500, F::S19, 0},            // 1
    {cbr38400, paNone, sb1_0, 500, F::S19, 0},            // 2
    {cbr38400, paNone, sb1_0, 500, F::S19, 0},            // 3
    {cbr4800,  paEven, sb2_0, 500, F::NetworkModule, 0},  // 4
    {cbr38400, paNone, sb1_0, 0,   F::Audio, 0},          // 5
    {cbr38400, paNone, sb1_0, 0,   F::S19, 0},            // 6
    {cbr19200, paNone, sb1_0, 0,   F::S19, 0},            // 7
    {cbr38400, paNone, sb1_0, 0,   F::S19, 0},            // 8
    {cbr4800,  paEven, sb2_0, 500, F::NetworkModule, 2},  // 9
    {cbr38400, paNone, sb1_0, 0,   F::S19, 0},            // 10
    {cbr38400, paNone, sb1_0, 500, F::S19, 0},            // 11
    {cbr38400, paNone, sb1_0, 0,   F::S19, 0},            // 12
    {cbr38400, paNone, sb1_0, 0,   F::S19, 0},            // 13
    {cbr38400, paNone, sb1_0, 0,   F::S19, 0},            // 14
    {cbr57600, paNone, sb2_0, 500, F::NetworkModule, 4},  // 15
    {cbr19200, paNone, sb1_0, 0,   F::S19, 0},            // 16
    {cbr38400, paNone, sb1_0, 0,   F::S19, 0},            // 17
    {cbr9600,  paNone, sb1_0, 0,   F::S19, 0},            // 18
}};
// clang-format on

} // namespace

std::optional<UnitTypeInfo> FindUnitType(int type) {
    if (type < 0 || type >= static_cast<int>(kUnitTypes.size())) return std::nullopt;
    const LineRow& row = kUnitTypes[static_cast<std::size_t>(type)];
    return UnitTypeInfo{type,         UnitTypeTitle(type), row.baud,   row.parity,
                        row.stopbits, row.pauseMs,         row.family, row.modelCode};
}

Text AddressReadSettingName(int type) {
    switch (type) {
    case 1:
        return "adr_exp";
    case 2:
        return "adr_kkd";
    case 4:
        return "adr_tcp";
    case 8:
        return "adr_bIRed";
    case 9:
    case 15:
        return "adr_srva_netk";
    case 11:
        return "adr_orvo";
    default:
        return "";
    }
}

Text AddressStoreSettingName(int type) {
    return type == 15 ? Text() : AddressReadSettingName(type);
}

bool ShowsAddressField(int type) {
    return type == 1 || type == 2 || type == 4 || type == 8 || type == 9;
}

} // namespace tarnik
