#include "sim/sim_options.h"

#include "cli/option_checks.h"
#include "image/unit_types.h"
#include "tools/hexcodec.h"

#include <array>
#include <cctype>
#include <charconv>
#include <limits>
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

// Records count from 0 up to this.
constexpr int kMaxRecordIndex = 65535;

bool ParseSerial(const std::string& text, std::array<std::uint8_t, 4>& serial) {
    const std::optional<std::uint32_t> value = SerialValue(text);
    if (!value) return false;
    for (std::size_t i = 0; i < serial.size(); ++i)
        serial[i] = static_cast<std::uint8_t>(*value >> (24 - 8 * i));
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
    return "Usage: tarnik-sim --type N [OPTION]... [FAULT]...\n"
           "Try 'tarnik-sim --help' for more information.\n";
}

std::string SimHelp() {
    return "Usage: tarnik-sim --type N [OPTION]... [FAULT]...\n"
           "Play a unit's bootloader on a new pseudo-terminal: prints \"PTY <path>\", serves\n"
           "one programming session there and exits 0 when the host did what a correct host\n"
           "does, 1 otherwise (the reason on stderr), 2 for bad arguments or an image that\n"
           "cannot be used, 3 for a system error.\n"
           "\n"
           "The unit:\n"
           "  --type N               unit type, 0 to 18 (required)\n"
           "  --address HEX          the unit's address, one or two hex digits (default 00)\n"
           "  --image FILE           the image the host is expected to send: every record is\n"
           "                         checked against it; required for the network modules\n"
           "                         (types 4, 9, 15), which answer their last record\n"
           "                         differently and so must know which one it is\n"
           "  --serial XXXXXXXX      the serial number the host must write into the unit\n"
           "                         (default 00000001)\n"
           "  --version 1.05         the version of the unit's program that it reports, three\n"
           "                         digits (network modules; default 1.05); not the version\n"
           "                         of tarnik-sim\n"
           "  --date YYYY-MM-DD      the compilation date reported with that version\n"
           "  --boot-type-bit7       the network boot identification sets bit 7 of the type\n"
           "  --wire                 every byte takes its time on the wire at the unit's baud\n"
           "                         rate, as on a real line\n"
           "\n"
           "The session:\n"
           "  --report FILE          write a JSON account of the session at its end (frames,\n"
           "                         records, verifications, the host's mistakes)\n"
           "  --idle-timeout-ms N    end the session after N ms without traffic (default\n"
           "                         20000)\n"
           "  --hangup-grace-ms N    the host may close and reopen its side within N ms\n"
           "                         (default 3000)\n"
           "  --erase-ms N           time of each erase status (main family) or of the whole\n"
           "                         erasure (default 100)\n"
           "  --seed N               seed of the junk bytes --noise sends (default 1)\n"
           "  -h, --help             show this help and exit\n"
           "\n"
           "Faults (records count from 0):\n"
           "  --silent               never answer\n"
           "  --wrong-type           report a unit type other than its own\n"
           "  --bootloader-active    start in the bootloader: the application does not run\n"
           "  --erase-progress LIST  statuses (1 or 2, comma-separated) sent before the final\n"
           "                         one of the erasure, for example 1,1,2\n"
           "  --erase-fail           the erasure fails (status 0x20; network modules: no\n"
           "                         answer)\n"
           "  --drop-ack N           the first try of record N gets no answer\n"
           "  --noise                junk bytes after the answers\n"
           "  --noise-rate PERCENT   junk after this share of the answers (implies --noise)\n"
           "  --duplicate-answers    every answer is sent twice\n"
           "  --foreign-address      answers carry another unit's address (address + 1)\n"
           "  --hangup-at-record N   drop the line when record N arrives\n"
           "  --verify-mismatch N    record N fails verification\n"
           "  --answer-delay-ms N    every answer comes N ms late (the audio unit's host copes\n"
           "                         with any delay up to 1000 ms)\n"
           "  --erase-busy-ms N      audio unit: an erase command starts an erasure of N ms;\n"
           "                         frames that arrive meanwhile are ignored, and the frame\n"
           "                         that started it is answered when it is done\n"
           "  --record-answer-again-ms N\n"
           "                         network modules: every record is answered twice, the\n"
           "                         second copy N ms after the first, on a read of its own\n"
           "  --lose-record N        network modules: the first frame of record N is lost on\n"
           "                         the line (neither booked nor answered)\n"
           "  --chunk-bytes N        answers reach the host in pieces of at most N bytes, each\n"
           "                         on a read of its own, 16 ms apart (as a USB adapter hands\n"
           "                         them over); the audio unit's answers to frames every\n"
           "                         100 ms keep up from 2 bytes on\n";
}

namespace {

// An option whose value `read` takes apart; a value it cannot read is refused.
template <class Read> CLI::Option* AddRead(CLI::App& app, const std::string& name, Read read) {
    return app.add_option_function<std::string>(name, [name, read](const std::string& value) {
        if (!read(value)) throw CLI::ValidationError(name, "bad value: " + value);
    });
}

// A whole decimal number within [least, most].
template <class Number>
CLI::Option* AddNumber(CLI::App& app, const std::string& name, Number& target, Number least,
                       Number most = std::numeric_limits<Number>::max()) {
    return app.add_option(name, target)
        ->transform(options::Decimal())
        ->check(CLI::Range(least, most));
}

void AddUnitOptions(CLI::App& app, SimOptions& options) {
    UnitOptions& unit = options.unit;
    AddNumber(app, "--type", unit.unitType, 0, kMaxUnitType);
    AddRead(app, "--address", [&unit](const std::string& v) {
        unit.address = static_cast<std::uint8_t>(std::stoul(v, nullptr, 16));
        return true;
    })->transform(options::HexDigits(1, 2, "one or two hexadecimal digits"));
    app.add_option("--image", options.imagePath)->check(options::NotEmpty("a file name"));
    app.add_option("--report", options.reportPath)->check(options::NotEmpty("a file name"));
    AddRead(app, "--serial", [&unit](const std::string& v) { return ParseSerial(v, unit.serial); });
    AddRead(app, "--version",
            [&unit](const std::string& v) { return ParseVersion(v, unit.version); });
    AddRead(app, "--date", [&unit](const std::string& v) {
        UnitDate date;
        if (!ParseDate(v, date)) return false;
        unit.date = date;
        return true;
    });
    AddNumber(app, "--idle-timeout-ms", options.idleTimeoutMs, 0u);
    AddNumber(app, "--hangup-grace-ms", options.hangupGraceMs, 0u);
    AddNumber(app, "--erase-ms", unit.eraseStepMs, 0u);
    AddNumber(app, "--seed", unit.noiseSeed, 0u);
    app.add_flag("--wire", unit.wire);
    app.add_flag("--boot-type-bit7", unit.bootTypeBit7);
}

void AddFaultOptions(CLI::App& app, UnitFaults& faults) {
    app.add_flag("--silent", faults.silent);
    app.add_flag("--wrong-type", faults.wrongType);
    app.add_flag("--bootloader-active", faults.bootloaderActive);
    app.add_flag("--erase-fail", faults.eraseFail);
    app.add_flag("--noise", faults.noise);
    app.add_flag("--duplicate-answers", faults.duplicateAnswers);
    app.add_flag("--foreign-address", faults.foreignAddress);
    AddRead(app, "--erase-progress",
            [&faults](const std::string& v) { return ParseStatusList(v, faults.eraseProgress); });
    AddNumber(app, "--drop-ack", faults.dropAck, 0, kMaxRecordIndex);
    AddNumber(app, "--hangup-at-record", faults.hangupAtRecord, 0, kMaxRecordIndex);
    AddNumber(app, "--verify-mismatch", faults.verifyMismatch, 0, kMaxRecordIndex);
    AddNumber(app, "--lose-record", faults.loseRecord, 0, kMaxRecordIndex);
    AddNumber(app, "--noise-rate", faults.noisePercent, 1u, 100u)
        ->each([&faults](const std::string&) { faults.noise = true; });
    AddNumber(app, "--answer-delay-ms", faults.answerDelayMs, 0u);
    AddNumber(app, "--erase-busy-ms", faults.eraseBusyMs, 1u);
    app.add_option_function<std::uint32_t>(
           "--record-answer-again-ms",
           [&faults](std::uint32_t ms) { faults.recordAnswerAgainMs = ms; })
        ->transform(options::Decimal());
    AddNumber(app, "--chunk-bytes", faults.chunkBytes, 1u);
}

} // namespace

ParseOutcome ParseSimArguments(const std::vector<std::string>& args, SimOptions& options) {
    CLI::App app;
    // "/dev/ttyUSB0" and other paths are arguments, never Windows-style options.
    app.allow_windows_style_options(false);
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    bool help = false;
    app.add_flag("-h,--help", help);
    AddUnitOptions(app, options);
    AddFaultOptions(app, options.unit.faults);
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::Error& error) {
        return {false, false, error.what()};
    }
    if (help) return {true, true, {}};
    const int type = options.unit.unitType;
    if (app.get_option("--type")->count() == 0)
        return {false, false, "--type N (0.." + std::to_string(kMaxUnitType) + ") is required"};
    // Without its image a network module cannot tell its last record, which it answers
    // differently: the host would wait for an answer that never comes.
    if (IsNetworkUnit(type) && options.imagePath.empty())
        return {false, false,
                "--image FILE is required for unit type " + std::to_string(type) +
                    ": a network module answers its last record differently"};
    return {true, false, {}};
}

} // namespace tarnik::sim
