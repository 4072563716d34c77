#pragma once
// What a process uses for each unit type: line settings, pause after opening the port, the
// programmer family, and where the unit address is remembered. Titles come from the image
// module (UnitTypeTitle).
#include "image/unit_types.h"
#include "serial/comm_port.h"
#include "tools/text.h"

#include <cstdint>
#include <optional>

namespace tarnik {

enum class ProgrammerFamily { S19, NetworkModule, Audio };

struct UnitTypeInfo {
    int type = 0;
    Text title;
    TBaudRate baud = cbr38400;
    TParity parity = paNone;
    TStopbits stopbits = sb1_0;
    std::uint32_t pauseMs = 0; // wait between opening the port and checking it
    ProgrammerFamily family = ProgrammerFamily::S19;
    int modelCode = 0; // network-module programmer only
};

// The row of a unit type 0..18, or nothing for any other number.
std::optional<UnitTypeInfo> FindUnitType(int type);

// Setting under which the address of a unit type is read after a load, and the one it is
// stored under on a change (type 9 reads and writes "adr_srva_netk"; type 15 only reads it).
Text AddressReadSettingName(int type);
Text AddressStoreSettingName(int type);

// True for the unit types whose window shows the address field, so the technician chooses
// the address; the others always use a fixed or remembered one.
bool ShowsAddressField(int type);

} // namespace tarnik
