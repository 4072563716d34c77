#include "sim/unit_report.h"

#include "tools/hexcodec.h"

#include <cstdio>
#include <sstream>

namespace tarnik::sim {

namespace {

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const char* ParityName(TParity parity) {
    switch (parity) {
    case paNone:
        return "none";
    case paOdd:
        return "odd";
    case paEven:
        return "even";
    case paMark:
        return "mark";
    case paSpace:
        return "space";
    }
    return "?";
}

std::string Hex(const Text& bytes) {
    std::string hex = BytesToHexList(bytes);
    if (!hex.empty()) hex.pop_back(); // the list ends in a blank
    return hex;
}

void WriteLine(std::ostream& out, const LineSettings& line) {
    out << "{\"baud\": " << line.baud << ", \"parity\": " << Quote(ParityName(line.parity))
        << ", \"stop_bits\": "
        << (line.stopbits == sb1_0   ? "1"
            : line.stopbits == sb1_5 ? "1.5"
                                     : "2")
        << ", \"data_bits\": " << (static_cast<int>(line.databits) + 4) << "}";
}

void WriteFrames(std::ostream& out, const std::vector<FrameEntry>& frames) {
    out << "  \"frames\": [";
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const FrameEntry& f = frames[i];
        out << (i ? ",\n" : "\n") << "    {\"time_ms\": " << f.timeMs << ", \"line\": ";
        WriteLine(out, f.line);
        out << ", \"what\": " << Quote(f.what) << ", \"hex\": " << Quote(Hex(f.bytes)) << "}";
    }
    out << (frames.empty() ? "],\n" : "\n  ],\n");
}

void WriteRecords(std::ostream& out, const char* name, const std::vector<RecordEntry>& records) {
    out << "  " << Quote(name) << ": [";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const RecordEntry& r = records[i];
        char address[8];
        char key[8];
        std::snprintf(address, sizeof address, "%04X", r.address);
        std::snprintf(key, sizeof key, "%04X", r.key);
        out << (i ? ",\n" : "\n") << "    {\"index\": " << r.index
            << ", \"address\": " << Quote(address) << ", \"key\": " << Quote(key)
            << ", \"attempts\": " << r.attempts
            << ", \"checksum_ok\": " << (r.checksumOk ? "true" : "false")
            << ", \"matches\": " << (r.matches ? (*r.matches ? "true" : "false") : "null")
            << ", \"note\": " << Quote(r.note) << "}";
    }
    out << (records.empty() ? "],\n" : "\n  ],\n");
}

void WriteViolations(std::ostream& out, const std::vector<Violation>& violations) {
    out << "  \"violations\": [";
    for (std::size_t i = 0; i < violations.size(); ++i) {
        out << (i ? ",\n" : "\n") << "    {\"time_ms\": " << violations[i].timeMs
            << ", \"text\": " << Quote(violations[i].text) << "}";
    }
    out << (violations.empty() ? "],\n" : "\n  ],\n");
}

} // namespace

std::string ReportToJson(const UnitReport& report, bool pass) {
    std::ostringstream out;
    out << "{\n  \"unit_type\": " << report.unitType << ",\n";
    out << "  \"verdict\": " << Quote(pass ? "pass" : "fail") << ",\n";
    out << "  \"complete\": " << (report.complete ? "true" : "false") << ",\n";
    out << "  \"end_reason\": " << Quote(report.endReason) << ",\n";
    out << "  \"image_records\": ";
    if (report.imageRecords)
        out << *report.imageRecords;
    else
        out << "null";
    out << ",\n  \"junk_bytes\": " << report.junkBytes << ",\n";
    WriteFrames(out, report.frames);
    WriteRecords(out, "records", report.records);
    WriteRecords(out, "verifications", report.verifications);
    WriteViolations(out, report.violations);
    out << "  \"violation_count\": " << report.violations.size() << "\n}\n";
    return out.str();
}

} // namespace tarnik::sim
