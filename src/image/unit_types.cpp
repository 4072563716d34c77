#include "image/unit_types.h"

#include "image/image_file.h"

#include <array>
#include <string_view>

namespace tarnik {

namespace {

// Indexed by unit type. Type 4 keeps its trailing blank.
constexpr std::array<const char*, kMaxUnitType + 1> kTitles = {
    "Tarnik v2.01A_EN   KRN-40 Controller Program",
    "Tarnik v2.01A_EN   Expander Program",
    "Tarnik v2.01A_EN   Access Controller Program",
    "Tarnik v2.01A_EN   Bus-422 Converter Program",
    "Tarnik v2.01A_EN   NETK-2 Module Program ",
    "Tarnik v2.01A_EN   Audio Verification Program",
    "Tarnik v2.01A_EN   Siren Program",
    "Tarnik v2.01A_EN   V.LUX Keypad Program",
    "Tarnik v2.01A_EN   Program bariery podczerwieni",
    "Tarnik v2.01A_EN   SRVA-NETK Card Program",
    "Tarnik v2.01A_EN   Gas Detector Tester Program",
    "Tarnik v2.01A_EN   ORVO CP Program",
    "Tarnik v2.01A_EN   BXR 300 Program",
    "Tarnik v2.01A_EN   MX 12 LNK Program",
    "Tarnik v2.01A_EN   TOVEL 2 Program",
    "Tarnik v2.01A_EN   SMNET-PTX Card Program",
    "Tarnik v2.01A_EN   RQX50 Tester Program",
    "Tarnik v2.01A_EN   PWL50 Controller Program",
    "Tarnik v2.01A_EN   Lintra-KP Keypad Program",
};

} // namespace

bool IsKnownUnitType(int unitType) {
    return unitType >= 0 && unitType <= kMaxUnitType;
}

Text UnitTypeTitle(int unitType) {
    return IsKnownUnitType(unitType) ? kTitles[static_cast<std::size_t>(unitType)] : "";
}

Text UnitTypeName(int unitType) {
    if (!IsKnownUnitType(unitType)) return "";
    std::string_view name(kTitles[static_cast<std::size_t>(unitType)]);
    name.remove_prefix(std::string_view(kTitlePrefix).size());
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    constexpr std::string_view suffix = " Program";
    if (name.ends_with(suffix)) name.remove_suffix(suffix.size());
    return Text(name);
}

} // namespace tarnik
