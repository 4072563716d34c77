#pragma once
// Per-user settings: string values under one key ("\Software\Olvane\Tarnik" on Windows,
// $XDG_CONFIG_HOME/Olvane/Tarnik.conf on Linux).
#include "tools/text.h"

#include <functional>
#include <memory>
#include <string>

namespace tarnik {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored value, or the empty text when the store or the value cannot be read.
    virtual Text ReadSetting(const Text& name) = 0;
    // Stores value under name; a write that fails is told to the write-failure handler.
    virtual void WriteSetting(const Text& name, const Text& value) = 0;

    // Called with the value's name and the reason (file or key, and the system's words)
    // whenever a write could not be stored, so a front end can tell the user.
    using WriteFailureHandler = std::function<void(const Text& name, const std::string& why)>;
    void OnWriteFailure(WriteFailureHandler handler) { onWriteFailure_ = std::move(handler); }

protected:
    void ReportWriteFailure(const Text& name, const std::string& why) {
        if (onWriteFailure_) onWriteFailure_(name, why);
    }

private:
    WriteFailureHandler onWriteFailure_;
};

// The settings store of the platform the program runs on.
std::unique_ptr<SettingsStore> MakePlatformSettingsStore();

} // namespace tarnik
