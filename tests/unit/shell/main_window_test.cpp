#include "shell_rig.h"

#include "image/unit_types.h"
#include "support/image_builder.h"

#include <gtest/gtest.h>

namespace tarnik::testing {
namespace {

const Text kAppTitle = "Tarnik v2.01A_EN  ";

// ---------------------------------------------------------------------------------------
// Start-up

TEST(ShellStartup, FirstStartWithEmptyStore) {
    ShellRig rig;
    rig.settings.values.clear();
    MainWindowLogic& logic = rig.Start();

    EXPECT_EQ(rig.view.left, 10);
    EXPECT_EQ(rig.view.top, 10);
    EXPECT_EQ(logic.PortName(), "COM1");
    EXPECT_EQ(rig.view.panels[0], "COM1");
    EXPECT_TRUE(logic.BoxVerChecked());
    EXPECT_TRUE(rig.view.checked[Control::BoxVer]);
    EXPECT_EQ(rig.settings.values["pth"], "/opt/tarnik/bin/tarnik");
    EXPECT_FALSE(rig.settings.Has("vrf")); // SetVerifyBox writes nothing
    EXPECT_EQ(rig.view.appTitle, kAppTitle);
    EXPECT_EQ(rig.view.Get(Control::MainWindow), kAppTitle);
    EXPECT_EQ(rig.view.Get(Control::TxAdrLabel), "Devices address");
    EXPECT_EQ(rig.view.Get(Control::BoxVer), "Verification");
    EXPECT_EQ(rig.view.Get(Control::CommMenu), "Communication");

    // No image: idle, with the load error in panel 1 and no port checked.
    EXPECT_EQ(logic.State(), WindowState::Idle);
    EXPECT_EQ(rig.view.panels[1], "File opening error ");
    EXPECT_TRUE(rig.view.IsEnabled(Control::LDBut));
    EXPECT_FALSE(rig.view.IsEnabled(Control::ProgBut));
    EXPECT_FALSE(rig.view.IsEnabled(Control::StopBut));
    EXPECT_FALSE(rig.view.IsEnabled(Control::StartMenu));
    EXPECT_TRUE(rig.view.IsEnabled(Control::AdrTx));
    const auto menu = logic.PortMenu({{"COM1", ""}, {"/dev/ttyUSB0", "FT232R"}});
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_FALSE(menu[0].checked);
    EXPECT_FALSE(rig.view.timer1);

    logic.StoreWindowPosition(120, -5);
    EXPECT_EQ(rig.settings.values["pozL"], "120");
    EXPECT_EQ(rig.settings.values["pozH"], "-5");
}

TEST(ShellStartup, StoredPositionThatIsNoNumberFallsBackTo10) {
    ShellRig rig;
    rig.settings.values["pozL"] = "abc";
    rig.settings.values["pozH"] = "250";
    rig.Start();
    EXPECT_EQ(rig.view.left, 10);
    EXPECT_EQ(rig.view.top, 250);
}

TEST(ShellStartup, VerificationIsOffOnlyForExactlyZero) {
    for (const auto& [stored, expected] : std::vector<std::pair<Text, bool>>{
             {"0", false}, {"1", true}, {"x", true}, {"", true}, {"00", true}}) {
        ShellRig rig;
        rig.settings.values["vrf"] = stored;
        EXPECT_EQ(rig.Start().BoxVerChecked(), expected) << "vrf=" << stored;
    }
}

TEST(ShellStartup, BoxVerClickStoresTheSetting) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    logic.BoxVerClick(false);
    EXPECT_EQ(rig.settings.values["vrf"], "0");
    EXPECT_FALSE(logic.BoxVerChecked());
    logic.BoxVerClick(true);
    EXPECT_EQ(rig.settings.values["vrf"], "1");
}

TEST(ShellCommandLine, ImagePortAndVerificationInAnyCase) {
    ShellRig rig;
    const std::string image = rig.WriteImage("img.bin", ShellRig::Spec(1));
    MainWindowLogic& logic = rig.Start({"p=" + image, "c=7", "v=0"});
    EXPECT_EQ(logic.ImageFileName(), image);
    EXPECT_TRUE(logic.AutoStart());
    EXPECT_EQ(logic.PortName(), "COM7");
    EXPECT_EQ(rig.view.panels[0], "COM7");
    EXPECT_FALSE(logic.BoxVerChecked());
    EXPECT_EQ(logic.State(), WindowState::Ready);
    EXPECT_EQ(rig.view.panels[1], image);
    EXPECT_TRUE(rig.view.timer1);
    // The command line never becomes the remembered file.
    EXPECT_FALSE(rig.settings.Has("fl"));
}

TEST(ShellCommandLine, PortNumberKeptAsWrittenAndBadValuesIgnored) {
    const std::vector<std::pair<std::vector<std::string>, Text>> cases = {
        {{"C=03"}, "COM03"},
        {{"C=0"}, "/dev/tarnik-test-port"},
        {{"C=x"}, "/dev/tarnik-test-port"},
        {{"C=-2"}, "/dev/tarnik-test-port"},
        {{"C=4", "C=9"}, "COM9"}, // a later argument overrides
        {{"C=4", "C=x"}, "COM4"}, // an ignored one does not
        {{"X=5", "C"}, "/dev/tarnik-test-port"},
    };
    for (const auto& [args, port] : cases) {
        ShellRig rig;
        EXPECT_EQ(rig.Start(args).PortName(), port) << args.front();
    }
}

TEST(ShellCommandLine, VerificationOnlyForTheIntegerOne) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"V=1", true},  {"v=1", true},    {"V=01", true},
        {"V=2", false}, {"V=yes", false}, {"V=", false},
    };
    for (const auto& [arg, expected] : cases) {
        ShellRig rig;
        rig.settings.values["vrf"] = expected ? "0" : "1"; // the command line wins
        EXPECT_EQ(rig.Start({arg}).BoxVerChecked(), expected) << arg;
    }
}

TEST(ShellCommandLine, MissingImageIsIgnoredAndTheRememberedOneLoaded) {
    ShellRig rig;
    const std::string remembered = rig.WriteImage("remembered.bin", ShellRig::Spec(1));
    rig.settings.values["fl"] = remembered;
    MainWindowLogic& logic = rig.Start({"P=" + (rig.dir / "missing.bin").string()});
    EXPECT_EQ(logic.ImageFileName(), remembered);
    EXPECT_FALSE(logic.AutoStart());
    EXPECT_EQ(logic.State(), WindowState::Ready);
    EXPECT_FALSE(rig.view.timer1);
}

TEST(ShellStartup, RememberedImageMissing) {
    ShellRig rig;
    const std::string gone = (rig.dir / "gone.bin").string();
    rig.settings.values["fl"] = gone;
    MainWindowLogic& logic = rig.Start();
    EXPECT_EQ(rig.view.panels[1], "File opening error " + gone);
    EXPECT_EQ(logic.State(), WindowState::Idle);
    EXPECT_TRUE(logic.PortMenu({{"/dev/tarnik-test-port", ""}}).empty() == false);
    EXPECT_FALSE(logic.PortMenu({{"/dev/tarnik-test-port", ""}})[0].checked);
}

// ---------------------------------------------------------------------------------------
// Port menu

TEST(ShellPorts, ChosenPortCheckedIgnoringCaseAndNeverInvented) {
    ShellRig rig;
    rig.settings.values["port"] = "com3";
    rig.settings.values["fl"] = rig.WriteImage("a.bin", ShellRig::Spec(6));
    MainWindowLogic& logic = rig.Start();
    auto menu = logic.PortMenu({{"COM1", ""}, {"COM3", "USB adapter"}, {"", "nameless"}});
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_FALSE(menu[0].checked);
    EXPECT_TRUE(menu[1].checked);
    EXPECT_EQ(menu[1].description, "USB adapter");

    // The listing stays exact: a port that is not listed gets no made-up entry; the status
    // bar shows it.
    menu = logic.PortMenu({{"COM1", ""}});
    ASSERT_EQ(menu.size(), 1u);
    EXPECT_FALSE(menu[0].checked);
    EXPECT_EQ(rig.view.panels[0], "com3");
}

TEST(ShellPorts, SelectPortDropsAmpersands) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    logic.SelectPort("/dev/tty&USB0");
    EXPECT_EQ(logic.PortName(), "/dev/ttyUSB0");
    EXPECT_EQ(rig.settings.values["port"], "/dev/ttyUSB0");
    EXPECT_EQ(rig.view.panels[0], "/dev/ttyUSB0");
    // The entry chosen is checked by its caption, "&" and all; nothing is added.
    const auto listed = logic.PortMenu({{"/dev/tty&USB0", ""}, {"/dev/ttyUSB1", ""}});
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(listed[0].checked);
    EXPECT_FALSE(listed[1].checked);
}

TEST(ShellPorts, OverriddenPortIsUsedButNotStored) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    logic.OverridePort("/dev/pts/7");
    EXPECT_EQ(logic.PortName(), "/dev/pts/7");
    EXPECT_EQ(rig.view.panels[0], "/dev/pts/7");
    EXPECT_EQ(rig.settings.values["port"], "/dev/tarnik-test-port");
}

// ---------------------------------------------------------------------------------------
// Loading images and the set-up per unit type

struct SetUpRow {
    int type;
    bool captionIsTitle;
    std::vector<Control> shown;
    Text addressSetting; // read after the load; empty: address "00"
    bool boxVer;
};

const std::vector<Control> kTypeControls = {Control::TxAdrLabel,     Control::AdrTx,
                                            Control::TxNrSerial,     Control::EdNrSerial,
                                            Control::ChBoxSerialInc, Control::ButRdSerial};

std::vector<SetUpRow> SetUpRows() {
    using C = Control;
    std::vector<SetUpRow> rows;
    for (int t : {0, 5, 6, 7, 10, 12, 13, 14, 16, 17, 18})
        rows.push_back({t, true, {}, "", true});
    rows.push_back({1, true, {C::TxAdrLabel, C::AdrTx}, "adr_exp", true});
    rows.push_back({2, false, kTypeControls, "adr_kkd", true});
    rows.push_back({3, true, {C::EdNrSerial, C::ButRdSerial, C::ChBoxSerialInc}, "-", true});
    rows.push_back({4, true, {C::TxAdrLabel, C::AdrTx}, "adr_tcp", false});
    rows.push_back({8, true, {C::TxAdrLabel, C::AdrTx}, "adr_bIRed", true});
    rows.push_back({9, true, {C::TxAdrLabel, C::AdrTx}, "adr_srva_netk", false});
    rows.push_back({11, true, {}, "adr_orvo", true});
    rows.push_back({15, true, {}, "adr_srva_netk", false});
    return rows;
}

TEST(ShellLoadImage, EveryUnitTypeRow) {
    for (const SetUpRow& row : SetUpRows()) {
        SCOPED_TRACE("unit type " + std::to_string(row.type));
        ShellRig rig;
        for (const char* name : {"adr_exp", "adr_kkd", "adr_tcp", "adr_bIRed", "adr_srva_netk",
                                 "adr_orvo", "adr_netk_srva"})
            rig.settings.values[name] = "2C";
        MainWindowLogic& logic = rig.Start();
        // A type 15 image first hides BoxVer, so every row shows whether it comes back.
        logic.LoadImage(rig.WriteImage("first.bin", ShellRig::Spec(15, 0)));
        rig.view.texts[Control::MainWindow] = "previous caption";
        logic.SetUnitAddress("5A", true); // the address before the load (type 15 stores none)
        rig.settings.writes.clear();
        const Text panelBefore = rig.view.panels.at(2), adrTxBefore = rig.view.Get(Control::AdrTx);

        ASSERT_TRUE(logic.LoadImage(rig.WriteImage("img.bin", ShellRig::Spec(row.type))));
        EXPECT_EQ(logic.UnitType(), row.type);
        EXPECT_EQ(rig.view.Get(Control::MainWindow),
                  row.captionIsTitle ? UnitTypeTitle(row.type) : Text("previous caption"));
        for (Control c : kTypeControls) {
            const bool expected =
                std::find(row.shown.begin(), row.shown.end(), c) != row.shown.end();
            EXPECT_EQ(rig.view.IsVisible(c), expected) << "control " << static_cast<int>(c);
        }
        EXPECT_EQ(rig.view.IsVisible(Control::BoxVer), row.boxVer);

        std::uint32_t expectedAddress = 0;
        if (row.addressSetting == "-")
            expectedAddress = 0x5A; // type 3 keeps it
        else if (!row.addressSetting.empty() && row.addressSetting != "adr_orvo")
            expectedAddress = 0x2C;
        const bool keepsNoAddress =
            row.type == 0 || row.type == 3 || row.type == 5 || row.type == 18;
        if (keepsNoAddress && row.type != 3) expectedAddress = 0;
        EXPECT_EQ(logic.UnitAddress(), expectedAddress);
        if (keepsNoAddress) {
            // Neither the address field nor the status bar's address changes.
            EXPECT_EQ(rig.view.panels.at(2), panelBefore);
            EXPECT_EQ(rig.view.Get(Control::AdrTx), adrTxBefore);
        }
        EXPECT_TRUE(logic.Records().empty()); // only the header is read at a load
    }
}

TEST(ShellLoadImage, ExpanderShowsRememberedAddress) {
    ShellRig rig;
    rig.settings.values["adr_exp"] = "7";
    MainWindowLogic& logic = rig.Start();
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("e.bin", ShellRig::Spec(1))));
    EXPECT_EQ(rig.view.Get(Control::AdrTx), "07");
    EXPECT_EQ(rig.view.panels[2], "Adres : 07");
    EXPECT_EQ(rig.settings.values["adr_exp"], "07");
    EXPECT_EQ(logic.UnitAddress(), 7u);
    EXPECT_EQ(rig.view.Get(Control::LTx), "Version :1.05     Compilation date : date:1700000000");
}

TEST(ShellLoadImage, OrvoAlwaysWorksAtAddressZero) {
    ShellRig rig;
    rig.settings.values["adr_orvo"] = "33";
    MainWindowLogic& logic = rig.Start();
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("o.bin", ShellRig::Spec(11))));
    EXPECT_EQ(logic.UnitAddress(), 0u);
    EXPECT_EQ(rig.view.Get(Control::AdrTx), "00");
    EXPECT_EQ(rig.settings.values["adr_orvo"], "00");
    EXPECT_EQ(rig.view.panels[2], "Adres : 00");
}

TEST(ShellLoadImage, SrvaCardReadsAndWritesOneName) {
    ShellRig rig;
    rig.settings.values["adr_srva_netk"] = "12";
    MainWindowLogic& logic = rig.Start();
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("s.bin", ShellRig::Spec(9))));
    EXPECT_EQ(logic.UnitAddress(), 0x12u);
    logic.AdrTxChange("3F");
    EXPECT_EQ(rig.settings.values["adr_srva_netk"], "3F");
    EXPECT_FALSE(rig.settings.Has("adr_netk_srva"));
    // A later load finds the address it stored.
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("s2.bin", ShellRig::Spec(9))));
    EXPECT_EQ(rig.view.Get(Control::AdrTx), "3F");
}

TEST(ShellLoadImage, SmnetCardReadsTheSrvaAddressAndStoresNothing) {
    ShellRig rig;
    rig.settings.values["adr_srva_netk"] = "21";
    MainWindowLogic& logic = rig.Start();
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("p.bin", ShellRig::Spec(15))));
    EXPECT_EQ(logic.UnitAddress(), 0x21u);
    rig.settings.writes.clear();
    logic.AdrTxChange("44");
    EXPECT_EQ(logic.UnitAddress(), 0x44u);
    EXPECT_TRUE(rig.settings.writes.empty());
    EXPECT_EQ(rig.settings.values["adr_srva_netk"], "21");
}

TEST(ShellLoadImage, WideStoredAddressIsShownButFramesGetItsLowByte) {
    ShellRig rig;
    rig.settings.values["adr_bIRed"] = "1A7";
    MainWindowLogic& logic = rig.Start();
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("b.bin", ShellRig::Spec(8))));
    EXPECT_EQ(logic.UnitAddress(), 0x1A7u);
    EXPECT_EQ(rig.view.panels[2], "Adres : 1A7");
    EXPECT_EQ(rig.view.Get(Control::AdrTx), "1A7");
    EXPECT_EQ(logic.BootAddress(), 0xA7u);
}

TEST(ShellLoadImage, Type3KeepsTheAddressOfTheTypeBefore) {
    ShellRig rig;
    rig.settings.values["adr_exp"] = "09";
    MainWindowLogic& logic = rig.Start();
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("1.bin", ShellRig::Spec(1))));
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("3.bin", ShellRig::Spec(3))));
    EXPECT_EQ(logic.UnitAddress(), 9u);
}

TEST(ShellLoadImage, Failures) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();

    // Header checksum wrong.
    Text bad = BuildImage(ShellRig::Spec(1));
    bad[10] = static_cast<char>(bad[10] ^ 0x40);
    const std::string badPath = (rig.dir / "bad.bin").string();
    WriteImageFile(badPath, bad);
    EXPECT_FALSE(logic.LoadImage(badPath));
    EXPECT_EQ(rig.view.messages.back(), "Indicated file is not correct ");
    ASSERT_FALSE(rig.view.loadFailures.empty());
    EXPECT_EQ(rig.view.loadFailures.back().message, "Indicated file is not correct ");
    EXPECT_TRUE(rig.view.loadFailures.back().messageShown);

    // A unit type outside 0..18.
    ImageSpec unknown = ShellRig::Spec(1);
    unknown.unitType = 0x13;
    EXPECT_FALSE(logic.LoadImage(rig.WriteImage("u.bin", unknown)));
    EXPECT_EQ(rig.view.Get(Control::MainWindow), "Tarnik v2.01A_EN   Unknown type of unit");
    EXPECT_EQ(rig.view.loadFailures.back().message, "Tarnik v2.01A_EN   Unknown type of unit");
    EXPECT_FALSE(rig.view.loadFailures.back().messageShown); // shown only as the caption

    // Through the Open command a failed load leaves the window idle.
    rig.view.chosenFile = badPath;
    logic.Otwrz1Click();
    EXPECT_EQ(logic.State(), WindowState::Idle);
    EXPECT_FALSE(rig.settings.Has("fl"));
}

TEST(ShellLoadImage, DateThatIsNoNumberAbandonsTheOpenCommand) {
    ShellRig rig;
    const std::string ready = rig.WriteImage("ready.bin", ShellRig::Spec(1));
    rig.settings.values["fl"] = ready;
    MainWindowLogic& logic = rig.Start();
    ASSERT_EQ(logic.State(), WindowState::Ready);

    const std::string badDate = (rig.dir / "date.bin").string();
    WriteImageFile(badDate, BuildTestHeader({"1.07", "17x0", "06", ""}));
    rig.view.chosenFile = badDate;
    logic.Otwrz1Click();
    // The error is shown like any error of a handler; the Open command goes no further, so
    // the window keeps its state and the image it had.
    EXPECT_EQ(rig.view.messages.back(), "'17x0' is not a valid integer value");
    EXPECT_EQ(logic.State(), WindowState::Ready);
    EXPECT_TRUE(rig.view.IsEnabled(Control::ProgBut));
    EXPECT_EQ(logic.ImageFileName(), ready);
    EXPECT_EQ(rig.settings.values["fl"], ready);
    EXPECT_EQ(rig.view.panels[1], ready);
    EXPECT_EQ(logic.UnitType(), 1);
    EXPECT_FALSE(logic.LoadImage(badDate));
}

TEST(ShellLoadImage, OpenCommandRemembersTheFileAndStartsInItsFolder) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    const std::string path = rig.WriteImage("open.bin", ShellRig::Spec(7));
    rig.view.chosenFile = path;
    logic.Otwrz1Click();
    EXPECT_EQ(logic.State(), WindowState::Ready);
    EXPECT_EQ(rig.settings.values["fl"], path);
    EXPECT_EQ(rig.view.panels[1], path);
    EXPECT_TRUE(rig.view.IsEnabled(Control::ProgBut));

    rig.view.chosenFile.reset(); // cancelled: nothing changes
    logic.Otwrz1Click();
    EXPECT_EQ(rig.view.dialogFolders.back(), rig.dir.path().string());
    EXPECT_EQ(logic.State(), WindowState::Ready);
}

TEST(ShellLoadImage, CompleteSerialNumberMakesTheLoadReadRecords) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    logic.EdNrSerialChange("0012AB");
    EXPECT_FALSE(logic.SerialChanged());
    logic.EdNrSerialChange("0012AB34");
    EXPECT_TRUE(logic.SerialChanged());
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("k.bin", ShellRig::Spec(2, 4))));
    EXPECT_EQ(logic.Records().size(), 4u);
    EXPECT_FALSE(logic.SerialChanged());
    EXPECT_EQ(rig.view.Get(Control::InfoLabTx1), "Data are being analyzed");
    EXPECT_EQ(rig.view.Get(Control::InfoLabGrot), "-"); // counter 4 is the end-of-file probe
    EXPECT_EQ(rig.view.infoWindowShown, 1);
    EXPECT_FALSE(rig.view.infoWindowVisible);
}

TEST(ShellLoadImage, DamagedRecordIsReported) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    Text image = BuildImage(ShellRig::Spec(1, 3));
    image.resize(image.size() - 3); // the last record is cut short
    const std::string path = (rig.dir / "cut.bin").string();
    WriteImageFile(path, image);
    logic.EdNrSerialChange("00000001");
    EXPECT_FALSE(logic.LoadImage(path));
    EXPECT_EQ(rig.view.messages.back(), "Damaged file " + path + "  [2]");
}

// ---------------------------------------------------------------------------------------
// Address and serial-number entry

TEST(ShellEntry, KeyFilters) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    EXPECT_EQ(logic.AdrTxKeyPress('a'), 'A');
    EXPECT_EQ(logic.AdrTxKeyPress('7'), '7');
    EXPECT_EQ(logic.AdrTxKeyPress('g'), '\0');
    EXPECT_EQ(logic.AdrTxKeyPress('\b'), '\b');
    EXPECT_EQ(logic.EdNrSerialKeyPress('f'), 'f');
    EXPECT_EQ(logic.EdNrSerialKeyPress('Z'), '\0');
    EXPECT_EQ(logic.EdNrSerialKeyPress('\b'), '\b');
}

TEST(ShellEntry, AddressChangeStoresForTheUnitType) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    ASSERT_TRUE(logic.LoadImage(rig.WriteImage("k.bin", ShellRig::Spec(2))));
    logic.AdrTxChange("B");
    EXPECT_EQ(logic.UnitAddress(), 0x0Bu);
    EXPECT_EQ(rig.settings.values["adr_kkd"], "0B");
    EXPECT_EQ(rig.view.panels[2], "Adres : 0B");
    logic.AdrTxChange("");
    EXPECT_EQ(rig.settings.values["adr_kkd"], "00");
    // The edit keeps what the user typed; only a load writes into it.
    EXPECT_EQ(rig.view.Get(Control::AdrTx), "00");
}

// An address of 256 or more keeps its text: storing a shortened one would make the next
// session program another unit (0x10 for "100").
TEST(ShellEntry, TypedAddressSurvivesTheStoreAndTheNextLoad) {
    struct Case {
        Text typed, stored;
        std::uint32_t value, frameByte;
    };
    const Case cases[] = {{"FF", "FF", 0xFF, 0xFF},
                          {"100", "100", 0x100, 0x00},
                          {"101", "101", 0x101, 0x01},
                          {"xyz", "00", 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        ShellRig rig;
        MainWindowLogic& logic = rig.Start();
        const std::string image = rig.WriteImage("e.bin", ShellRig::Spec(1));
        ASSERT_TRUE(logic.LoadImage(image));
        logic.AdrTxChange(c.typed);
        EXPECT_EQ(rig.settings.values["adr_exp"], c.stored);
        EXPECT_EQ(rig.view.panels[2], "Adres : " + c.stored);
        EXPECT_EQ(logic.UnitAddress(), c.value);

        // The next session reads it back.
        ShellRig next;
        next.settings.values = rig.settings.values;
        MainWindowLogic& again = next.Start();
        ASSERT_TRUE(again.LoadImage(image));
        EXPECT_EQ(next.view.Get(Control::AdrTx), c.stored);
        EXPECT_EQ(again.UnitAddress(), c.value);
        EXPECT_EQ(again.BootAddress(), c.frameByte);
    }
}

TEST(ShellEntry, LeavingAnIncompleteSerialNumberShowsTheMaskError) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    EXPECT_TRUE(logic.EdNrSerialExit()); // not edited
    logic.EdNrSerialChange("12AB");
    EXPECT_FALSE(logic.EdNrSerialExit());
    ASSERT_EQ(rig.view.messages.size(), 1u);
    EXPECT_EQ(rig.view.messages[0],
              "Incorrect serial number for access controller.\rEnter correct address");
    logic.EdNrSerialChange("12AB34CD");
    EXPECT_TRUE(logic.EdNrSerialExit());
    // An emptied field is valid and means no serial number is inserted.
    logic.EdNrSerialChange("");
    EXPECT_TRUE(logic.EdNrSerialExit());
    EXPECT_EQ(rig.view.messages.size(), 1u);
    EXPECT_FALSE(logic.SerialChanged());
}

TEST(ShellEntry, ReadSerialFromTheImage) {
    ShellRig rig;
    ImageSpec spec = ShellRig::Spec(2, 2);
    ImageRecordSpec serial;
    serial.address = kSerialRecordAddress;
    serial.data = Text(11, '\0') + Text("\x12\x34\xAB\xCD", 4) + Text(5, '\0');
    serial.key = 0x4321;
    spec.records.push_back(serial);
    rig.settings.values["fl"] = rig.WriteImage("k.bin", spec);
    MainWindowLogic& logic = rig.Start();
    logic.ButRdSerialClick();
    EXPECT_EQ(logic.EdNrSerialText(), "1234ABCD");
    EXPECT_EQ(rig.view.Get(Control::EdNrSerial), "1234ABCD");
    EXPECT_TRUE(logic.SerialChanged());
    EXPECT_EQ(rig.view.log.size(), 3u); // one dump line per record
}

// ---------------------------------------------------------------------------------------
// Log

TEST(ShellLog, LongLogLosesItsOldestLines) {
    ShellRig rig;
    MainWindowLogic& logic = rig.Start();
    const Text line(98, 'x'); // 100 characters with its line break
    for (int i = 0; i < 340; ++i)
        logic.LogLine(line);
    EXPECT_EQ(rig.view.removedLines, 0);
    logic.LogLine("last");
    EXPECT_EQ(rig.view.removedLines, 51);
    EXPECT_EQ(logic.Log().Lines().size(), 290u);
    EXPECT_EQ(rig.view.log.size(), 290u);
    EXPECT_EQ(logic.Log().Lines().back(), "last");
    logic.Button2Click();
    EXPECT_TRUE(logic.Log().Lines().empty());
    EXPECT_TRUE(rig.view.log.empty());
}

} // namespace
} // namespace tarnik::testing
