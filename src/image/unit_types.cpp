#include "image/unit_types.h"

namespace tarnik {

Text UnitTypeTitle(int number) {
    const UnitTypeRow* unit = FindUnitType(number);
    return unit != nullptr ? Text(kTitlePrefix) + unit->title : Text();
}

Text UnitTypeName(int number) {
    const UnitTypeRow* unit = FindUnitType(number);
    if (unit == nullptr) return "";
    std::string_view name(unit->title);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    constexpr std::string_view suffix = " Program";
    if (name.ends_with(suffix)) name.remove_suffix(suffix.size());
    return Text(name);
}

} // namespace tarnik
