#pragma once
// The unit types an image header can name, one row each: everything the program knows about a
// type (its title, its programmer, its serial line, where its address comes from, what the
// window shows for it, how its programmer polls and marks its plain frames). Adding a unit
// type is adding its row. The emulator keeps a table of its own on purpose.
#include "tools/serial_line.h"
#include "tools/text.h"
#include "tools/version.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace tarnik {

enum class ProgrammerFamily { S19, NetworkModule, Audio };

// Where the unit address comes from when an image of the type is loaded.
enum class AddressRule : std::uint8_t {
    None,       // always 0: nothing is stored or shown
    Kept,       // the address stays as the last load or edit left it (treated as 0 on an edit)
    Entered,    // the window shows the address field; remembered under the type's setting
    Shared,     // the address remembered for another type (addressOwner), never stored
    Fixed,      // always 00, shown in the status bar
    FixedStored // always 00, stored as the type's remembered address
};

// The serial-number controls the window shows for the type.
enum class SerialControls : std::uint8_t { None, All, WithoutLabel };

struct UnitTypeRow {
    int number;
    const char* title; // the window title after kTitlePrefix (type 4 keeps a trailing blank)
    ProgrammerFamily family;
    std::uint8_t modelCode; // network-module programmer: how the unit enters its bootloader
    TBaudRate baud;
    TParity parity;
    TStopbits stopbits;
    std::uint32_t pauseMs; // wait between opening the port and checking it
    AddressRule address;
    const char* addressSetting; // the setting the remembered address is read from
    int addressOwner;           // Shared: the type whose address is used
    SerialControls serialControls;
    bool keepsCaption;         // a load leaves the window caption as it was
    std::uint32_t pollSleepMs; // main family: the poll loop's sleep per round
    std::uint8_t plainMarker;  // main family: the byte that marks plain frames (twice)
    // Main family: the unit is asked for its serial number when the serial-number field is
    // incomplete, and its programming ends through a step of its own.
    bool serialFromUnit;
    // Main family: the bootloader is asked for with a fixed frame of the type's own.
    bool fixedBootRequest;

    constexpr bool IsNetworkModule() const { return family == ProgrammerFamily::NetworkModule; }
    constexpr bool ShowsAddressField() const { return address == AddressRule::Entered; }
    // An edit of the address leaves 0 and stores nothing.
    constexpr bool KeepsNoAddress() const {
        return address == AddressRule::None || address == AddressRule::Kept;
    }
    // The setting an edited or loaded address is stored under; empty when none is.
    constexpr std::string_view AddressStoreSetting() const {
        return address == AddressRule::Shared ? std::string_view() : addressSetting;
    }
};

namespace unit_table {
using enum ProgrammerFamily;
using enum AddressRule;
constexpr SerialControls kNoSerial = SerialControls::None;
constexpr SerialControls All = SerialControls::All;
constexpr SerialControls WithoutLabel = SerialControls::WithoutLabel;

// clang-format off
inline constexpr std::array<UnitTypeRow, 19> kRows = {{
//   no title                          family         model line                    pause address     setting          owner serial        caption poll marker serial fixed
    {0,  "KRN-40 Controller Program",  S19,           0, cbr9600,  paNone, sb1_0, 0,   None,        "",              -1, kNoSerial,    false, 20, 0xFF, false, true},
    {1,  "Expander Program",           S19,           0, cbr38400, paNone, sb1_0, 500, Entered,     "adr_exp",       -1, kNoSerial,    false, 20, 0xFF, false, false},
    {2,  "Access Controller Program",  S19,           0, cbr38400, paNone, sb1_0, 500, Entered,     "adr_kkd",       -1, All,          true,  1,  0xFF, true,  false},
    {3,  "Bus-422 Converter Program",  S19,           0, cbr38400, paNone, sb1_0, 500, Kept,        "",              -1, WithoutLabel, false, 10, 0xDD, false, false},
    {4,  "NETK-2 Module Program ",     NetworkModule, 0, cbr4800,  paEven, sb2_0, 500, Entered,     "adr_tcp",       -1, kNoSerial,    false, 10, 0xFF, false, false},
    {5,  "Audio Verification Program", Audio,         0, cbr38400, paNone, sb1_0, 0,   None,        "",              -1, kNoSerial,    false, 10, 0xFF, false, false},
    {6,  "Siren Program",              S19,           0, cbr38400, paNone, sb1_0, 0,   Fixed,       "",              -1, kNoSerial,    false, 10, 0xFF, false, false},
    {7,  "V.LUX Keypad Program",       S19,           0, cbr19200, paNone, sb1_0, 0,   Fixed,       "",              -1, kNoSerial,    false, 10, 0xFF, false, false},
    {8,  "Program bariery podczerwieni", S19,         0, cbr38400, paNone, sb1_0, 0,   Entered,     "adr_bIRed",     -1, kNoSerial,    false, 1,  0xFF, false, false},
    {9,  "SRVA-NETK Card Program",     NetworkModule, 2, cbr4800,  paEven, sb2_0, 500, Entered,     "adr_srva_netk", -1, kNoSerial,    false, 10, 0xFF, false, false},
    {10, "Gas Detector Tester Program", S19,          0, cbr38400, paNone, sb1_0, 0,   Fixed,       "",              -1, kNoSerial,    false, 20, 0xFF, false, false},
    {11, "ORVO CP Program",            S19,           0, cbr38400, paNone, sb1_0, 500, FixedStored, "adr_orvo",      -1, kNoSerial,    false, 1,  0xFF, false, false},
    {12, "BXR 300 Program",            S19,           0, cbr38400, paNone, sb1_0, 0,   Fixed,       "",              -1, kNoSerial,    false, 10, 0xFF, false, false},
    {13, "MX 12 LNK Program",          S19,           0, cbr38400, paNone, sb1_0, 0,   Fixed,       "",              -1, kNoSerial,    false, 20, 0xFF, false, false},
    {14, "TOVEL 2 Program",            S19,           0, cbr38400, paNone, sb1_0, 0,   Fixed,       "",              -1, kNoSerial,    false, 20, 0xFF, false, false},
    {15, "SMNET-PTX Card Program",     NetworkModule, 4, cbr57600, paNone, sb2_0, 500, Shared,      "adr_srva_netk",  9, kNoSerial,    false, 10, 0xFF, false, false},
    {16, "RQX50 Tester Program",       S19,           0, cbr19200, paNone, sb1_0, 0,   Fixed,       "",              -1, kNoSerial,    false, 10, 0xFF, false, false},
    {17, "PWL50 Controller Program",   S19,           0, cbr38400, paNone, sb1_0, 0,   Fixed,       "",              -1, kNoSerial,    false, 10, 0xFF, false, false},
    {18, "Lintra-KP Keypad Program",   S19,           0, cbr9600,  paNone, sb1_0, 0,   None,        "",              -1, kNoSerial,    false, 20, 0xFF, false, false},
}};
// clang-format on

constexpr bool RowsInOrder() {
    for (std::size_t i = 0; i < kRows.size(); ++i)
        if (kRows[i].number != static_cast<int>(i)) return false;
    return true;
}
static_assert(RowsInOrder(), "a unit type's row stands at its number");
} // namespace unit_table

inline constexpr int kMaxUnitType = static_cast<int>(unit_table::kRows.size()) - 1;

// The row of a unit type, or nothing for a number outside the table.
constexpr const UnitTypeRow* FindUnitType(int number) {
    return number >= 0 && number <= kMaxUnitType
               ? &unit_table::kRows[static_cast<std::size_t>(number)]
               : nullptr;
}

constexpr bool IsKnownUnitType(int number) {
    return FindUnitType(number) != nullptr;
}

// The network-module record format and programmer.
constexpr bool IsNetworkModuleType(int number) {
    const UnitTypeRow* unit = FindUnitType(number);
    return unit != nullptr && unit->IsNetworkModule();
}

// The window title of a unit type, e.g. "Tarnik v2.01A_EN   Expander Program"; empty for an
// unknown type.
Text UnitTypeTitle(int number);
// The unit's name: the title without the program name and without a trailing " Program",
// e.g. "Expander"; empty for an unknown type.
Text UnitTypeName(int number);

} // namespace tarnik
