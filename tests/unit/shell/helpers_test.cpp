#include "image/unit_types.h"
#include "shell/command_line.h"
#include "shell/log_model.h"
#include "tools/cp1250.h"

#include <gtest/gtest.h>

namespace tarnik {
namespace {

TEST(ShellCp1250, PolishLettersBecomeUtf8) {
    EXPECT_EQ(Cp1250ToUtf8("B\xB3"
                           "ad"),
              "B\xC5\x82"
              "ad");
    EXPECT_EQ(Cp1250ToUtf8("\xB9\xA5\x9C\x8C\xBF\xAF"), "ąĄśŚżŻ");
    EXPECT_EQ(Cp1250ToUtf8("\x80\xFF"), "€˙");
    EXPECT_EQ(Cp1250ToUtf8("plain"), "plain");
    EXPECT_EQ(Cp1250ToCodePoint(0x81), U'\uFFFD');
}

TEST(ShellLogModel, TrimsOnlyWhenLongerThanTheLimit) {
    LogModel log;
    log.Append(Text(33998, 'a')); // exactly 34000 with its line break
    EXPECT_EQ(log.Trim(), 0);
    log.Append("");
    EXPECT_EQ(log.Trim(), 2); // only two lines to drop
    EXPECT_EQ(log.TextLength(), 0u);
}

TEST(ShellUnitTypes, AddressNamesPerType) {
    EXPECT_EQ(FindUnitType(9)->AddressStoreSetting(), "adr_srva_netk");
    EXPECT_EQ(Text(FindUnitType(15)->addressSetting), "adr_srva_netk");
    EXPECT_EQ(FindUnitType(15)->AddressStoreSetting(), "");
    EXPECT_EQ(FindUnitType(6)->AddressStoreSetting(), "");
    EXPECT_FALSE(FindUnitType(19));
    EXPECT_FALSE(FindUnitType(-1));
    EXPECT_EQ(UnitTypeTitle(4), "Tarnik v2.01A_EN   NETK-2 Module Program ");
    EXPECT_EQ(FindUnitType(15)->modelCode, 4);
}

} // namespace
} // namespace tarnik

namespace tarnik {
namespace {

TEST(ShellCp1250, DisplayKeepsUtf8FileNamesAndConvertsTheRest) {
    EXPECT_EQ(DisplayUtf8("/home/ł/x.bin"), "/home/ł/x.bin");
    EXPECT_EQ(DisplayUtf8("B\xB3"
                          "ad"),
              "Bład");
    EXPECT_FALSE(IsValidUtf8("\xC5"));         // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));     // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80"));
}

} // namespace
} // namespace tarnik
