#include "cli/cli_app.h"
#include "support/temp_dir.h"
#include "tools/settings_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

using namespace tarnik;

namespace {

// A store holding a value of a kind it cannot read, as the registry does for a value that
// is not a string.
class UnreadableSettings final : public SettingsStore {
public:
    Text ReadSetting(const Text& name) override {
        if (name == "vrf") throw std::runtime_error("Invalid data type for 'vrf'");
        return {};
    }
    void WriteSetting(const Text&, const Text&) override {}
};

std::string Contents(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string s;
    for (int c; (c = std::fgetc(file)) != EOF;)
        s.push_back(static_cast<char>(c));
    return s;
}

TEST(CliStartUp, SettingThatCannotBeReadIsShownAndNothingRuns) {
    tarnik::testing::TempDir dir;
    const std::string image = (dir / "image.bin").string();
    tarnik::testing::WriteFile(image, std::string(100, '\x55'));
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    cli::CliStreams streams;
    streams.out = out;
    streams.err = err;
    UnreadableSettings settings;
    const int code = cli::RunCli({"--port=" + (dir / "no-port").string(), "P=" + image},
                                 "/usr/bin/tarnik-cli", streams, &settings);
    EXPECT_EQ(code, 4); // nothing ran, on every system
    EXPECT_EQ(Contents(out), "Exit status: -1\n");
    EXPECT_NE(Contents(err).find("Invalid data type for 'vrf'"), std::string::npos);
    std::fclose(out);
    std::fclose(err);
}

} // namespace
