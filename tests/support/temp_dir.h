#pragma once
// A temporary folder for one test, removed with everything in it afterwards, and a scope
// that points the settings store (XDG_CONFIG_HOME) at such a folder.
#include <filesystem>
#include <optional>
#include <string>

namespace tarnik::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Sets XDG_CONFIG_HOME to a fresh temporary folder for its lifetime.
class ScopedConfigHome {
public:
    ScopedConfigHome();
    ~ScopedConfigHome();
    const std::filesystem::path& path() const { return dir_.path(); }

private:
    TempDir dir_;
    std::optional<std::string> previous_;
};

// Writes bytes to a file, replacing it.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
std::string ReadFile(const std::filesystem::path& path);

} // namespace tarnik::testing
