// Any argument list for the window (arguments separated by NUL bytes): P=, C= and V= are
// taken as the window takes them, and a decimal number is read only when it is one.
#include "fuzz_support.h"

#include "shell/command_line.h"

#include <cerrno>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnik;
    const std::vector<std::string> args =
        fuzz::SplitAtNul(Text(reinterpret_cast<const char*>(data), size));
    // Names with an odd length "exist", so both outcomes of the file check are reached.
    const CommandLine line =
        ParseCommandLine(args, [](const std::string& name) { return name.size() % 2 == 1; });
    if (line.imageFile) TARNIK_FUZZ_CHECK(line.imageFile->size() % 2 == 1, "P= names a file");
    if (line.portName) TARNIK_FUZZ_CHECK(line.portName->rfind("COM", 0) == 0, "C= gives COMn");

    for (const std::string& arg : args) {
        const std::optional<long long> n = ParseDecimal(arg);
        if (!n) continue;
        errno = 0;
        char* end = nullptr;
        const long long reference = std::strtoll(arg.c_str(), &end, 10);
        TARNIK_FUZZ_CHECK(errno == 0 && end == arg.c_str() + arg.size() && reference == *n,
                          "a decimal number reads as strtoll reads it");
    }
    return 0;
}
