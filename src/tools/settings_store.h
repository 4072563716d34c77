#pragma once
// Per-user settings: string values under one key ("\Software\Olvane\Tarnik" on Windows,
// $XDG_CONFIG_HOME/Olvane/Tarnik.conf on Linux).
#include "tools/text.h"

#include <memory>

namespace tarnik {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored value, or the empty text when the store or the value cannot be read.
    virtual Text ReadSetting(const Text& name) = 0;
    // Stores value under name; a store that cannot be opened loses the write silently.
    virtual void WriteSetting(const Text& name, const Text& value) = 0;
};

// The settings store of the platform the program runs on.
std::unique_ptr<SettingsStore> MakePlatformSettingsStore();

} // namespace tarnik
