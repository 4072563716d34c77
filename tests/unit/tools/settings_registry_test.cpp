// The settings store of Windows, against the registry of the test's wine prefix.
#include "tools/settings_store.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <windows.h>

namespace tarnik {
namespace {

constexpr const char* kKey = "Software\\Olvane\\Tarnik";

// Writes a raw value of any registry type beside the store's own values.
void WriteRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

DWORD StoredType(const char* name) {
    DWORD type = REG_NONE;
    RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_ANY, &type, nullptr, nullptr);
    return type;
}

TEST(RegistrySettings, KeyCreatedOnDemandAndValuesKeptAsStrings) {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Olvane");
    auto store = MakePlatformSettingsStore();
    EXPECT_EQ(store->ReadSetting("regtest_missing"), "");

    store->WriteSetting("regtest_port", "COM250");
    store->WriteSetting("regtest_vrf", "0");
    store->WriteSetting("regtest_empty", "");
    EXPECT_EQ(store->ReadSetting("regtest_port"), "COM250");
    EXPECT_EQ(store->ReadSetting("regtest_vrf"), "0");
    EXPECT_EQ(store->ReadSetting("regtest_empty"), "");
    EXPECT_EQ(StoredType("regtest_vrf"), static_cast<DWORD>(REG_SZ));

    // A second store sees what the first wrote: the values live in the registry.
    store->WriteSetting("regtest_port", "COM251");
    EXPECT_EQ(MakePlatformSettingsStore()->ReadSetting("regtest_port"), "COM251");
}

TEST(RegistrySettings, WindowsBytesAndLongValuesComeBackWhole) {
    auto store = MakePlatformSettingsStore();
    const std::string path = "C:\\Pliki\\Prze\xB3\xB9"
                             "czenie\\obraz.bin";
    store->WriteSetting("regtest_fl", path);
    EXPECT_EQ(store->ReadSetting("regtest_fl"), path);

    const std::string wide(5000, 'x');
    store->WriteSetting("regtest_long", wide);
    EXPECT_EQ(store->ReadSetting("regtest_long"), wide);
}

TEST(RegistrySettings, ValueOfAnotherTypeIsAnErrorNamingIt) {
    const DWORD number = 1;
    WriteRaw("regtest_dword", REG_DWORD, &number, sizeof number);
    auto store = MakePlatformSettingsStore();
    try {
        store->ReadSetting("regtest_dword");
        FAIL() << "a number read as a string setting";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid data type for 'regtest_dword'");
    }
    // Writing the setting replaces the wrong value with a string one.
    store->WriteSetting("regtest_dword", "1");
    EXPECT_EQ(store->ReadSetting("regtest_dword"), "1");
}

TEST(RegistrySettings, StringWithoutTerminatorReadsWithoutGarbage) {
    WriteRaw("regtest_bare", REG_SZ, "38400", 5);
    EXPECT_EQ(MakePlatformSettingsStore()->ReadSetting("regtest_bare"), "38400");
}

} // namespace
} // namespace tarnik
