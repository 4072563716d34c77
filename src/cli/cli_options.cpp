#include "cli/cli_options.h"

#include "programmers/pacing.h"

#include <algorithm>
#include <cctype>

namespace tarnik::cli {

namespace {

bool IsHex(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

bool IsDecimal(const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Options that take a value accept both --name=value and --name value.
bool TakeValue(const std::string& arg, const std::string& name,
               const std::vector<std::string>& args, std::size_t& i,
               std::optional<std::string>& value, std::string& error) {
    if (arg == name) {
        if (i + 1 >= args.size()) {
            error = name + " needs a value";
            return true;
        }
        value = args[++i];
        return true;
    }
    if (arg.rfind(name + "=", 0) == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

} // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
    ParseResult result;
    CliOptions& o = result.options;
    std::string& error = result.error;
    std::optional<std::string> turnaround;
    for (std::size_t i = 0; i < args.size() && error.empty(); ++i) {
        const std::string& arg = args[i];
        if (TakeValue(arg, "--port", args, i, o.port, error) ||
            TakeValue(arg, "--address", args, i, o.address, error) ||
            TakeValue(arg, "--serial", args, i, o.serial, error) ||
            TakeValue(arg, "--turnaround-ms", args, i, turnaround, error))
            continue;
        if (arg == "--serial-inc")
            o.serialInc = true;
        else if (arg == "--fast")
            o.fast = true;
        else if (arg == "--yes" || arg == "-y")
            o.yes = true;
        else if (arg == "--trace")
            o.trace = true;
        else if (arg == "--list-ports")
            o.listPorts = true;
        else if (arg == "--help" || arg == "-h")
            o.help = true;
        else if (arg == "--version")
            o.version = true;
        else if (arg.size() >= 2 && arg[1] == '=' &&
                 std::string("PCVpcv").find(arg[0]) != std::string::npos) {
            const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(arg[0])));
            const std::string value = arg.substr(2);
            if (kind == 'P') {
                if (value.empty()) error = "P= needs an image file";
                o.imagePath = value;
            } else if (kind == 'C' && (!IsDecimal(value) || std::stoul(value.substr(0, 9)) == 0)) {
                error = "C= needs a port number greater than 0: " + arg;
            } else if (kind == 'V' && value != "0" && value != "1") {
                error = "V= takes 0 or 1: " + arg;
            }
            o.windowArgs.push_back(arg);
        } else {
            error = "unknown argument: " + arg;
        }
    }
    if (!error.empty()) return result;
    if (o.port && o.port->empty())
        error = "--port needs a device name";
    else if (o.address && (!IsHex(*o.address) || o.address->size() > 2))
        error = "--address takes one or two hexadecimal digits: " + *o.address;
    else if (o.serial && (!IsHex(*o.serial) || o.serial->size() != 8))
        error = "--serial takes exactly eight hexadecimal digits: " + *o.serial;
    else if (turnaround && (!IsDecimal(*turnaround) || turnaround->size() > 9 ||
                            std::stoul(*turnaround) > kMaxTurnaroundMs))
        error = "--turnaround-ms takes a number of milliseconds from 0 to " +
                std::to_string(kMaxTurnaroundMs) + ": " + *turnaround;
    else if (o.imagePath.empty() && !o.help && !o.version && !o.listPorts)
        error = "no image file given (P=IMAGE)";
    if (turnaround && error.empty()) o.turnaround = static_cast<unsigned>(std::stoul(*turnaround));
    if (o.serial) o.serial = Upper(*o.serial);
    if (o.address) o.address = Upper(*o.address);
    return result;
}

std::string UsageText(const std::string& program) {
    return "Usage: " + program +
           " [--port=DEVICE] [--address=HEX] [--serial=XXXXXXXX] [--serial-inc] [--fast]\n"
           "       [--turnaround-ms=N] [--yes] [--trace] [--list-ports] [--help] [--version]\n"
           "       P=IMAGE [C=N] [V=0|1]\n"
           "Try '" +
           program + " --help' for more information.\n";
}

std::string HelpText(const std::string& program) {
    return "Usage: " + program +
           " [OPTION]... P=IMAGE [C=N] [V=0|1]\n"
           "Program one unit with a firmware image over a serial port, without a window.\n"
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
           "                       (for example /dev/ttyUSB0, COM3)\n"
           "  --address=HEX      unit address, one or two hex digits (stored per unit type);\n"
           "                       only for the unit types whose window has an address field\n"
           "                       (1, 2, 4, 8, 9). The other types always use address 00,\n"
           "                       and type 15 the address remembered for type 9: for those\n"
           "                       the option is refused (exit status 2, port not opened).\n"
           "                       To change the address of type 15, program a type 9 image\n"
           "                       with --address.\n"
           "  --serial=XXXXXXXX  serial number written into the image's serial record\n"
           "  --serial-inc       print the next serial number after a successful process\n"
           "  --fast             fast pacing for this run (main family and network modules):\n"
           "                       the next frame follows as soon as the answer is complete;\n"
           "                       same frames, resends and time-outs (default: the stored\n"
           "                       choice of the window, else the usual pacing)\n"
           "  --turnaround-ms=N  quiet time after the unit's last byte before the next frame\n"
           "                       at fast pacing, 0 to 50 ms (default 2)\n"
           "  --yes              answer Yes to the network modules' version question\n"
           "  --trace            also print every transmitted (TX:) and received (RX:) block\n"
           "  --list-ports       list the serial ports and exit\n"
           "  -h, --help         show this help and exit\n"
           "      --version      show the version and exit\n"
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
           program +
           " --list-ports\n"
           "\n"
           "Output: the log on stdout; messages, questions and progress on stderr. Progress is\n"
           "a redrawn bar when stderr is a terminal, otherwise one 'Progress:' line for each\n"
           "tenth of the records (fit for a log file).\n"
           "Ctrl+C (or SIGTERM) stops the process as STOP does and prints the exit status;\n"
           "a second Ctrl+C ends at once with exit code 130.\n"
           "\n"
           "Exit status: the process's exit status (low byte); 255 when the port could not be\n"
           "opened or the image not loaded (the reason is printed); 2 for bad arguments. The\n"
           "last line printed is 'Exit status: N' with the full value.\n";
}

} // namespace tarnik::cli
