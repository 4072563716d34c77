#pragma once
// SHA-256 of a byte string or a file, for the results log: it names exactly which image
// was programmed. Self-contained, so every build (the Windows one too) has it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnik {

class Sha256 {
public:
    Sha256();
    void Update(std::string_view bytes);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const unsigned char* block);

    std::uint32_t state_[8];
    unsigned char buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

std::string Sha256Hex(std::string_view bytes);
// Nothing when the file cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path);

} // namespace tarnik
