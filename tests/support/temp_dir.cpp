#include "support/temp_dir.h"

#include <cstdlib>
#ifdef _WIN32
#include <process.h>
#endif
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tarnik::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnik-test-XXXXXX").string();
#ifdef _WIN32
    // Test programs run side by side: the process id keeps their folders apart.
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("tarnik-test-" + std::to_string(_getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(path_);
#else
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedConfigHome::ScopedConfigHome() {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) previous_ = old;
#ifdef _WIN32
    _putenv_s("XDG_CONFIG_HOME", dir_.path().string().c_str());
#else
    setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
#endif
}

ScopedConfigHome::~ScopedConfigHome() {
#ifdef _WIN32
    _putenv_s("XDG_CONFIG_HOME", previous_ ? previous_->c_str() : "");
#else
    if (previous_)
        setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
#endif
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace tarnik::testing
