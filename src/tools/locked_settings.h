#pragma once
// One settings store shared by several unit processes of a run, each on its own thread: a
// read or write of one value is done whole before the next starts, so two processes never
// rewrite the file at once and lose each other's value.
#include "tools/settings_store.h"

#include <mutex>

namespace tarnik {

class LockedSettingsStore final : public SettingsStore {
public:
    explicit LockedSettingsStore(SettingsStore& inner) : inner_(inner) {}
    Text ReadSetting(const Text& name) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return inner_.ReadSetting(name);
    }
    void WriteSetting(const Text& name, const Text& value) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        inner_.WriteSetting(name, value);
    }

private:
    SettingsStore& inner_;
    std::mutex mutex_;
};

} // namespace tarnik
