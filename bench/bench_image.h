#pragma once
// The image both benchmarks program: a type 1 expander of 256 records of 256 data bytes.
#include "image/image_file.h"
#include "image/image_writer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnik::bench {

constexpr int kUnitType = 1;
constexpr int kRecords = 256;
constexpr std::size_t kDataBytes = 256;

inline void WriteBenchImage(const std::string& path) {
    ImageSpec spec;
    spec.unitType = kUnitType;
    spec.version = "1.00";
    spec.dateSeconds = 1700000000;
    spec.fileKey = 0x5A17;
    for (int i = 0; i < kRecords; ++i) {
        Text data;
        for (std::size_t b = 0; b < kDataBytes; ++b)
            data += AsChar(static_cast<std::uint8_t>(i * 31 + b * 7));
        spec.records.push_back({static_cast<std::uint16_t>(i * kDataBytes), data,
                                static_cast<std::uint16_t>(0x1357 + i * 0x9E3)});
    }
    WriteImageFile(path, BuildImage(spec));
}

// The emulator's arguments for the bench image, with wire timing.
inline std::vector<std::string> EmulatorArgs(const std::string& imagePath) {
    return {"--type", "1", "--address", "01", "--wire", "--image", imagePath};
}

} // namespace tarnik::bench
