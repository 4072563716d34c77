#include "cli/cli_options.h"

#include <gtest/gtest.h>

using tarnik::cli::ParseCommandLine;

TEST(CliOptions, WindowArgumentsKeepTheirOrderAndOptionsOverride) {
    const auto r =
        ParseCommandLine({"p=/tmp/a.bin", "--port", "/dev/pts/7", "c=3", "V=0", "--address=a",
                          "--serial=0000abcd", "--serial-inc", "--yes", "P=/tmp/b.bin"});
    ASSERT_TRUE(r.ok()) << r.error;
    const auto& o = r.options;
    EXPECT_EQ(o.imagePath, "/tmp/b.bin"); // the later P= wins
    EXPECT_EQ(o.windowArgs,
              (std::vector<std::string>{"p=/tmp/a.bin", "c=3", "V=0", "P=/tmp/b.bin"}));
    EXPECT_EQ(o.port, "/dev/pts/7");
    EXPECT_EQ(o.address, "A");
    EXPECT_EQ(o.serial, "0000ABCD");
    EXPECT_TRUE(o.serialInc);
    EXPECT_TRUE(o.yes);
    EXPECT_FALSE(o.trace);
}

TEST(CliOptions, BadArgumentsAreRefused) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {},                               // no image
             {"P="},                           // empty image name
             {"P=a.bin", "--bogus"},           // unknown option
             {"P=a.bin", "--address=123"},     // more than one byte
             {"P=a.bin", "--address=g1"},      // not hex
             {"P=a.bin", "--serial=1234567"},  // seven digits
             {"P=a.bin", "--serial=1234567Z"}, // not hex
             {"P=a.bin", "C=0"},               // port number 0
             {"P=a.bin", "C=x"},               // not a number
             {"P=a.bin", "V=2"},               // neither 0 nor 1
             {"P=a.bin", "--port"},            // missing value
             {"P=a.bin", "--port="},           // empty value
             {"image.bin"},                    // a bare file name is not P=
             // The database hands out the numbers: nothing else may.
             {"P=a.bin", "--db=sqlite:x.db", "--serial=00000001"},
             {"P=a.bin", "--db=sqlite:x.db", "--serial-store=s"},
             {"--report"},                                // no database to report on
             {"--db=sqlite:x.db", "--report", "P=a.bin"}, // reports program nothing
             {"--db=sqlite:x.db", "--since=2026-01-01"},  // --since only with --report
         }) {
        EXPECT_FALSE(ParseCommandLine(args).ok()) << (args.empty() ? "" : args.back());
    }
}

TEST(CliOptions, AnEmptyValueAfterTheEqualsSignNamesItsOption) {
    // The next argument must never be taken as the value instead.
    for (const auto& [args, option] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--log=", "V=1", "P=img.bin"}, "--log"},
             {{"--port=", "P=img.bin"}, "--port"},
             {{"P=img.bin", "--serial-store=", "--serial-inc"}, "--serial-store"},
         }) {
        const auto r = ParseCommandLine(args);
        EXPECT_EQ(r.error.rfind(option + " needs a value", 0), 0u) << r.error;
    }
}

TEST(CliOptions, InformationalOptionsNeedNoImage) {
    EXPECT_TRUE(ParseCommandLine({"--list-ports"}).ok());
    EXPECT_TRUE(ParseCommandLine({"--help"}).ok());
    EXPECT_TRUE(ParseCommandLine({"--version"}).ok());
    EXPECT_TRUE(ParseCommandLine({"--db=sqlite:x.db", "--report", "--json"}).ok());
    EXPECT_TRUE(ParseCommandLine({"--db=sqlite:x.db", "--import-serials=list.txt"}).ok());
}

TEST(CliOptions, SeveralPortsKeepTheirOrderAndEachTakesOneValue) {
    const auto r = ParseCommandLine({"--port", "/dev/pts/3", "--port=/dev/pts/1", "P=a.bin"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.options.ports, (std::vector<std::string>{"/dev/pts/3", "/dev/pts/1"}));
    EXPECT_EQ(r.options.port, "/dev/pts/1");
    // A value after a port is not a second port but a stray argument.
    EXPECT_FALSE(ParseCommandLine({"--port", "/dev/pts/3", "/dev/pts/4", "P=a.bin"}).ok());
    EXPECT_FALSE(ParseCommandLine({"--port=/dev/pts/3", "--port=", "P=a.bin"}).ok());
}

TEST(CliOptions, FastPacingAndItsTurnaroundGuard) {
    auto r = ParseCommandLine({"--fast", "P=a.bin", "--turnaround-ms", "0"});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_TRUE(r.options.fast);
    EXPECT_EQ(r.options.turnaround, 0u);
    r = ParseCommandLine({"P=a.bin", "--turnaround-ms=050"});
    EXPECT_FALSE(r.options.fast);
    EXPECT_EQ(r.options.turnaround, 50u);
    for (const char* bad : {"51", "-1", "2ms", "", "99999999999999999999"})
        EXPECT_FALSE(ParseCommandLine({"P=a.bin", std::string("--turnaround-ms=") + bad}).ok())
            << bad;
}
