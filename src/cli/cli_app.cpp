#include "cli/cli_app.h"

#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "cli/terminal_view.h"
#include "serial/port_list.h"
#include "serial/tcomm64.h"
#include "shell/main_window.h"
#include "tools/clock.h"
#include "tools/cp1250.h"
#include "tools/hexcodec.h"
#include "tools/plain_message_pump.h"
#include "tools/settings_store.h"

#include "cli/station_db.h"
#include "cli/station_run.h"
#include "image/image_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace tarnik::cli {

namespace {

// For a technician: the port, then what tells one adapter from another.
std::string PortLine(const PortInfo& port, std::size_t nameWidth) {
    std::vector<std::string> parts;
    if (!port.vendorId.empty()) parts.push_back("USB " + port.vendorId + ":" + port.productId);
    if (!port.manufacturer.empty()) parts.push_back(port.manufacturer);
    if (!port.serialNumber.empty()) parts.push_back("serial " + port.serialNumber);
    std::string usb;
    for (const std::string& part : parts)
        usb += (usb.empty() ? "" : ", ") + part;
    std::string about = port.description;
    if (!usb.empty()) about += (about.empty() ? "(" : " (") + usb + ")";
    if (about.empty()) return port.name;
    return port.name + std::string(nameWidth - port.name.size() + 2, ' ') + about;
}

nlohmann::ordered_json PortJson(const PortInfo& port) {
    const auto textOrNull = [](const std::string& text) {
        return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
    };
    return {{"name", port.name},
            {"description", textOrNull(port.description)},
            {"transport", textOrNull(port.transport)},
            {"vendor_id", textOrNull(port.vendorId)},
            {"product_id", textOrNull(port.productId)},
            {"manufacturer", textOrNull(port.manufacturer)},
            {"product", textOrNull(port.product)},
            {"serial_number", textOrNull(port.serialNumber)}};
}

int ListPorts(const CliStreams& streams, bool json) {
    const std::vector<PortInfo> ports = ListSerialPorts();
    if (ports.empty()) std::fprintf(streams.err, "%s: no serial port found\n", kProgram);
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const PortInfo& port : ports)
            list.push_back(PortJson(port));
        // A driver's description is not always UTF-8: a stray byte must not end the listing.
        std::fprintf(
            streams.out, "%s\n",
            list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
        return 0;
    }
    std::size_t width = 0;
    for (const PortInfo& port : ports)
        width = std::max(width, port.name.size());
    for (const PortInfo& port : ports)
        std::fprintf(streams.out, "%s\n", PortLine(port, width).c_str());
    return 0;
}

// The image's unit type has no address field in the window: the option would be dropped
// without a word, so it is refused before anything is opened.
std::string AddressRefusal(int unitType, const Text& address) {
    std::string text = std::string(kProgram) + ": --address cannot be used for unit type " +
                       std::to_string(unitType) + " (" + DisplayUtf8(UnitTypeName(unitType)) +
                       "): ";
    const int owner = FindUnitType(unitType)->addressOwner;
    if (IsKnownUnitType(owner))
        return text + "it always uses the address remembered for unit type " +
               std::to_string(owner) + " (" + DisplayUtf8(UnitTypeName(owner)) + "), now " +
               DisplayUtf8(address) + ";\nprogram a unit type " + std::to_string(owner) +
               " image with --address to change it";
    return text + "it always uses address " + DisplayUtf8(address);
}

// The loader writes the serial number field into the record at EFA0 when the image has one.
bool ImageHasSerialRecord(const std::string& path) {
    DiscardLog quiet;
    return !ReadSerialFromImage(kSerialRecordAddress, path, quiet).empty();
}

// The image's seconds taken as they are (no time zone) in a strftime format, or the number
// itself when the system cannot show it.
std::string FormatImageSeconds(long long seconds, const char* format) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
#ifdef _WIN32
    if (gmtime_s(&parts, &t) != 0) return std::to_string(seconds);
#else
    if (!gmtime_r(&t, &parts)) return std::to_string(seconds);
#endif
    char buffer[128];
    if (std::strftime(buffer, sizeof buffer, format, &parts) == 0) return std::to_string(seconds);
    return buffer;
}

// The image's compilation date for machines.
std::string ImageDateIso(long long seconds) {
    return FormatImageSeconds(seconds, "%Y-%m-%dT%H:%M:%S");
}

// Why the image path cannot be read as an image file, or nothing.
std::string ImageFileProblem(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return "image file not found";
    if (ec) return "cannot reach the image file (" + ec.message() + ")";
    if (std::filesystem::is_directory(status)) return "the image file is a directory";
    if (!std::filesystem::is_regular_file(status)) return "the image file is not a regular file";
    return {};
}

Text TwoHexDigits(std::uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(value >> 4) & 0xF], digits[value & 0xF]};
}

} // namespace

std::string FormatImageDateForTerminal(long long seconds) {
    return FormatImageSeconds(seconds, "%x %X");
}

UnitResult RunUnit(const CliOptions& options, const UnitJob& job, const std::string& executablePath,
                   SettingsStore& settings) {
    UnitResult result;
    PlainMessagePump mainThread;
    SteadyClock clock;
    TComm64 comm(mainThread);
    TerminalView view(job.terminal);

    // Ctrl+C is STOP answered Yes, taken where the window would take a click on STOP.
    MainWindowLogic* running = nullptr;
    InterruptiblePump pump(mainThread, [&running, &view, &job] {
        view.Say(job.terminal.err, std::string(kProgram) +
                                       ": interrupted: stopping the process (interrupt again "
                                       "to end at once)");
        if (running) running->StopButClick(false);
    });
    MainWindowLogic logic(
        ShellServices{view,
                      settings,
                      comm,
                      clock,
                      pump,
                      [](std::int64_t seconds) { return FormatImageDateForTerminal(seconds); },
                      {}});
    running = &logic;
    result.started = logic.RunGuarded([&] {
        logic.FormCreate(options.windowArgs, executablePath);
    }) && logic.RunGuarded([&] {
        if (job.port) logic.OverridePort(*job.port);
        logic.FormShow();
    });
    result.port = logic.PortName();
    if (!result.started) return result;
    const bool loaded = view.Timer1Enabled();
    if (options.address && loaded) {
        if (const auto fixed = logic.FixedAddress()) {
            view.Say(job.terminal.err, AddressRefusal(logic.UnitType(), *fixed));
            result.refused = true;
            return result;
        }
    }
    const bool imageHasSerial = ImageHasSerialRecord(logic.ImageFileName());
    if (job.serial) logic.EdNrSerialChange(*job.serial);
    if (options.address) logic.AdrTxChange(*options.address);
    if (options.serialInc) logic.ChBoxSerialIncClick(true);
    if (options.fast || options.turnaround) {
        Pacing pacing = logic.CurrentPacing();
        pacing.fast = pacing.fast || options.fast;
        if (options.turnaround) pacing.turnaroundMs = *options.turnaround;
        logic.SetPacing(pacing); // for this run only: the stored choice stays
    }

    result.unitType = logic.UnitType();
    result.imageVersion = DisplayUtf8(logic.Image().version);
    if (logic.Image().dateValid) result.imageDate = ImageDateIso(logic.Image().dateSeconds);
    result.unitAddress = TwoHexDigits(logic.BootAddress());
    result.verify = logic.BoxVerChecked();
    if (imageHasSerial && logic.EdNrSerialText().size() == kSerialDigits)
        result.serial = logic.EdNrSerialText();

    const auto begin = std::chrono::steady_clock::now();
    if (loaded) {
        if (job.terminal.watcher)
            job.terminal.watcher->Starting(job.terminal.slot, result.port, result.unitType,
                                           result.serial);
        logic.Timer1Timer();
        if (logic.LastOutcome()) result.outcome = *logic.LastOutcome();
    } else {
        // The image did not load: the loader has said why; nothing was sent.
        logic.SetExitStatus(-1);
        result.outcome.exitStatus = -1;
    }
    if (result.outcome.Succeeded()) view.CompleteProgress();
    view.FinishProgress();
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    result.status = DisplayUtf8(view.StatusText());
    result.recordsSent = view.ProgressPosition();
    result.nextSerial = logic.EdNrSerialText();
    return result;
}

int RunCli(const std::vector<std::string>& args, const std::string& executablePath,
           const CliStreams& streams, SettingsStore* settingsOverride) {
    const ParseResult parsed = ParseCommandLine(args);
    if (!parsed.ok()) {
        std::fprintf(streams.err, "%s: %s\n%s", kProgram, parsed.error.c_str(),
                     UsageText(kProgram).c_str());
        return 2;
    }
    const CliOptions& options = parsed.options;
    if (options.help) {
        std::fputs(HelpText(kProgram).c_str(), streams.out);
        return 0;
    }
    if (options.version) {
        std::fputs(VersionText(kProgram).c_str(), streams.out);
        return 0;
    }
    if (options.listPorts) return ListPorts(streams, options.json);
    if (options.report || options.importSerials) return RunDatabaseCommand(options, streams);

    if (const std::string problem = ImageFileProblem(options.imagePath); !problem.empty()) {
        std::fprintf(streams.err, "%s: %s: %s\n%s", kProgram, problem.c_str(),
                     options.imagePath.c_str(), UsageText(kProgram).c_str());
        return 2;
    }

    const auto platformSettings = settingsOverride ? nullptr : MakePlatformSettingsStore();
    SettingsStore* const settings = settingsOverride ? settingsOverride : platformSettings.get();
    // The run goes on without the setting, but the next run would start from an older port
    // or address without a word: say so.
    if (platformSettings)
        platformSettings->OnWriteFailure(
            [err = streams.err](const Text& name, const std::string& why) {
                std::fprintf(err, "%s: the setting \"%s\" was not stored: %s\n", kProgram,
                             name.c_str(), why.c_str());
                std::fflush(err);
            });
    return RunRounds(options, executablePath, streams, *settings);
}

} // namespace tarnik::cli
