// Any INI text as the settings file: reading never crashes, and a written value reads back
// as it was written, with every other value left as it was.
#include "fuzz_support.h"

#include "tools/settings_ini.h"

#include <array>

namespace {

// Whether a line of the file, without surrounding blanks, is the [General] section header.
bool HasGeneralSection(const tarnik::Text& fileText) {
    std::size_t from = 0;
    while (from <= fileText.size()) {
        std::size_t end = fileText.find('\n', from);
        if (end == tarnik::Text::npos) end = fileText.size();
        const tarnik::Text line = fileText.substr(from, end - from);
        const std::size_t first = line.find_first_not_of(" \t\r");
        const std::size_t last = line.find_last_not_of(" \t\r");
        if (first != tarnik::Text::npos && line.substr(first, last - first + 1) == "[General]")
            return true;
        from = end + 1;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarnik;
    const Text whole(reinterpret_cast<const char*>(data), size);
    TARNIK_FUZZ_CHECK(UnescapeIniValue(EscapeIniValue(whole)) == whole, "value escape round trip");
    TARNIK_FUZZ_CHECK(UnescapeIniKey(EscapeIniKey(whole)) == whole, "key escape round trip");

    // The file text, a value name and a value, separated by NUL bytes.
    const std::vector<std::string> parts = fuzz::SplitAtNul(whole);
    const Text& fileText = parts[0];
    const Text name = parts.size() > 1 ? parts[1] : "port";
    const Text value = parts.size() > 2 ? parts[2] : "/dev/pts/7";

    const std::filesystem::path path = fuzz::ScratchFolder() / "Olvane" / "Tarnik.conf";
    std::filesystem::create_directories(path.parent_path());
    fuzz::WriteFile(path, fileText);
    IniSettingsStore store([&] { return path; });

    static const std::array<Text, 8> kNames = {"pozL", "pozH", "vrf",     "pth",
                                               "port", "fl",   "adr_exp", "adr_srva_netk"};
    std::array<Text, kNames.size()> before;
    for (std::size_t i = 0; i < kNames.size(); ++i)
        before[i] = store.ReadSetting(kNames[i]);
    (void)store.ReadSetting(name);

    store.WriteSetting(name, value);
    TARNIK_FUZZ_CHECK(store.ReadSetting(name) == value, "a written value reads back");
    // Lines outside a [General] section only become part of it when the writer has to add
    // the section; with the section present, other values must stay as they were.
    if (HasGeneralSection(fileText))
        for (std::size_t i = 0; i < kNames.size(); ++i)
            if (kNames[i] != name)
                TARNIK_FUZZ_CHECK(store.ReadSetting(kNames[i]) == before[i],
                                  "other values are kept");
    return 0;
}
