#pragma once
// Byte texts written as numbers in tests: Bytes({0xFF, 0x01}).
#include "tools/text.h"

#include <initializer_list>

namespace tarnik::testing {

inline Text Bytes(std::initializer_list<int> values) {
    Text text;
    for (const int value : values)
        text.push_back(static_cast<char>(value));
    return text;
}

} // namespace tarnik::testing
