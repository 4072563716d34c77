#pragma once
// Motorola S-record files: S1/S2/S3 data records with 16-, 24- and 32-bit addresses; S0
// headers, S5/S6 counts and S7/S8/S9 start addresses are checked and passed over.
#include "tools/text.h"

#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace tarnik {

struct SRecordData {
    std::uint32_t address = 0;
    Text data;
    int line = 0; // line number from 1
};

struct SRecordError {
    int line = 0; // line number from 1; 0 when the file itself cannot be read
    std::string message;
};

struct SRecordFile {
    std::vector<SRecordData> records; // data records in file order
    std::vector<SRecordError> errors; // every bad line
    bool ok() const { return errors.empty(); }
};

// Parses every line; blank lines are allowed, anything else must be a correct S-record.
SRecordFile ParseSRecords(std::istream& in);
SRecordFile ReadSRecordFile(const std::string& path);

} // namespace tarnik
