// The emulated network modules: handshakes, identification with version and date, the
// bootloader at 57600 baud, and the speed switches the host must make.
#include "host_side.h"

#include <gtest/gtest.h>

namespace tarnik::sim::testing {
namespace {

constexpr std::uint8_t kAddress = 0x07;
const LineSettings kBoot = Line(57600, paNone, sb2_0);

UnitOptions Module(int type) {
    UnitOptions options;
    options.unitType = type;
    options.address = kAddress;
    options.image = NetImage(2);
    options.version = {1, 0, 3};
    return options;
}

// Boot identification, erasure, both records, end of programming: the bootloader part that
// every model code shares.
void ProgramInBootloader(Session& s, const RecordList& image, const Text& bootAnswer) {
    s.line = kBoot;
    ExpectAnswer(s, kAddress, 0x2468, Bytes({0x00}), bootAnswer);
    ExpectAnswer(s, kAddress, 0x1357, Bytes({0x01}), Bytes({0x02}), 300);
    EXPECT_EQ(s.Send(RecordFrame(kAddress, image[0])),
              Expected(kAddress, image[0].key, Bytes({0x12})));
    EXPECT_EQ(s.Send(RecordFrame(kAddress, image[1])),
              Expected(kAddress, image[1].key, Bytes({0x01})));
    ExpectAnswer(s, kAddress, 0x0F0F, Bytes({0x10}), Bytes({0x10}));
}

TEST(NetworkUnit, TypeFourIdentifiesAtNineteenThousandAndBootsAtFiftySevenThousand) {
    UnitOptions options = Module(4);
    options.date = UnitDate{2009, 3, 25};
    Session s(options);
    s.line = Line(19200, paNone, sb2_0);
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x80)),
              PlainFrame(0xFF, kAddress, 0x80, Bytes({4, 1, 0, 3, 0x25, 0x03, 0x20, 0x09})));
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x04)), "");
    s.line = kBoot;
    ExpectAnswer(s, kAddress, 0x0A0B, Bytes({0x7B, 0x3D, 0x19}), Bytes({0x19, 0x3D, 0x7B}));
    // The restart command keeps alternating with the connect command; the bootloader
    // ignores it.
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x04)), "");
    ProgramInBootloader(s, *options.image, Bytes({4, 1, 0, 3, 0, 0}));
    EXPECT_TRUE(s.unit->Finished());
    EXPECT_TRUE(s.unit->HostCorrect()) << ReportToJson(s.Report(), false);
    EXPECT_EQ(s.Report().records[1].matches, true);
}

TEST(NetworkUnit, CatchesFramesAtTheWrongSpeed) {
    Session s(Module(4));
    // Identification without the switch from 4800 to 19200.
    s.line = Line(4800, paEven, sb2_0);
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x80)), "");
    EXPECT_TRUE(s.ViolationMentions("4800 baud"));
    s.line = Line(19200, paNone, sb2_0);
    s.Send(PlainFrame(0xFF, kAddress, 0x04));
    // The connect command without the switch to 57600.
    EXPECT_EQ(s.Send(Command(kAddress, 0x0A0B, Bytes({0x7B, 0x3D, 0x19}))), "");
    EXPECT_TRUE(s.ViolationMentions("frame sent at 19200 baud"));
    EXPECT_FALSE(s.unit->HostCorrect());

    // Read in one piece with the restart command, the connect command may have left after
    // the switch: it is not understood, but it is no fault of the host.
    Session together(Module(4));
    together.line = Line(19200, paNone, sb2_0);
    together.Send(PlainFrame(0xFF, kAddress, 0x04) +
                  Command(kAddress, 0x0A0B, Bytes({0x7B, 0x3D, 0x19})));
    EXPECT_EQ(together.Violations(), 0u);
}

TEST(NetworkUnit, RestartCommandMayBeReadAfterTheSwitchToTheBootloaderSpeed) {
    // The loader reconfigures its port right after the restart command; bytes read after
    // the switch count at the settings seen before it, but only for that switch.
    Session s(Module(4));
    const LineSettings app = Line(19200, paNone, sb2_0);
    EXPECT_EQ(s.unit->ArrivalLine(app, kBoot), app);
    EXPECT_EQ(s.unit->ArrivalLine(app, Line(9600)), Line(9600));
    EXPECT_EQ(s.unit->ArrivalLine(Line(4800, paEven, sb2_0), kBoot), kBoot);
    s.line = app;
    s.Send(PlainFrame(0xFF, kAddress, 0x04));
    EXPECT_EQ(s.unit->ArrivalLine(app, kBoot), kBoot);
}

TEST(NetworkUnit, TypeNineHandshakeAtFourThousandEightHundredThenBootloader) {
    UnitOptions options = Module(9);
    options.bootTypeBit7 = true;
    Session s(options);
    s.line = Line(4800, paEven, sb2_0);
    EXPECT_EQ(s.Send(Bytes({kAddress}) + "ISE"), Bytes({kAddress}) + "ise");
    ProgramInBootloader(s, *options.image, Bytes({0x89, 1, 0, 3, 0, 0, 0}));
    EXPECT_TRUE(s.unit->HostCorrect()) << ReportToJson(s.Report(), false);

    // A host that talks to the bootloader before switching to 57600.
    Session slow(options);
    slow.line = Line(4800, paEven, sb2_0);
    slow.Send(Bytes({kAddress}) + "ISE");
    EXPECT_EQ(slow.Send(Command(kAddress, 0x2468, Bytes({0x00}))), "");
    EXPECT_TRUE(slow.ViolationMentions("listens at 57600 baud"));
}

TEST(NetworkUnit, TypeFifteenHandshakeAndForeignTypeAtBoot) {
    UnitOptions options = Module(15);
    Session s(options);
    s.line = kBoot;
    EXPECT_EQ(s.Send(Bytes({kAddress}) + "ISE"), "");
    EXPECT_TRUE(s.ViolationMentions("not this unit's handshake") ||
                s.ViolationMentions("sent to a unit of type 15"));
    EXPECT_EQ(s.Send(Bytes({kAddress}) + "IST"), Bytes({kAddress}) + "ist");

    options.faults.wrongType = true;
    Session wrong(options);
    wrong.line = kBoot;
    wrong.Send(Bytes({kAddress}) + "IST");
    ExpectAnswer(wrong, kAddress, 0x2468, Bytes({0x00}), Bytes({16, 1, 0, 3, 0, 0, 0}));
    EXPECT_TRUE(wrong.unit->HostCorrect());
    wrong.Send(Command(kAddress, 0x1357, Bytes({0x01})), 300);
    EXPECT_TRUE(wrong.ViolationMentions("reported another unit type"));
}

TEST(NetworkUnit, ActiveBootloaderExcusesTriesAtTheApplicationSpeed) {
    UnitOptions options = Module(9);
    options.faults.bootloaderActive = true;
    Session s(options);
    s.line = Line(4800, paEven, sb2_0);
    EXPECT_EQ(s.Send(Bytes({kAddress}) + "ISE"), "");
    s.line = kBoot;
    ExpectAnswer(s, kAddress, 0x0A0B, Bytes({0x7B, 0x3D, 0x19}), Bytes({0x19, 0x3D, 0x7B}));
    EXPECT_TRUE(s.Report().violations.empty()) << ReportToJson(s.Report(), false);
}

TEST(NetworkUnit, WrongRecordAndEarlyEndAreViolations) {
    const UnitOptions options = Module(15);
    Session s(options);
    s.line = kBoot;
    s.Send(Bytes({kAddress}) + "IST");
    s.Send(Command(kAddress, 0x2468, Bytes({0x00})));
    s.Send(Command(kAddress, 0x1357, Bytes({0x01})), 300);
    const TLDane wrong =
        NetRecord((*options.image)[0].address, Text(32, 'X'), (*options.image)[0].key);
    s.Send(RecordFrame(kAddress, wrong));
    EXPECT_EQ(s.Report().records[0].matches, false);
    s.Send(Command(kAddress, 0x0F0F, Bytes({0x10})));
    EXPECT_TRUE(s.ViolationMentions("after 1 of 2 records"));
}

} // namespace
} // namespace tarnik::sim::testing
