#pragma once
// The serial number store of a station: a small file holding the next serial
// number as eight hex digits. Numbers are taken under a lock held for the whole
// allocation (a lock file beside the store, flock on POSIX, LockFileEx on Windows) and the
// store is rewritten through a temporary file and a rename, so concurrent runs on one
// station, or stations sharing a folder, never take the same number, and a crash never
// leaves a half-written store. A number taken is never handed out again, whatever happens
// to the unit it was meant for: a gap is harmless, a duplicate is not.
#include <cstdint>
#include <string>
#include <vector>

namespace tarnik {

struct SerialAllocation {
    std::vector<std::string> serials; // eight upper-case hex digits each, in order
    std::string error;                // empty when the numbers were taken
    bool ok() const { return error.empty(); }
};

// Takes count consecutive numbers from the store at path and leaves the one after them.
// The store must exist and hold eight hex digits (it is never created with a guessed
// number); a range that would run past FFFFFFFF is refused, as wrapping round would hand
// out numbers again.
SerialAllocation TakeSerials(const std::string& path, std::size_t count);

} // namespace tarnik
