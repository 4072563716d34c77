// The settings store of Windows: string values under HKCU\Software\Olvane\Tarnik.
#include "tools/settings_store.h"

#include "tools/system_error.h"

#include <stdexcept>

#include <windows.h>

namespace tarnik {

namespace {

constexpr const char* kSettingsKey = "Software\\Olvane\\Tarnik";

// The settings key, created when it does not exist yet; closed when the object goes.
class SettingsKey {
public:
    SettingsKey() {
        status_ =
            RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_, nullptr);
        if (status_ != ERROR_SUCCESS) key_ = nullptr;
    }
    ~SettingsKey() {
        if (key_) RegCloseKey(key_);
    }
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;
    HKEY get() const { return key_; }
    // Why the key could not be opened.
    LONG status() const { return status_; }

private:
    HKEY key_ = nullptr;
    LONG status_ = ERROR_SUCCESS;
};

std::string KeyFailure(const char* what, LONG status) {
    return std::string("cannot ") + what + " HKEY_CURRENT_USER\\" + kSettingsKey + ": " +
           WindowsErrorText(static_cast<unsigned long>(status));
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

class RegistrySettingsStore : public SettingsStore {
public:
    Text ReadSetting(const Text& name) override {
        const SettingsKey key;
        if (!key.get()) return {};
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS) return {};
        // A value of another kind is an error the user gets to see, as a wrong setting
        // must not pass silently for a default.
        if (!IsStringType(type)) throw std::runtime_error("Invalid data type for '" + name + "'");
        Text data;
        // The value may grow between the two queries; ask again with the new size then.
        for (int attempt = 0; attempt < 4; ++attempt) {
            data.assign(size, '\0');
            DWORD got = size;
            rc = RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &got);
            if (rc == ERROR_MORE_DATA) {
                size = got;
                continue;
            }
            if (rc != ERROR_SUCCESS) return {};
            if (!IsStringType(type))
                throw std::runtime_error("Invalid data type for '" + name + "'");
            data.resize(got);
            while (!data.empty() && data.back() == '\0')
                data.pop_back();
            return data;
        }
        return {};
    }

    void WriteSetting(const Text& name, const Text& value) override {
        const SettingsKey key;
        if (!key.get()) {
            ReportWriteFailure(name, KeyFailure("open", key.status()));
            return;
        }
        const LONG status = RegSetValueExA(key.get(), name.c_str(), 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(value.c_str()),
                                           static_cast<DWORD>(value.size() + 1));
        if (status != ERROR_SUCCESS) ReportWriteFailure(name, KeyFailure("write to", status));
    }
};

} // namespace

std::unique_ptr<SettingsStore> MakePlatformSettingsStore() {
    return std::make_unique<RegistrySettingsStore>();
}

} // namespace tarnik
