// The main of every test program: GoogleTest's own, and a settings folder of its own for each
// test. XDG_CONFIG_HOME names a fresh empty folder from the start of a test to its end, so
// neither the test nor any program it starts (they inherit the environment) sees a value
// that another test stored, whatever order the tests run in.
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

class FreshSettingsFolder final : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override { home_.emplace(); }
    void OnTestEnd(const ::testing::TestInfo&) override { home_.reset(); }

private:
    std::optional<tarnik::testing::ScopedConfigHome> home_;
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // GoogleTest owns and deletes the listener.
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettingsFolder);
    return RUN_ALL_TESTS();
}
