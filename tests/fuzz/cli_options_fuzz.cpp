// Any argument list for tarnik-cli (arguments separated by NUL bytes): the parser either
// refuses it with a reason or hands out options in the shapes the front end relies on.
#include "fuzz_support.h"

#include "cli/cli_options.h"

#include <cctype>

namespace {

bool AllHex(const std::string& s) {
    for (const char c : s)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnik;
    const std::vector<std::string> args =
        fuzz::SplitAtNul(Text(reinterpret_cast<const char*>(data), size));
    const cli::ParseResult result = cli::ParseCommandLine(args);
    if (!result.ok()) return 0;
    const cli::CliOptions& o = result.options;
    if (o.address)
        TARNIK_FUZZ_CHECK(!o.address->empty() && o.address->size() <= 2 && AllHex(*o.address),
                          "--address is one or two hex digits");
    if (o.serial)
        TARNIK_FUZZ_CHECK(o.serial->empty() || (o.serial->size() == 8 && AllHex(*o.serial)),
                          "--serial is eight hex digits");
    TARNIK_FUZZ_CHECK(o.windowArgs.size() <= args.size(), "window arguments come from the line");
    (void)cli::UsageText(args.empty() ? std::string() : args[0]);
    return 0;
}
