#pragma once
// The settings store of POSIX systems: an INI file laid out as Qt writes it, with every value
// in the [General] section as name=value. The file is found anew at each access, so a change
// of XDG_CONFIG_HOME takes effect at once.
#include "tools/settings_store.h"

#include <filesystem>
#include <functional>

namespace tarnik {

// $XDG_CONFIG_HOME/Olvane/Tarnik.conf, or ~/.config/Olvane/Tarnik.conf when it is not set.
std::filesystem::path DefaultSettingsPath();

class IniSettingsStore : public SettingsStore {
public:
    explicit IniSettingsStore(std::function<std::filesystem::path()> locate = DefaultSettingsPath);
    Text ReadSetting(const Text& name) override;
    // Rewrites the file through a temporary file and a rename; other lines and sections are
    // kept as they are.
    void WriteSetting(const Text& name, const Text& value) override;

private:
    std::function<std::filesystem::path()> locate_;
};

// Value and key texts as they appear in the file, as Qt writes them: for values, quotes and
// backslash escapes, well-formed UTF-8 as it is and a leading '@' doubled; for keys, %XX for
// unusual characters.
Text EscapeIniValue(const Text& value);
Text UnescapeIniValue(const Text& stored);
Text EscapeIniKey(const Text& key);
Text UnescapeIniKey(const Text& stored);

} // namespace tarnik
