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

// One start of tarnik-cli with an image that does not load and a port that is not there.
struct StartUp {
    tarnik::testing::TempDir dir;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    StartUp() = default;
    StartUp(const StartUp&) = delete;
    StartUp& operator=(const StartUp&) = delete;
    ~StartUp() {
        std::fclose(out);
        std::fclose(err);
    }
    int Run(SettingsStore* settings = nullptr) {
        const std::string image = (dir / "image.bin").string();
        tarnik::testing::WriteFile(image, std::string(100, '\x55'));
        cli::CliStreams streams;
        streams.out = out;
        streams.err = err;
        return cli::RunCli({"--port=" + (dir / "no-port").string(), "P=" + image},
                           "/usr/bin/tarnik-cli", streams, settings);
    }
};

TEST(CliStartUp, SettingThatCannotBeReadIsShownAndNothingRuns) {
    StartUp run;
    UnreadableSettings settings;
    EXPECT_EQ(run.Run(&settings), 4); // nothing ran, on every system
    EXPECT_EQ(Contents(run.out), "Exit status: -1\n");
    EXPECT_NE(Contents(run.err).find("Invalid data type for 'vrf'"), std::string::npos);
}

#ifndef _WIN32
TEST(CliStartUp, ASettingThatCannotBeStoredIsSaidOnStderr) {
    tarnik::testing::ScopedConfigHome home;
    StartUp run;
    // The settings folder's place is taken by a file: no setting can be stored.
    tarnik::testing::WriteFile(run.dir / "taken", "x");
    setenv("XDG_CONFIG_HOME", (run.dir / "taken").c_str(), 1);
    run.Run();
    const std::string said = Contents(run.err);
    EXPECT_NE(said.find("tarnik-cli: the setting \"pth\" was not stored: cannot create the "
                        "folder " +
                        (run.dir / "taken" / "Olvane").string() + ": Not a directory\n"),
              std::string::npos)
        << said;
}
#endif

} // namespace
