#include "cli/cli_app.h"

#include "cli/cli_options.h"
#include "cli/interrupt.h"
#include "cli/terminal_view.h"
#include "serial/plain_message_pump.h"
#include "serial/port_list.h"
#include "serial/tcomm64.h"
#include "shell/cp1250.h"
#include "shell/main_window.h"
#include "tools/clock.h"
#include "tools/settings_store.h"

#include <ctime>
#include <filesystem>

namespace tarnik::cli {

namespace {

constexpr const char* kProgram = "tarnik-cli";
constexpr const char* kVersion = "2.01A";
// The SMNET-PTX card works at the address remembered for the SRVA-NETK card.
constexpr int kSharedAddressType = 15;
constexpr int kAddressOwnerType = 9;

int ExitCode(int status) {
    return static_cast<int>(static_cast<unsigned>(status) & 0xFFu);
}

int ListPorts(std::FILE* out) {
    for (const PortInfo& port : ListSerialPorts()) {
        if (port.description.empty())
            std::fprintf(out, "%s\n", port.name.c_str());
        else
            std::fprintf(out, "%s\t%s\n", port.name.c_str(), port.description.c_str());
    }
    return 0;
}

// The image's unit type has no address field in the window: the option would be dropped
// without a word, so it is refused before anything is opened.
void RefuseAddress(std::FILE* err, int unitType, const Text& address) {
    std::fprintf(err, "%s: --address cannot be used for unit type %d (%s): ", kProgram, unitType,
                 DisplayUtf8(UnitTypeName(unitType)).c_str());
    if (unitType == kSharedAddressType)
        std::fprintf(err,
                     "it always uses the address remembered for unit type %d (%s), now %s;\n"
                     "program a unit type %d image with --address to change it\n",
                     kAddressOwnerType, DisplayUtf8(UnitTypeName(kAddressOwnerType)).c_str(),
                     DisplayUtf8(address).c_str(), kAddressOwnerType);
    else
        std::fprintf(err, "it always uses address %s\n", DisplayUtf8(address).c_str());
}

} // namespace

std::string FormatImageDateForTerminal(long long seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
#ifdef _WIN32
    if (gmtime_s(&parts, &t) != 0) return std::to_string(seconds);
#else
    if (!gmtime_r(&t, &parts)) return std::to_string(seconds);
#endif
    char buffer[128];
    if (std::strftime(buffer, sizeof buffer, "%x %X", &parts) == 0) return std::to_string(seconds);
    return buffer;
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
        std::fprintf(streams.out, "%s %s\n", kProgram, kVersion);
        return 0;
    }
    if (options.listPorts) return ListPorts(streams.out);

    std::error_code ec;
    if (!std::filesystem::is_regular_file(options.imagePath, ec)) {
        std::fprintf(streams.err, "%s: image file not found: %s\n%s", kProgram,
                     options.imagePath.c_str(), UsageText(kProgram).c_str());
        return 2;
    }

    PlainMessagePump mainThread;
    SteadyClock clock;
    TComm64 comm(mainThread);
    const auto platformSettings = settingsOverride ? nullptr : MakePlatformSettingsStore();
    SettingsStore* const settings = settingsOverride ? settingsOverride : platformSettings.get();
    TerminalSettings terminal;
    terminal.trace = options.trace;
    terminal.yes = options.yes;
    terminal.interactive = streams.stdinIsTerminal;
    terminal.progressBar = streams.stderrIsTerminal;
    terminal.out = streams.out;
    terminal.err = streams.err;
    terminal.in = streams.in;
    TerminalView view(terminal, comm);

    int exitStatus = -1;
    {
        // Ctrl+C is STOP answered Yes, taken where the window would take a click on STOP.
        MainWindowLogic* running = nullptr;
        InterruptiblePump pump(mainThread, [&running, &view, &streams] {
            view.FinishProgress();
            std::fprintf(streams.err,
                         "%s: interrupted: stopping the process (interrupt again "
                         "to end at once)\n",
                         kProgram);
            std::fflush(streams.err);
            if (running) running->StopButClick(false);
        });
        MainWindowLogic logic(
            ShellServices{view,
                          *settings,
                          comm,
                          clock,
                          pump,
                          [](std::int64_t seconds) { return FormatImageDateForTerminal(seconds); },
                          {}});
        running = &logic;
        const bool started = logic.RunGuarded([&] {
            logic.FormCreate(options.windowArgs, executablePath);
        }) && logic.RunGuarded([&] {
            if (options.port) logic.OverridePort(*options.port);
            logic.FormShow();
        });
        if (!started) {
            std::fprintf(streams.out, "Exit status: -1\n");
            std::fflush(streams.out);
            return ExitCode(-1);
        }
        if (options.address && view.Timer1Enabled()) {
            if (const auto fixed = logic.FixedAddress()) {
                RefuseAddress(streams.err, logic.UnitType(), *fixed);
                return 2;
            }
        }
        if (options.serial) logic.EdNrSerialChange(*options.serial);
        if (options.address) logic.AdrTxChange(*options.address);
        if (options.serialInc) logic.ChBoxSerialIncClick(true);
        if (options.fast || options.turnaround) {
            Pacing pacing = logic.CurrentPacing();
            pacing.fast = pacing.fast || options.fast;
            if (options.turnaround) pacing.turnaroundMs = *options.turnaround;
            logic.SetPacing(pacing); // for this run only: the stored choice stays
        }

        if (view.Timer1Enabled()) {
            logic.Timer1Timer();
        } else {
            // The image did not load: the loader has said why; nothing was sent.
            logic.SetExitStatus(-1);
        }
        view.FinishProgress();
        exitStatus = logic.ExitStatus();
        if (options.serialInc && logic.ProcessSucceeded())
            std::fprintf(streams.out, "Next serial number: %s\n", logic.EdNrSerialText().c_str());
    }
    std::fprintf(streams.out, "Exit status: %d\n", exitStatus);
    std::fflush(streams.out);
    return ExitCode(exitStatus);
}

} // namespace tarnik::cli
