// Replacing a file durably: whatever a crash leaves behind, the file holds its old contents or
// its new ones. (A write that cannot be made: the serial store's and the settings' tests.)
#include "tools/durable_file.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace tarnik {
namespace {

using testing::ReadFile;
using testing::WriteFile;

std::size_t FilesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}

// A crash after the temporary file was (partly) written and before the rename: the file still
// holds the old contents, and the next write takes over and replaces it whole.
TEST(DurableFile, ACrashBeforeTheRenameLeavesTheOldFileAndTheNextWriteTheNew) {
    for (const TemporaryName kind : {TemporaryName::Fixed, TemporaryName::Unique}) {
        testing::TempDir dir;
        const auto path = dir / "store";
        WriteFile(path, "00000001\n");
        WriteFile(dir / "store.new", "000000"); // what the crash left
        EXPECT_EQ(ReadFile(path), "00000001\n");
        std::string why;
        ASSERT_TRUE(ReplaceFileDurably(path, "00000002\n", kind, why)) << why;
        EXPECT_EQ(ReadFile(path), "00000002\n");
        // The fixed temporary is the one taken over; a unique one leaves the crash's alone.
        EXPECT_EQ(FilesIn(dir.path()), kind == TemporaryName::Fixed ? 1u : 2u);
    }
}

} // namespace
} // namespace tarnik
