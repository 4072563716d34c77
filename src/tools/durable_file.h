#pragma once
// Replacing a small file so that nothing is lost on a crash or a power loss: the new contents
// go to a temporary file beside it, are flushed to the disk, and the temporary file is renamed
// over the old one; on POSIX the folder is synced too, so the rename itself is on the disk
// (on Windows the rename is made write-through). At any moment the file holds either the old
// contents or the new ones, never a part of them.
#include <filesystem>
#include <string>
#include <string_view>

namespace tarnik {

// The temporary file beside the target.
enum class TemporaryName {
    // The target's name with ".new": for a writer that holds a lock of its own, so a
    // temporary left by a crash is simply taken over by the next write.
    Fixed,
    // A fresh name for each write: for writers that may run side by side.
    Unique,
};

// Replaces the file at path by one holding contents. On failure the old file is left as it
// was (unless only the closing sync of the folder failed), the temporary file is removed and
// why tells the step and the system's reason.
bool ReplaceFileDurably(const std::filesystem::path& path, std::string_view contents,
                        TemporaryName temporary, std::string& why);

} // namespace tarnik
