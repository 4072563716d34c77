#include "cli/cli_options.h"

#include "cli/option_checks.h"
#include "programmers/pacing.h"
#include "serial/port_list.h"
#include "tools/version.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace tarnik::cli {

namespace {

// CLI11 takes its arguments last first.
std::vector<std::string> Reversed(const std::vector<std::string>& args) {
    return {args.rbegin(), args.rend()};
}

// P=, C=, V= (either case) as the window takes them; anything else is refused.
std::string CheckWindowArgument(const std::string& arg, CliOptions& o) {
    if (arg.size() < 2 || arg[1] != '=' || std::string("PCVpcv").find(arg[0]) == std::string::npos)
        return "unknown argument: " + arg;
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[0])));
    const std::string value = arg.substr(2);
    const bool decimal = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (kind == 'P') {
        o.imagePath = value;
        if (value.empty()) return "P= needs an image file";
    } else if (kind == 'C' && (!decimal || std::stoul(value.substr(0, 9)) == 0)) {
        return "C= needs a port number greater than 0: " + arg;
    } else if (kind == 'V' && value != "0" && value != "1") {
        return "V= takes 0 or 1: " + arg;
    }
    o.windowArgs.push_back(arg);
    return {};
}

// "--log=" with nothing after it would take the next argument as its value (a P= or V= meant
// for the window): a value left empty by mistake must be an error.
std::string EmptyValueAfterEquals(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg.size() > 3 && arg.rfind("--", 0) == 0 && arg.find('=') == arg.size() - 1)
            return arg.substr(0, arg.size() - 1) + " needs a value after '='";
    }
    return {};
}

// Sets `target` from a text option.
CLI::Option* AddText(CLI::App& app, const std::string& name, std::optional<std::string>& target) {
    return app.add_option_function<std::string>(name,
                                                [&target](const std::string& v) { target = v; });
}

// The production database: it hands out the serial numbers, so neither --serial nor a store
// may stand beside it; the options that only the database reads need it.
void AddDatabaseOptions(CLI::App& app, CliOptions& o) {
    using options::NotEmpty;
    auto* db = AddText(app, "--db", o.db)
                   ->check(NotEmpty("a URL"))
                   ->excludes("--serial")
                   ->excludes("--serial-store");
    AddText(app, "--station", o.station)->check(NotEmpty("a name"))->needs(db);
    app.add_option("--serial-counter", o.serialCounter)->check(NotEmpty("a name"))->needs(db);
    AddText(app, "--serial-start", o.serialStart)
        ->transform(options::HexDigits(8, 8, "exactly eight hexadecimal digits"))
        ->needs(db);
    auto* report = app.add_flag("--report", o.report)->needs(db);
    AddText(app, "--import-serials", o.importSerials)
        ->check(NotEmpty("a file name"))
        ->needs(db)
        ->excludes(report);
    AddText(app, "--since", o.since)->needs(report);
}

void AddOptions(CLI::App& app, CliOptions& o, std::vector<std::string>& window) {
    using options::HexDigits;
    using options::NotEmpty;
    // "/dev/ttyUSB0" and other paths are arguments, never Windows-style options.
    app.allow_windows_style_options(false);
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("--port", o.ports)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->expected(1)
        ->allow_extra_args(false)
        ->check(NotEmpty("a device name"));
    AddText(app, "--address", o.address)
        ->transform(HexDigits(1, 2, "one or two hexadecimal digits"));
    auto* serial = AddText(app, "--serial", o.serial)
                       ->transform(HexDigits(8, 8, "exactly eight hexadecimal digits"));
    AddText(app, "--serial-store", o.serialStore)->check(NotEmpty("a file name"))->excludes(serial);
    AddText(app, "--log", o.log)->check(NotEmpty("a file name"));
    AddDatabaseOptions(app, o);
    AddText(app, "--http", o.http)->check(NotEmpty("[HOST:]PORT"));
    app.add_flag("--serial-inc", o.serialInc);
    app.add_flag("--repeat", o.repeat);
    app.add_flag("--fast", o.fast);
    app.add_option_function<unsigned>("--turnaround-ms", [&o](unsigned ms) { o.turnaround = ms; })
        ->transform(options::Decimal())
        ->check(CLI::Range(0u, static_cast<unsigned>(kMaxTurnaroundMs)));
    app.add_flag("-y,--yes", o.yes);
    app.add_flag("--trace", o.trace);
    app.add_flag("--list-ports", o.listPorts);
    // For --list-ports or --report: checked once the command line is read.
    app.add_flag("--json", o.json);
    app.add_flag("-h,--help", o.help);
    app.add_flag("--version", o.version);
    app.add_option("window", window)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

} // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions& o = result.options;
    result.error = EmptyValueAfterEquals(args);
    if (!result.ok()) return result;
    CLI::App app;
    std::vector<std::string> window;
    AddOptions(app, o, window);
    try {
        std::vector<std::string> reversed = Reversed(args);
        app.parse(reversed);
    } catch (const CLI::Error& error) {
        result.error = error.what();
        return result;
    } catch (const std::exception& error) {
        result.error = std::string("cannot read the command line: ") + error.what();
        return result;
    }
    if (!o.ports.empty()) o.port = o.ports.back();
    for (const std::string& arg : window) {
        result.error = CheckWindowArgument(arg, o);
        if (!result.ok()) return result;
    }
    const bool databaseOnly = o.report || o.importSerials;
    if (o.json && !o.listPorts && !o.report)
        result.error = "--json requires --list-ports or --report";
    else if (databaseOnly && !o.imagePath.empty())
        result.error = "--report and --import-serials program no unit: P= has no place beside them";
    else if (o.imagePath.empty() && !o.help && !o.version && !o.listPorts && !databaseOnly)
        result.error = "no image file given (P=IMAGE)";
    return result;
}

std::string VersionText(const std::string& program) {
    std::string libraries = "CLI11 " CLI11_VERSION ", nlohmann/json " +
                            std::to_string(NLOHMANN_JSON_VERSION_MAJOR) + "." +
                            std::to_string(NLOHMANN_JSON_VERSION_MINOR) + "." +
                            std::to_string(NLOHMANN_JSON_VERSION_PATCH);
    if (const std::string ports = PortLibraryVersion(); !ports.empty()) libraries += ", " + ports;
#if defined(__clang__)
    libraries += ", Clang " __clang_version__;
#elif defined(__GNUC__)
    libraries += ", GCC " __VERSION__;
#elif defined(_MSC_VER)
    libraries += ", MSVC " + std::to_string(_MSC_VER);
#endif
    return program + " " + kPackageVersion + "\n" + "Tarnik loader " + kProgramVersion +
           " (the version the window's title, the unit titles and the results log carry)\n" +
           "Built with " + libraries + "\n";
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [--port=DEVICE]... [--address=HEX] [--serial=XXXXXXXX | --serial-store=FILE]\n"
           "       [--serial-inc] [--log=FILE] [--repeat] [--fast] [--turnaround-ms=N]\n"
           "       [--http=[HOST:]PORT] [--yes] [--trace] P=IMAGE [C=N] [V=0|1]\n"
           "       [--db=URL [--station=NAME] [--serial-counter=NAME] [--serial-start=XXXXXXXX]]\n"
           "   or: " +
           program +
           " --list-ports [--json]\n"
           "   or: " +
           program +
           " --db=URL --import-serials=FILE [--serial-counter=NAME]\n"
           "   or: " +
           program +
           " --db=URL --report [--since=YYYY-MM-DD] [--json]\n"
           "Try '" +
           program + " --help' for more information.\n";
}

std::string HelpText(const std::string& program) {
    return "Usage: " + program +
           " [OPTION]... P=IMAGE [C=N] [V=0|1]\n"
           "Program one unit with a firmware image over a serial port, without a window, or\n"
           "several units at once, one on each --port.\n"
           "Runs the same process as the desktop program's unattended mode and ends with its\n"
           "exit status (the step reached: 20 when the unit was programmed and started).\n"
           "\n"
           "Window arguments:\n"
           "  P=IMAGE            firmware image file (*.bin) to program\n"
           "  C=N                serial port number N (COMN; /dev/ttyS(N-1) on Linux)\n"
           "  V=0|1              verification off or on (default: the stored choice)\n"
           "\n"
           "Options:\n"
           "  --port=DEVICE      serial port to use instead of the stored one and C=\n"
           "                     (for example /dev/ttyUSB0, COM3). Give it several times to\n"
           "                     program one unit on each port at once: every output line\n"
           "                     carries its port ([ttyUSB0] ...), and a summary table\n"
           "                     (port, serial number, result, exit status, seconds)\n"
           "                     ends the run.\n"
           "  --address=HEX      unit address, one or two hex digits (stored per unit type);\n"
           "                     only for the unit types whose window has an address field\n"
           "                     (1, 2, 4, 8, 9). The other types always use address 00,\n"
           "                     and type 15 the address remembered for type 9: for those\n"
           "                     the option is refused (exit status 2, port not opened).\n"
           "                     To change the address of type 15, program a type 9 image\n"
           "                     with --address.\n"
           "  --serial=XXXXXXXX  serial number written into the image's serial record; with\n"
           "                     several ports the units get it, it + 1, ... in port order\n"
           "  --serial-store=FILE take the serial numbers from FILE, which holds the next one as\n"
           "                     eight hex digits (create it: echo 0000A100 > FILE). Each\n"
           "                     run takes one number per port, in port order, under a\n"
           "                     lock, and rewrites the file at once, so concurrent runs\n"
           "                     on one station, or stations sharing the folder, never\n"
           "                     get the same number. A number taken is never handed out\n"
           "                     again, even when its unit fails: a gap is harmless, a\n"
           "                     duplicate is not.\n"
           "  --serial-inc       print the next serial number after a successful process\n"
           "  --log=FILE         append one JSON line per unit process to FILE (JSON Lines): "
           "time,\n"
           "                     host, port, image path and SHA-256, unit type, image\n"
           "                     version and date, unit address, serial number (or null),\n"
           "                     verification, exit status, outcome (programmed, failed,\n"
           "                     interrupted, not started), status text, seconds, records\n"
           "                     sent, program version; each line is one append, so runs\n"
           "                     sharing the file never mix their lines\n"
           "  --db=URL           the production database: the serial numbers come from it\n"
           "                     and every unit's result is written there as a row (run id,\n"
           "                     time, station, host, port, image and SHA-256, unit type,\n"
           "                     image version and date, address, serial number,\n"
           "                     verification, exit status, outcome, status text, seconds,\n"
           "                     records sent, program version). URL: sqlite:PATH (one\n"
           "                     station; the file is made on first use) or\n"
           "                     postgresql://[user[:password]@]host[:port]/dbname (several\n"
           "                     stations sharing one database; the password may also come\n"
           "                     from PGPASSWORD or ~/.pgpass, and is never printed). Each\n"
           "                     run takes its numbers in one transaction, in port order; a\n"
           "                     number taken is never handed out again. A database that\n"
           "                     cannot be reached at the start stops the run before any\n"
           "                     port opens (exit code 4); a result that cannot be written\n"
           "                     waits in a spool file ($XDG_STATE_HOME/tarnik) and is\n"
           "                     written at the next connection. Not with --serial or\n"
           "                     --serial-store\n"
           "  --station=NAME     the station named in the rows (default: the host name)\n"
           "  --serial-counter=NAME\n"
           "                     the counter (or imported list) the numbers come from, so\n"
           "                     one database serves several products (default: default)\n"
           "  --serial-start=XXXXXXXX\n"
           "                     the first number of a counter that was never used\n"
           "  --import-serials=FILE\n"
           "                     add FILE's numbers (eight hex digits a line) to the list of\n"
           "                     the counter and exit: a counter with a list hands them out\n"
           "                     in file order and refuses to start once it is empty. Bad\n"
           "                     lines, repeated numbers or numbers already in the list\n"
           "                     refuse the whole file (exit code 1)\n"
           "  --report           print per image: units, programmed, failed by failing step,\n"
           "                     first-pass yield and median seconds, and exit\n"
           "  --since=YYYY-MM-DD only the results from that day on (with --report)\n"
           "  --repeat           after each run program the next unit (or set of units): wait for\n"
           "                     Enter when stdin is a terminal (q and Enter to finish),\n"
           "                     otherwise for the next line of stdin, until its end; the\n"
           "                     run ends with totals (units, successes, failures by exit\n"
           "                     status). --serial counts on from run to run\n"
           "  --fast             fast pacing for this run (main family and network modules):\n"
           "                     the next frame follows as soon as the answer is complete;\n"
           "                     same frames, resends and time-outs (default: the stored\n"
           "                     choice of the window, else the usual pacing)\n"
           "  --turnaround-ms=N  quiet time after the unit's last byte before the next frame\n"
           "                     at fast pacing, 0 to 50 ms (default 2)\n"
           "  --http=[HOST:]PORT serve a live page of the station while the run lasts (every\n"
           "                     --repeat round): one card per port with its unit's step,\n"
           "                     progress and state, the latest results (this run's units\n"
           "                     and the --log file's), the totals; /api/status and\n"
           "                     /api/results?limit=N give them as JSON. HOST is\n"
           "                     127.0.0.1 unless named; port 0 picks a free one; the\n"
           "                     address is printed on stderr at the start. The page has\n"
           "                     no authentication: anyone who reaches the address reads\n"
           "                     it, so name a host other than this machine's own only on\n"
           "                     a network you trust\n"
           "  --yes              answer Yes to the network modules' version question (with\n"
           "                     several ports the question is answered No without it)\n"
           "  --trace            also print every transmitted (TX:) and received (RX:) block\n"
           "  --list-ports       list the serial ports and exit: each port's name, description\n"
           "                     and, for USB adapters, vendor and product IDs, maker and the\n"
           "                     adapter's serial number, to tell one cable from another\n"
           "  --json             with --list-ports: a JSON array, one object per port (name,\n"
           "                     description, transport, vendor_id, product_id,\n"
           "                     manufacturer, product, serial_number; null when unknown);\n"
           "                     with --report: the report as JSON\n"
           "  -h, --help         show this help and exit\n"
           "      --version      show the package's and the loader's versions and the libraries\n"
           "                     the program was built with, and exit\n"
           "\n"
           "Output:\n"
           "  The log goes to stdout; messages, questions and progress to stderr. Progress names\n"
           "  its pass (programming, verification): a redrawn bar when stderr is a terminal,\n"
           "  otherwise one 'Progress:' line for each tenth of the records (fit for a log file).\n"
           "  Ctrl+C (or SIGTERM) stops the process (every process) as STOP does and prints the\n"
           "  exit status (and the summary); a second Ctrl+C ends at once with exit code 130.\n"
           "\n"
           "Exit status:\n"
           "  By how the process ended, the same on Linux and Windows:\n"
           "\n"
           "  0    programmed: the process reached 'Ending process'\n"
           "  1    failed: any other end of a process that ran (a failing step, a unit that\n"
           "       is not the image's type, ...)\n"
           "  2    bad arguments (nothing was opened)\n"
           "  3    interrupted or declined: 'Interrupting process' (Ctrl+C, or the network\n"
           "       modules' version question answered No)\n"
           "  4    nothing ran: the port could not be opened or the image not loaded (the\n"
           "       reason is printed)\n"
           "  130  a second Ctrl+C\n"
           "\n"
           "  With several ports or --repeat: 0 when every unit was programmed, otherwise the\n"
           "  code of the first unit (in run order, then port order) that was not.\n"
           "  The last line printed is 'Exit status: N' with the full exit status: the step\n"
           "  reached, 20 on success (19 for the network modules, types 4, 9 and 15; 18 for\n"
           "  the audio verification unit, type 5); 5376 plus the failing step after an error;\n"
           "  -1 when nothing ran. The summary and --log carry it too.\n"
           "\n"
           "Environment:\n"
           "  TARNIK_SERIAL_PORTS  port names separated by ':' (';' on Windows) listed instead\n"
           "                       of the system's ports; no device is looked at to list them\n"
           "\n"
           "Examples:\n"
           "  " +
           program +
           " --port=/dev/ttyUSB0 P=expander.bin V=1\n"
           "  " +
           program +
           " --port=/dev/ttyUSB0 --address=07 P=expander.bin\n"
           "  " +
           program +
           " --serial=0000A1B2 --serial-inc P=controller.bin C=1\n"
           "  " +
           program + " --list-ports\n";
}

} // namespace tarnik::cli
