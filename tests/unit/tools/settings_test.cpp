#include "support/temp_dir.h"
#include "tools/settings_ini.h"

#include <gtest/gtest.h>

using namespace tarnik;
using namespace tarnik::testing;

namespace {

std::filesystem::path StoreFile(const ScopedConfigHome& home) {
    return home.path() / "Olvane" / "Tarnik.conf";
}

} // namespace

TEST(IniSettings, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
    ScopedConfigHome home;
    auto store = MakePlatformSettingsStore();
    EXPECT_EQ(store->ReadSetting("port"), "");
    store->WriteSetting("port", "/dev/pts/7");
    store->WriteSetting("vrf", "0");
    EXPECT_EQ(ReadFile(StoreFile(home)), "[General]\nport=/dev/pts/7\nvrf=0\n");
    EXPECT_EQ(store->ReadSetting("port"), "/dev/pts/7");
    EXPECT_EQ(store->ReadSetting("vrf"), "0");
    EXPECT_EQ(store->ReadSetting("fl"), "");
    store->WriteSetting("port", "COM3");
    EXPECT_EQ(store->ReadSetting("port"), "COM3");
    EXPECT_EQ(ReadFile(StoreFile(home)), "[General]\nport=COM3\nvrf=0\n");
    // Only the store file is left behind: the temporary files were renamed.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.path() / "Olvane"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(IniSettings, AwkwardValuesRoundTrip) {
    ScopedConfigHome home;
    IniSettingsStore store;
    const std::vector<Text> values = {"a=b=c",
                                      " leading and trailing ",
                                      "semi;colon,comma",
                                      "quote\" and \\ backslash",
                                      "tab\tnew\nline",
                                      "C:\\img\\x.bin",
                                      "\xB3\xB9"
                                      "ab",
                                      "",
                                      "x\x01"
                                      "1f",
                                      "#not a comment"};
    for (std::size_t i = 0; i < values.size(); ++i)
        store.WriteSetting("v" + std::to_string(i), values[i]);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(store.ReadSetting("v" + std::to_string(i)), values[i]) << i;
    EXPECT_EQ(EscapeIniValue("a=b"), "\"a=b\"");
    EXPECT_EQ(EscapeIniValue("\xB3"
                             "A"),
              "\\xB3\\x41");
}

TEST(IniSettings, ValuesAreLaidOutAsQtWritesThem) {
    // UTF-8 text goes into the file as it is; bytes that are not UTF-8 are escaped.
    EXPECT_EQ(EscapeIniValue("/home/j/\xC5\x82\xC4\x85"
                             "cznik.bin"),
              "/home/j/\xC5\x82\xC4\x85"
              "cznik.bin");
    EXPECT_EQ(EscapeIniValue("\xE2\x82\xAC\xF0\x9F\x98\x80"), "\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(EscapeIniValue("\xC5"), "\\xC5");
    EXPECT_EQ(EscapeIniValue("\xC0\x80"), "\\xC0\\x80");          // overlong form
    EXPECT_EQ(EscapeIniValue("\xED\xA0\x80"), "\\xED\\xA0\\x80"); // surrogate
    // Qt keeps '@' for its typed values and doubles the '@' of a plain text.
    EXPECT_EQ(EscapeIniValue("@port"), "@@port");
    EXPECT_EQ(UnescapeIniValue("@@port"), "@port");
    EXPECT_EQ(UnescapeIniValue("a@@"), "a@@");

    // Lines as Qt 6 writes them.
    ScopedConfigHome home;
    std::filesystem::create_directories(StoreFile(home).parent_path());
    WriteFile(StoreFile(home), "[General]\nfl=\xC5\x82x\nb=\xC2\xB3\\x1\\x31\\x66\nd=@@at\n");
    IniSettingsStore store;
    EXPECT_EQ(store.ReadSetting("fl"), "\xC5\x82x");
    EXPECT_EQ(store.ReadSetting("b"), "\xC2\xB3\x01"
                                      "1f");
    EXPECT_EQ(store.ReadSetting("d"), "@at");
    store.WriteSetting("d", "@at");
    store.WriteSetting("fl", "\xC5\x82x");
    EXPECT_EQ(ReadFile(StoreFile(home)),
              "[General]\nfl=\xC5\x82x\nb=\xC2\xB3\\x1\\x31\\x66\nd=@@at\n");
    for (const Text& value : {Text("@"), Text("@@"), Text("@x y"), Text("\xC5\x82\xB3")}) {
        store.WriteSetting("v", value);
        EXPECT_EQ(store.ReadSetting("v"), value);
    }
}

TEST(IniSettings, RewritingKeepsOtherSectionsAndLines) {
    ScopedConfigHome home;
    std::filesystem::create_directories(StoreFile(home).parent_path());
    WriteFile(StoreFile(home), "; kept comment\n[Other]\nport=elsewhere\n\n[General]\n"
                               "pozL = 120 \r\nfl=\"/tmp/a, b.bin\"\nodd line\n[Tail]\nx=1\n");
    IniSettingsStore store;
    EXPECT_EQ(store.ReadSetting("port"), "");
    EXPECT_EQ(store.ReadSetting("pozL"), "120");
    EXPECT_EQ(store.ReadSetting("fl"), "/tmp/a, b.bin");
    store.WriteSetting("port", "/dev/ttyUSB0");
    store.WriteSetting("pozL", "15");
    EXPECT_EQ(ReadFile(StoreFile(home)),
              "; kept comment\n[Other]\nport=elsewhere\n\n[General]\npozL=15\n"
              "fl=\"/tmp/a, b.bin\"\nport=/dev/ttyUSB0\nodd line\n[Tail]\nx=1\n");
}

TEST(IniSettings, RewritingKeepsCarriageReturnsOfOtherValues) {
    ScopedConfigHome home;
    IniSettingsStore store;
    std::filesystem::create_directories(StoreFile(home).parent_path());
    // Found by the fuzzer: a return inside an open quote is part of the value, and each
    // rewrite used to drop one of them.
    WriteFile(StoreFile(home), "[General]\r\npth=\"a b\r\r\r\nvrf=1\r\n");
    const Text before = store.ReadSetting("pth");
    EXPECT_EQ(before, "a b\r\r");
    EXPECT_EQ(store.ReadSetting("vrf"), "1");
    for (int i = 0; i < 3; ++i)
        store.WriteSetting("port", "/dev/pts/" + std::to_string(i));
    EXPECT_EQ(store.ReadSetting("pth"), before);
    EXPECT_EQ(store.ReadSetting("vrf"), "1");
    EXPECT_EQ(store.ReadSetting("port"), "/dev/pts/2");
    EXPECT_EQ(ReadFile(StoreFile(home)),
              "[General]\r\npth=\"a b\r\r\r\nvrf=1\r\nport=/dev/pts/2\n");
}

TEST(IniSettings, FileWithoutGeneralSectionGetsOneFirst) {
    ScopedConfigHome home;
    std::filesystem::create_directories(StoreFile(home).parent_path());
    WriteFile(StoreFile(home), "[Other]\nvrf=1\n");
    IniSettingsStore store;
    EXPECT_EQ(store.ReadSetting("vrf"), "");
    store.WriteSetting("vrf", "0");
    EXPECT_EQ(ReadFile(StoreFile(home)), "[General]\nvrf=0\n\n[Other]\nvrf=1\n");
}

TEST(IniSettings, LocationFollowsTheEnvironmentAtEachAccess) {
    IniSettingsStore store;
    ScopedConfigHome first;
    store.WriteSetting("fl", "one");
    {
        ScopedConfigHome second;
        EXPECT_EQ(DefaultSettingsPath(), StoreFile(second));
        EXPECT_EQ(store.ReadSetting("fl"), "");
        store.WriteSetting("fl", "two");
        EXPECT_EQ(store.ReadSetting("fl"), "two");
    }
    EXPECT_EQ(store.ReadSetting("fl"), "one");
}

TEST(IniSettings, KeysWithUnusualCharactersAreEscaped) {
    EXPECT_EQ(EscapeIniKey("adr_exp"), "adr_exp");
    EXPECT_EQ(EscapeIniKey("a b/c"), "a%20b\\c");
    EXPECT_EQ(UnescapeIniKey("a%20b\\c"), "a b/c");
    ScopedConfigHome home;
    IniSettingsStore store;
    store.WriteSetting("odd key=", "v");
    EXPECT_EQ(store.ReadSetting("odd key="), "v");
}

TEST(IniSettings, AWriteThatFailsIsReportedWithItsReason) {
    TempDir dir;
    WriteFile(dir / "file", "a file where the settings folder should be");
    IniSettingsStore store([&] { return dir / "file" / "Olvane" / "Tarnik.conf"; });
    std::vector<std::string> failures;
    store.OnWriteFailure(
        [&](const Text& name, const std::string& why) { failures.push_back(name + ": " + why); });
    store.WriteSetting("port", "/dev/pts/7");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].rfind("port: cannot create the folder " + (dir / "file").string(), 0), 0u)
        << failures[0];
    EXPECT_NE(failures[0].find("Not a directory"), std::string::npos) << failures[0];
}

// No test sees what another stored: each starts with an empty settings folder of its own.
TEST(IniSettings, EachTestStartsWithAnEmptySettingsFolderOfItsOwn) {
    const char* home = std::getenv("XDG_CONFIG_HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_TRUE(std::filesystem::is_directory(home));
    EXPECT_TRUE(std::filesystem::is_empty(home));
    if (const char* build = std::getenv("TARNIK_BINARY_DIR")) {
        EXPECT_NE(std::filesystem::path(home), std::filesystem::path(build) / "test-config");
    }
    // What this test stores goes with its folder.
    MakePlatformSettingsStore()->WriteSetting("vrf", "0");
    EXPECT_FALSE(std::filesystem::is_empty(home));
}
