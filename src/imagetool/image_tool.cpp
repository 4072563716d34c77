#include "imagetool/image_tool.h"

#include "image/image_file.h"
#include "image/unit_types.h"
#include "tools/hexcodec.h"
#include "tools/version.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <random>
#include <stdexcept>

#include <CLI/CLI.hpp>

namespace tarnik {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadImage = 1;
constexpr int kExitUsage = 2;
constexpr std::uint32_t kHighestAddress = 0xFFFF;

constexpr const char* kProgram = "tarnik-image";
// A file that is not S-records at all would give one line per input line.
constexpr std::size_t kShownInputErrors = 5;

const char kUsage[] =
    "Usage: tarnik-image info FILE\n"
    "  or:  tarnik-image pack --type N --version TEXT [OPTION]... IN.s19 OUT.bin\n"
    "  or:  tarnik-image --help | --version\n";

const char kHelp[] =
    "Show a Tarnik firmware image, or make one from a Motorola S-record file.\n"
    "\n"
    "Commands:\n"
    "  info FILE            show the image's header (version, compilation date, unit type,\n"
    "                       record format), its records with their checksums and the serial\n"
    "                       number it carries\n"
    "  pack IN.s19 OUT.bin  make an image for a unit type from the data of an S-record file,\n"
    "                       each record scrambled with a key of its own\n"
    "\n"
    "Options of pack:\n"
    "  --type N             the unit type the image is for, 0 to 18 (required)\n"
    "  --version TEXT       the image's version, at most 10 characters, for example 1.05\n"
    "                       (required)\n"
    "  --date SECONDS       the compilation date as seconds since 1970-01-01 00:00 (default:\n"
    "                       now)\n"
    "  --serial XXXXXXXX    serial number (eight hex digits) written into the record at EFA0;\n"
    "                       S19-format types only (not the network modules, types 4, 9, 15)\n"
    "  --record-size N      the most data bytes in one record (default 64; at most 256, or\n"
    "                       255 for the network modules); a record also ends where the\n"
    "                       addresses jump and before EFA0\n"
    "\n"
    "Other options:\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the program's version and exit (before a command; after\n"
    "                       pack it is the image's version)\n"
    "\n"
    "Exit status:\n"
    "  0                    done\n"
    "  1                    the image or the S-record file is damaged or cannot be read or\n"
    "                       written\n"
    "  2                    bad arguments\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Text HexWord(std::uint16_t value) {
    Text hex = IntToHexEven(value);
    hex.insert(0, 4 - hex.size(), '0');
    return hex;
}

bool RecordChecksumOk(const TLDane& record, bool network) {
    const Text plain = DescrambleRecord(record);
    return network ? NetRecordChecksumOk(plain) : S19RecordChecksumOk(plain);
}

void PrintHeader(const ImageHeader& header, std::ostream& out) {
    out << "Version: " << header.version << "\n";
    out << "Compilation date: " << FormatImageDate(header.dateSeconds) << " (" << header.dateText
        << ")\n";
    out << "Unit type: " << header.unitType << " (" << UnitTypeName(header.unitType) << ")\n";
    out << "Record format: " << (IsNetworkModuleType(header.unitType) ? "network module" : "S19")
        << "\n";
}

void PrintRecords(const RecordList& records, bool network, std::ostream& out) {
    out << "Records: " << records.size() << "\n";
    for (std::size_t i = 0; i < records.size(); ++i) {
        out << "  [" << i << "] address " << HexWord(records[i].address) << ", length "
            << records[i].length << ", checksum "
            << (RecordChecksumOk(records[i], network) ? "ok" : "wrong") << "\n";
    }
}

int Info(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1) throw UsageError("info takes one image file");
    const std::string& path = args[0];
    RecordList records;
    DiscardLog log;
    const ImageLoadResult result = LoadImageRecords(path, "", records, log);
    if (!result.header || result.status == ImageLoadStatus::DateNotNumber ||
        result.status == ImageLoadStatus::UnknownType) {
        err << kProgram << ": " << result.message << "\n";
        return kExitBadImage;
    }
    const bool network = IsNetworkModuleType(result.header->unitType);
    PrintHeader(*result.header, out);
    PrintRecords(records, network, out);
    if (!result.ok()) {
        err << kProgram << ": " << result.message << "\n";
        return kExitBadImage;
    }
    if (!network) {
        const Text serial = ReadSerialFromImage(kSerialRecordAddress, path, log);
        if (!serial.empty()) out << "Serial number: " << serial << "\n";
    }
    return kExitOk;
}

long long ParseNumber(const std::string& option, const std::string& text) {
    std::size_t used = 0;
    long long value = 0;
    try {
        value = std::stoll(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size())
        throw UsageError(option + " needs a decimal number, not '" + text + "'");
    return value;
}

Text ParseSerial(const std::string& text) {
    const bool hex = text.size() == 8 && std::all_of(text.begin(), text.end(), [](char c) {
                         return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                     });
    if (!hex) throw UsageError("--serial needs 8 hex digits, not '" + text + "'");
    Text serial = text;
    for (char& c : serial)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return serial;
}

// Options as "--name value" or "--name=value"; the rest are the two file names.
PackOptions ParsePackOptions(const std::vector<std::string>& args) {
    PackOptions options;
    CLI::App app;
    // "/dev/ttyUSB0" and other paths are arguments, never Windows-style options.
    app.allow_windows_style_options(false);
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::string type, version, date, serial, recordSize;
    std::vector<std::string> files;
    auto* typeOption = app.add_option("--type", type);
    auto* versionOption = app.add_option("--version", version);
    auto* dateOption = app.add_option("--date", date);
    auto* serialOption = app.add_option("--serial", serial);
    auto* sizeOption = app.add_option("--record-size", recordSize);
    app.add_option("files", files)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::Error& error) {
        throw UsageError(error.what());
    }
    if (typeOption->count() > 0) {
        const long long number = ParseNumber("--type", type);
        options.unitType = IsKnownUnitType(static_cast<int>(std::clamp(number, -1LL, 19LL)))
                               ? static_cast<int>(number)
                               : -1;
    }
    if (versionOption->count() > 0) options.version = version;
    if (dateOption->count() > 0) options.dateSeconds = ParseNumber("--date", date);
    if (serialOption->count() > 0) options.serial = ParseSerial(serial);
    if (sizeOption->count() > 0) {
        const long long size = ParseNumber("--record-size", recordSize);
        if (size < 1) throw UsageError("--record-size must be at least 1");
        options.recordSize = static_cast<std::size_t>(size);
    }
    if (files.size() != 2) throw UsageError("pack takes an input and an output file");
    options.input = files[0];
    options.output = files[1];
    return options;
}

void CheckPackOptions(const PackOptions& options) {
    if (!IsKnownUnitType(options.unitType)) throw UsageError("--type must be 0..18");
    if (options.version.empty()) throw UsageError("--version is required");
    if (options.version.size() > 10) throw UsageError("--version holds at most 10 characters");
    const std::size_t limit =
        IsNetworkModuleType(options.unitType) ? kMaxNetRecordData : kMaxS19RecordData;
    if (options.recordSize > limit)
        throw UsageError("--record-size is at most " + std::to_string(limit) +
                         " for this unit type");
    if (!options.serial.empty() && IsNetworkModuleType(options.unitType))
        throw UsageError("--serial applies to S19-format images only (not types 4, 9, 15)");
}

// Puts the serial number into the record at 0xEFA0; false when that record is too short.
bool InsertSerial(std::vector<ImageRecordSpec>& records, const Text& serial, std::ostream& err) {
    auto record = std::find_if(records.begin(), records.end(), [](const ImageRecordSpec& r) {
        return r.address == kSerialRecordAddress;
    });
    if (record == records.end()) {
        err << kProgram << ": note: no data at EFA0, the serial number is not written\n";
        return true;
    }
    if (record->data.size() < kSerialDataOffset + kSerialDataSize) {
        err << kProgram << ": the record at EFA0 holds " << record->data.size()
            << " data bytes, too few for a serial number (at least 15 are needed)\n";
        return false;
    }
    record->data.replace(kSerialDataOffset, kSerialDataSize, HexToBytes(serial, false));
    return true;
}

int Pack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    PackOptions options = ParsePackOptions(args);
    CheckPackOptions(options);

    const SRecordFile input = ReadSRecordFile(options.input);
    const std::size_t shown = std::min(input.errors.size(), kShownInputErrors);
    for (std::size_t i = 0; i < shown; ++i)
        err << kProgram << ": " << options.input << ":" << input.errors[i].line << ": "
            << input.errors[i].message << "\n";
    if (input.errors.size() > shown)
        err << kProgram << ": " << options.input << ": " << input.errors.size() - shown
            << " more errors not shown; is it an S-record file?\n";
    if (!input.ok()) return kExitBadImage;

    ImageSpec spec;
    spec.unitType = options.unitType;
    spec.version = options.version;
    spec.dateSeconds = options.dateSeconds.value_or(static_cast<std::int64_t>(std::time(nullptr)));
    try {
        spec.records = SplitIntoRecords(input.records, options.recordSize);
    } catch (const std::invalid_argument& error) {
        err << kProgram << ": " << options.input << ": " << error.what() << "\n";
        return kExitBadImage;
    }
    if (!options.serial.empty() && !InsertSerial(spec.records, options.serial, err))
        return kExitBadImage;

    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> keys(0, 0xFFFF);
    spec.fileKey = static_cast<std::uint16_t>(keys(random));
    for (ImageRecordSpec& record : spec.records)
        record.key = static_cast<std::uint16_t>(keys(random));

    WriteImageFile(options.output, BuildImage(spec));
    out << options.output << ": unit type " << spec.unitType << " (" << UnitTypeName(spec.unitType)
        << "), version " << spec.version << ", " << spec.records.size() << " records\n";
    return kExitOk;
}

} // namespace

std::vector<ImageRecordSpec> SplitIntoRecords(const std::vector<SRecordData>& data,
                                              std::size_t recordSize) {
    std::map<std::uint32_t, std::uint8_t> memory;
    for (const SRecordData& record : data) {
        for (std::size_t i = 0; i < record.data.size(); ++i) {
            const std::uint64_t address = std::uint64_t{record.address} + i;
            if (address > kHighestAddress)
                throw std::invalid_argument("line " + std::to_string(record.line) +
                                            ": data above address FFFF");
            memory[static_cast<std::uint32_t>(address)] = ByteAt(record.data, i);
        }
    }
    std::vector<ImageRecordSpec> records;
    for (auto byte = memory.begin(); byte != memory.end();) {
        ImageRecordSpec record;
        record.address = static_cast<std::uint16_t>(byte->first);
        std::uint32_t next = byte->first;
        do {
            record.data.push_back(AsChar(byte->second));
            ++byte;
            ++next;
        } while (byte != memory.end() && byte->first == next && record.data.size() < recordSize &&
                 next != kSerialRecordAddress);
        records.push_back(std::move(record));
    }
    return records;
}

int RunImageTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        if (args.empty()) throw UsageError("no command given");
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] == "info") return Info(rest, out, err);
        if (args[0] == "pack") return Pack(rest, out, err);
        if (args[0] == "--help" || args[0] == "-h") {
            out << kUsage << kHelp;
            return kExitOk;
        }
        if (args[0] == "--version") {
            out << kProgram << " " << kPackageVersion << "\n";
            return kExitOk;
        }
        throw UsageError("unknown command " + args[0]);
    } catch (const UsageError& error) {
        err << kProgram << ": " << error.what() << "\n" << kUsage;
        return kExitUsage;
    } catch (const std::exception& error) {
        err << kProgram << ": " << error.what() << "\n";
        return kExitBadImage;
    }
}

} // namespace tarnik
