#pragma once
// Helpers shared by the fuzz targets: a byte reader over the fuzzer's input, a scratch file
// of this process, and a check that stops the run with a message libFuzzer keeps.
#include "tools/text.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace tarnik::fuzz {

// Takes bytes from the front of the input; past its end every read gives zeros / nothing.
class InputReader {
public:
    InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool Flag() { return (Byte() & 1) != 0; }
    std::size_t Remaining() const { return size_ - pos_; }
    bool Empty() const { return pos_ >= size_; }
    // Up to n bytes as a text.
    Text Take(std::size_t n) {
        const std::size_t k = n < Remaining() ? n : Remaining();
        Text t(reinterpret_cast<const char*>(data_ + pos_), k);
        pos_ += k;
        return t;
    }
    Text Rest() { return Take(Remaining()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// Splits the text at NUL bytes (command-line arguments cannot hold one).
inline std::vector<std::string> SplitAtNul(const Text& text) {
    std::vector<std::string> parts;
    std::string current;
    for (const char c : text) {
        if (c == '\0') {
            parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(current);
    return parts;
}

// A folder of this process for the files a target reads, removed at exit.
inline const std::filesystem::path& ScratchFolder() {
    static const std::filesystem::path folder = [] {
        // Memory-backed when possible: the settings store syncs every file it writes.
        const char* tmp = std::getenv("TMPDIR");
        std::error_code ec;
        const char* base = tmp && *tmp                                     ? tmp
                           : std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm"
                                                                           : "/tmp";
        std::filesystem::path p =
            std::filesystem::path(base) / ("tarnik-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(p);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchFolder(), ec);
        });
        return p;
    }();
    return folder;
}

inline void WriteFile(const std::filesystem::path& path, const Text& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A broken property is a finding like a crash: abort, so libFuzzer saves the input.
#define TARNIK_FUZZ_CHECK(condition, what)                                                         \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "property broken: %s (%s)\n", what, #condition);                  \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

} // namespace tarnik::fuzz
