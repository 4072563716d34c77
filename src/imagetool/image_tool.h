#pragma once
// tarnik-image: prints what an image file holds (info) and makes images out of Motorola
// S-record files (pack).
#include "image/image_writer.h"
#include "image/srecord.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarnik {

struct PackOptions {
    int unitType = -1;
    Text version;
    std::optional<std::int64_t> dateSeconds; // now when not given
    Text serial;                             // 8 hex digits, or empty
    std::size_t recordSize = 64;
    std::string input;
    std::string output;
};

// Cuts the data of an S-record file into image records of at most recordSize bytes: runs of
// consecutive addresses, a later byte at the same address replacing an earlier one, and a
// record always starting at 0xEFA0 so the serial number has a record of its own. Keys are
// left 0. std::invalid_argument for data above 0xFFFF.
std::vector<ImageRecordSpec> SplitIntoRecords(const std::vector<SRecordData>& data,
                                              std::size_t recordSize);

// Runs one command line (without the program name); returns the exit code: 0 done, 1 a bad
// image or input file, 2 bad arguments.
int RunImageTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace tarnik
