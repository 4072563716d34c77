#include "sim/sim_options.h"

#include <array>
#include <cctype>
#include <charconv>
#include <functional>
#include <map>
#include <optional>

#include <CLI/CLI.hpp>

namespace tarnik::sim {

namespace {

bool ParseNumber(const std::string& text, std::uint32_t& value, int base = 10) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value, base);
    return result.ec == std::errc() && result.ptr == end;
}

bool ParseIndex(const std::string& text, int& value) {
    std::uint32_t n = 0;
    if (!ParseNumber(text, n) || n > 65535) return false;
    value = static_cast<int>(n);
    return true;
}

bool ParseSerial(const std::string& text, std::array<std::uint8_t, 4>& serial) {
    if (text.size() != 8) return false;
    for (std::size_t i = 0; i < 4; ++i) {
        std::uint32_t byte = 0;
        if (!ParseNumber(text.substr(i * 2, 2), byte, 16)) return false;
        serial[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

// "1.05": the three digits the unit reports.
bool ParseVersion(const std::string& text, std::array<std::uint8_t, 3>& version) {
    std::string digits;
    for (const char c : text) {
        if (std::isdigit(static_cast<unsigned char>(c)))
            digits += c;
        else if (c != '.')
            return false;
    }
    if (digits.size() != 3) return false;
    for (std::size_t i = 0; i < 3; ++i)
        version[i] = static_cast<std::uint8_t>(digits[i] - '0');
    return true;
}

bool ParseDate(const std::string& text, UnitDate& date) {
    std::uint32_t y = 0, m = 0, d = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    if (!ParseNumber(text.substr(0, 4), y) || !ParseNumber(text.substr(5, 2), m) ||
        !ParseNumber(text.substr(8, 2), d) || m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    date = {static_cast<int>(y), static_cast<int>(m), static_cast<int>(d)};
    return true;
}

bool ParseStatusList(const std::string& text, std::vector<std::uint8_t>& statuses) {
    statuses.clear();
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = text.find(',', from);
        const std::string item =
            text.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        std::uint32_t value = 0;
        if (!ParseNumber(item, value) || value > 255) return false;
        statuses.push_back(static_cast<std::uint8_t>(value));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    return !statuses.empty();
}

} // namespace

std::string SimUsage() {
    return "usage: tarnik-sim --type N [--address HEX] [--image FILE] [--serial XXXXXXXX]\n"
           "                  [--version 1.05] [--date YYYY-MM-DD] [--boot-type-bit7] [--wire]\n"
           "                  [--report FILE] [--idle-timeout-ms N] [--hangup-grace-ms N]\n"
           "                  [--erase-ms N] [--seed N] [faults...]\n"
           "--image is required for the network modules (types 4, 9 and 15): they answer\n"
           "their last record differently, so they must know which one it is.\n"
           "faults: --silent --wrong-type --bootloader-active --erase-progress 1,1,2\n"
           "        --erase-fail --drop-ack N --noise --hangup-at-record N\n"
           "        --answer-delay-ms N --verify-mismatch N   (records count from 0)\n"
           "        --noise-rate PERCENT --duplicate-answers --foreign-address\n"
           "  --answer-delay-ms N      every answer comes N ms late (the audio unit's host\n"
           "                           copes with any delay up to 1000 ms)\n"
           "  --erase-busy-ms N        audio unit: an erase command starts an erasure of N ms;\n"
           "                           frames that arrive meanwhile are ignored, and the frame\n"
           "                           that started it is answered when it is done\n"
           "  --record-answer-again-ms N\n"
           "                           network modules: every record is answered twice, the\n"
           "                           second copy N ms after the first, on a read of its own\n"
           "  --lose-record N          network modules: the first frame of record N is lost on\n"
           "                           the line (neither booked nor answered)\n"
           "  --chunk-bytes N          answers reach the host in pieces of at most N bytes,\n"
           "                           each on a read of its own, 16 ms apart (as a USB\n"
           "                           adapter hands them over); the audio unit's answers to\n"
           "                           frames every 100 ms keep up from 2 bytes on\n"
           "Prints \"PTY <path>\", serves one session on that pseudo-terminal and exits 0 when\n"
           "the host did what a correct host does, 1 otherwise.\n";
}

ParseOutcome ParseSimArguments(const std::vector<std::string>& args, SimOptions& options) {
    UnitOptions& unit = options.unit;
    UnitFaults& faults = unit.faults;
    bool typeGiven = false;
    std::uint32_t number = 0;

    const std::map<std::string, std::function<void()>> flags = {
        {"--wire", [&] { unit.wire = true; }},
        {"--boot-type-bit7", [&] { unit.bootTypeBit7 = true; }},
        {"--silent", [&] { faults.silent = true; }},
        {"--wrong-type", [&] { faults.wrongType = true; }},
        {"--bootloader-active", [&] { faults.bootloaderActive = true; }},
        {"--erase-fail", [&] { faults.eraseFail = true; }},
        {"--noise", [&] { faults.noise = true; }},
        {"--duplicate-answers", [&] { faults.duplicateAnswers = true; }},
        {"--foreign-address", [&] { faults.foreignAddress = true; }},
    };
    const std::map<std::string, std::function<bool(const std::string&)>> valued = {
        {"--type",
         [&](const std::string& v) {
             typeGiven = ParseNumber(v, number) && number <= 18;
             unit.unitType = static_cast<int>(number);
             return typeGiven;
         }},
        {"--address",
         [&](const std::string& v) {
             const bool ok = v.size() <= 2 && ParseNumber(v, number, 16);
             unit.address = static_cast<std::uint8_t>(number);
             return ok;
         }},
        {"--image",
         [&](const std::string& v) {
             options.imagePath = v;
             return !v.empty();
         }},
        {"--report",
         [&](const std::string& v) {
             options.reportPath = v;
             return !v.empty();
         }},
        {"--serial", [&](const std::string& v) { return ParseSerial(v, unit.serial); }},
        {"--version", [&](const std::string& v) { return ParseVersion(v, unit.version); }},
        {"--date",
         [&](const std::string& v) {
             UnitDate date;
             if (!ParseDate(v, date)) return false;
             unit.date = date;
             return true;
         }},
        {"--idle-timeout-ms",
         [&](const std::string& v) { return ParseNumber(v, options.idleTimeoutMs); }},
        {"--hangup-grace-ms",
         [&](const std::string& v) { return ParseNumber(v, options.hangupGraceMs); }},
        {"--erase-ms", [&](const std::string& v) { return ParseNumber(v, unit.eraseStepMs); }},
        {"--seed", [&](const std::string& v) { return ParseNumber(v, unit.noiseSeed); }},
        {"--erase-progress",
         [&](const std::string& v) { return ParseStatusList(v, faults.eraseProgress); }},
        {"--drop-ack", [&](const std::string& v) { return ParseIndex(v, faults.dropAck); }},
        {"--hangup-at-record",
         [&](const std::string& v) { return ParseIndex(v, faults.hangupAtRecord); }},
        {"--verify-mismatch",
         [&](const std::string& v) { return ParseIndex(v, faults.verifyMismatch); }},
        {"--noise-rate",
         [&](const std::string& v) {
             faults.noise = true;
             return ParseNumber(v, faults.noisePercent) && faults.noisePercent >= 1 &&
                    faults.noisePercent <= 100;
         }},
        {"--answer-delay-ms",
         [&](const std::string& v) { return ParseNumber(v, faults.answerDelayMs); }},
        {"--erase-busy-ms",
         [&](const std::string& v) {
             return ParseNumber(v, faults.eraseBusyMs) && faults.eraseBusyMs > 0;
         }},
        {"--record-answer-again-ms",
         [&](const std::string& v) {
             faults.recordAnswerAgainMs = 0;
             return ParseNumber(v, *faults.recordAnswerAgainMs);
         }},
        {"--lose-record", [&](const std::string& v) { return ParseIndex(v, faults.loseRecord); }},
        {"--chunk-bytes",
         [&](const std::string& v) {
             return ParseNumber(v, faults.chunkBytes) && faults.chunkBytes > 0;
         }},
    };

    CLI::App app;
    // "/dev/ttyUSB0" and other paths are arguments, never Windows-style options.
    app.allow_windows_style_options(false);
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    bool help = false;
    app.add_flag("-h,--help", help);
    for (const auto& [name, set] : flags)
        app.add_flag_callback(name, set);
    // The values are checked after the whole line has been read, in the order given.
    std::map<std::string, std::string> values;
    std::vector<std::pair<CLI::Option*, std::string>> valuedOptions;
    valuedOptions.reserve(valued.size());
    for (const auto& entry : valued)
        valuedOptions.emplace_back(app.add_option(entry.first, values[entry.first]), entry.first);
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::Error& error) {
        return {false, false, error.what()};
    }
    if (help) return {true, true, {}};
    for (const auto& [option, name] : valuedOptions) {
        if (option->count() == 0) continue;
        const std::string& value = values[name];
        if (!valued.at(name)(value)) return {false, false, "bad value for " + name + ": " + value};
    }
    if (!typeGiven) return {false, false, "--type N (0..18) is required"};
    // Without its image a network module cannot tell its last record, which it answers
    // differently: the host would wait for an answer that never comes.
    if (IsNetworkUnit(unit.unitType) && options.imagePath.empty())
        return {false, false,
                "--image FILE is required for unit type " + std::to_string(unit.unitType) +
                    ": a network module answers its last record differently"};
    return {true, false, {}};
}

} // namespace tarnik::sim
