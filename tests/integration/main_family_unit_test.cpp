// The emulated main-family unit against a host written out by hand: the answers must be
// exactly what a correct loader expects, and the report must catch a wrong key, a wrong
// record byte and a wrong line speed.
#include "host_side.h"

#include <gtest/gtest.h>

namespace tarnik::sim::testing {
namespace {

constexpr std::uint8_t kAddress = 0x05;
const Text kConnect = Bytes({0x7B, 0x3D, 0x19});
const Text kConnectAnswer = Bytes({0x19, 0x3D, 0x7B});

UnitOptions Expander(int records = 3) {
    UnitOptions options;
    options.unitType = 1;
    options.address = kAddress;
    options.image = S19Image(records);
    return options;
}

// Erase statuses as the host reads them: the first EE EE answer, the byte after the address
// descrambled with the frame key, which moves on by every progress status.
std::vector<int> ReadStatuses(Text rx, std::uint16_t key) {
    std::vector<int> statuses;
    for (;;) {
        const std::size_t p = rx.find(Bytes({0xEE, 0xEE}));
        if (p == Text::npos || rx.size() < p + 4) break;
        Text plain;
        UnscrambleText(rx.substr(p + 3, 1), 1, plain, key);
        statuses.push_back(ByteAt(plain, 0));
        rx.erase(0, p + 4);
        if (statuses.back() != 1 && statuses.back() != 2) break;
        Text scrambled;
        key = ScrambleText(plain, 1, scrambled, key);
    }
    return statuses;
}

// A correct host up to the answered start of programming.
void BringUp(Session& s) {
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x80)),
              PlainFrame(0xFF, kAddress, 0x80, Bytes({1})));
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x04), 100), "");
    std::uint16_t k = 0;
    ExpectAnswer(s, kAddress, 0x4242, kConnect, kConnectAnswer);
    for (std::uint8_t block = 1; block <= 2; ++block) {
        const std::uint16_t key = static_cast<std::uint16_t>(0x1000 * block + 7);
        const Text rx = s.Send(Command(kAddress, key, Bytes({block}), &k), 300);
        EXPECT_EQ(ReadStatuses(rx, k), std::vector<int>{3});
    }
    ExpectAnswer(s, kAddress, 0x7777, Bytes({0x12}), Bytes({0x12}));
}

void ProgramAll(Session& s, const RecordList& image) {
    for (const TLDane& r : image)
        EXPECT_EQ(s.Send(RecordFrame(kAddress, r)), Expected(kAddress, r.key, Bytes({0x4F, 0x01})));
    ExpectAnswer(s, kAddress, 0x3131, Bytes({0x45, 0x4E}), Bytes({0x45, 0x4E}));
}

TEST(MainFamilyUnit, CorrectHostProgramsVerifiesAndStartsTheUnit) {
    const UnitOptions options = Expander();
    Session s(options);
    BringUp(s);
    ProgramAll(s, *options.image);
    for (const TLDane& r : *options.image)
        EXPECT_EQ(s.Send(RecordFrame(kAddress, r, true)),
                  Expected(kAddress, r.key, Bytes({0x13, 0x00})));
    EXPECT_EQ(s.Send(Command(kAddress, 0x5150, Bytes({0x10}))), "");

    EXPECT_TRUE(s.unit->Finished());
    EXPECT_TRUE(s.unit->HostCorrect()) << ReportToJson(s.Report(), false);
    ASSERT_EQ(s.Report().records.size(), 3u);
    ASSERT_EQ(s.Report().verifications.size(), 3u);
    for (const RecordEntry& r : s.Report().records)
        EXPECT_EQ(r.matches, true);
    EXPECT_EQ(s.Report().frames.front().line, Line(38400));
}

TEST(MainFamilyUnit, EraseProgressStatusesFollowTheHostsKeyChain) {
    UnitOptions options = Expander();
    options.faults.eraseProgress = {1, 1, 2};
    options.faults.bootloaderActive = true;
    Session s(options);
    std::uint16_t k = 0;
    s.Send(Command(kAddress, 0x0102, kConnect));
    const Text rx = s.Send(Command(kAddress, 0xBEEF, Bytes({0x01}), &k), 600);
    EXPECT_EQ(ReadStatuses(rx, k), (std::vector<int>{1, 1, 2, 3}));

    options.faults.eraseFail = true;
    Session failing(options);
    failing.Send(Command(kAddress, 0x0102, kConnect));
    const Text bad = failing.Send(Command(kAddress, 0xBEEF, Bytes({0x01}), &k), 600);
    EXPECT_EQ(ReadStatuses(bad, k), (std::vector<int>{1, 1, 2, 0x20}));
    // Programming after a failed erasure is the host's mistake.
    failing.Send(Command(kAddress, 0x4444, Bytes({0x12})));
    EXPECT_TRUE(failing.ViolationMentions("before both memory blocks were erased"));
}

TEST(MainFamilyUnit, CatchesAWrongKey) {
    const UnitOptions options = Expander();
    Session s(options);
    BringUp(s);
    // The payload scrambled under another key than the one in the header.
    Text frame = Header(kAddress, 0x1111);
    std::uint16_t other = 0x2222;
    frame += ScrambleRun(Bytes({0x45, 0x4E}), other);
    EXPECT_EQ(s.Send(frame, 600), "");
    EXPECT_FALSE(s.unit->HostCorrect());
    EXPECT_GE(s.Violations(), 1u);

    // A record under a key that is not the record's own: the unit cannot read it, the
    // report names the key.
    Session r(options);
    BringUp(r);
    const TLDane& first = (*options.image)[0];
    const auto wrongKey = static_cast<std::uint16_t>(first.key ^ 0x0001);
    EXPECT_EQ(r.Send(Header(kAddress, wrongKey) + first.programmingText, 600), "");
    ASSERT_EQ(r.Report().records.size(), 1u);
    EXPECT_EQ(r.Report().records[0].matches, false);
    EXPECT_TRUE(r.ViolationMentions("frame key")) << ReportToJson(r.Report(), false);
}

TEST(MainFamilyUnit, CatchesAWrongRecordByte) {
    const UnitOptions options = Expander();
    Session s(options);
    BringUp(s);
    const RecordList& image = *options.image;
    s.Send(RecordFrame(kAddress, image[0]));
    // Same key, a good checksum, one data byte different: the unit takes it, the report
    // tells it apart from the image.
    Text data(16, AsChar(0x31));
    data[9] = AsChar(0x99);
    const TLDane wrong = S19Record(image[1].address, data, image[1].key);
    EXPECT_EQ(s.Send(RecordFrame(kAddress, wrong)),
              Expected(kAddress, wrong.key, Bytes({0x4F, 0x01})));
    ASSERT_EQ(s.Report().records.size(), 2u);
    EXPECT_EQ(s.Report().records[1].matches, false);
    EXPECT_NE(s.Report().records[1].note.find("byte 13"), std::string::npos);
    EXPECT_TRUE(s.ViolationMentions("record 1 differs from the image"));
}

TEST(MainFamilyUnit, CatchesAWrongLineSpeed) {
    Session s(Expander());
    s.line = Line(9600);
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x80)), "");
    EXPECT_TRUE(s.ViolationMentions("9600 baud"));
    s.line = Line(38400, paNone, sb2_0);
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x80)), "");
    EXPECT_EQ(s.Violations(), 2u);
    s.line = Line(38400);
    EXPECT_NE(s.Send(PlainFrame(0xFF, kAddress, 0x80)), "");
}

TEST(MainFamilyUnit, FindsFramesSplitJoinedOrAfterJunk) {
    Session s(Expander());
    const Text identify = PlainFrame(0xFF, kAddress, 0x80);
    Text rx;
    for (const char c : identify)
        rx += s.Send(Text(1, c), 2);
    EXPECT_EQ(rx, PlainFrame(0xFF, kAddress, 0x80, Bytes({1})));

    const Text serial = PlainFrame(0xFF, kAddress, 0x05);
    EXPECT_EQ(s.Send(identify + serial), PlainFrame(0xFF, kAddress, 0x80, Bytes({1})) +
                                             PlainFrame(0xFF, kAddress, 0x05, Bytes({0, 0, 0, 1})));
    EXPECT_TRUE(s.Report().violations.empty());

    EXPECT_EQ(s.Send(Bytes({0x00, 0x17}) + identify), PlainFrame(0xFF, kAddress, 0x80, Bytes({1})));
    EXPECT_EQ(s.Report().junkBytes, 2u);
}

TEST(MainFamilyUnit, DropAckHangUpAndVerifyMismatchFaults) {
    UnitOptions options = Expander();
    options.faults.dropAck = 1;
    options.faults.verifyMismatch = 2;
    Session s(options);
    BringUp(s);
    const RecordList& image = *options.image;
    const Text ack1 = Expected(kAddress, image[1].key, Bytes({0x4F, 0x01}));
    s.Send(RecordFrame(kAddress, image[0]));
    EXPECT_EQ(s.Send(RecordFrame(kAddress, image[1])), "");
    EXPECT_EQ(s.Send(RecordFrame(kAddress, image[1])), ack1);
    EXPECT_EQ(s.Report().records[1].attempts, 2);
    s.Send(RecordFrame(kAddress, image[2]));
    s.Send(Command(kAddress, 0x3131, Bytes({0x45, 0x4E})));
    s.Send(RecordFrame(kAddress, image[0], true));
    s.Send(RecordFrame(kAddress, image[1], true));
    EXPECT_EQ(s.Send(RecordFrame(kAddress, image[2], true)),
              Expected(kAddress, image[2].key, Bytes({0x13, 0x01})));
    EXPECT_TRUE(s.unit->HostCorrect()); // a correct host stops here
    s.Send(Command(kAddress, 0x5150, Bytes({0x10})));
    EXPECT_TRUE(s.ViolationMentions("verification failed"));

    options.faults = {};
    options.faults.hangupAtRecord = 1;
    Session h(options);
    BringUp(h);
    h.Send(RecordFrame(kAddress, image[0]));
    EXPECT_FALSE(h.unit->HungUp());
    EXPECT_EQ(h.Send(RecordFrame(kAddress, image[1])), "");
    EXPECT_TRUE(h.unit->HungUp());
    EXPECT_TRUE(h.unit->HostCorrect());
}

TEST(MainFamilyUnit, ApplicationFaultsWrongTypeSilentAndActiveBootloader) {
    UnitOptions options = Expander();
    options.faults.wrongType = true;
    Session wrong(options);
    EXPECT_EQ(wrong.Send(PlainFrame(0xFF, kAddress, 0x80)),
              PlainFrame(0xFF, kAddress, 0x80, Bytes({2})));
    EXPECT_TRUE(wrong.unit->HostCorrect());
    wrong.Send(PlainFrame(0xFF, kAddress, 0x04));
    EXPECT_TRUE(wrong.ViolationMentions("reported another unit type"));

    options.faults = {};
    options.faults.silent = true;
    Session silent(options);
    EXPECT_EQ(silent.Send(PlainFrame(0xFF, kAddress, 0x80)), "");
    EXPECT_TRUE(silent.unit->HostCorrect());

    options.faults = {};
    options.faults.bootloaderActive = true;
    Session active(options);
    EXPECT_EQ(active.Send(PlainFrame(0xFF, kAddress, 0x80)), "");
    ExpectAnswer(active, kAddress, 0x9999, kConnect, kConnectAnswer);
}

TEST(MainFamilyUnit, NoiseAndAnswerDelayKeepTheAnswersIntact) {
    UnitOptions options = Expander();
    options.faults.noise = true;
    options.faults.answerDelayMs = 300;
    Session s(options);
    EXPECT_EQ(s.Send(PlainFrame(0xFF, kAddress, 0x80), 250), "");
    const Text rx = s.Wait(100);
    const Text reply = PlainFrame(0xFF, kAddress, 0x80, Bytes({1}));
    ASSERT_EQ(rx.rfind(reply, 0), 0u);
    EXPECT_GT(rx.size(), reply.size());
    for (const char c : rx.substr(reply.size())) {
        EXPECT_NE(ByteAt(Text(1, c), 0), 0xEE);
        EXPECT_NE(ByteAt(Text(1, c), 0), 0xFF);
    }
}

TEST(MainFamilyUnit, DuplicateAnswersForeignAddressAndNoiseRate) {
    const Text reply = PlainFrame(0xFF, kAddress, 0x80, Bytes({1}));
    UnitOptions options = Expander();
    options.faults.duplicateAnswers = true;
    Session twice(options);
    EXPECT_EQ(twice.Send(PlainFrame(0xFF, kAddress, 0x80)), reply + reply);

    // The unit still listens to its own address but answers with the next one, its sum
    // byte right for that address; a correct host can never finish against it.
    options.faults = {};
    options.faults.foreignAddress = true;
    Session foreign(options);
    EXPECT_EQ(foreign.Send(PlainFrame(0xFF, kAddress, 0x80)),
              PlainFrame(0xFF, kAddress + 1, 0x80, Bytes({1})));
    EXPECT_TRUE(options.faults.BlockCompletion());

    // At a rate below 100 % some answers come clean and some with junk behind them.
    options.faults = {};
    options.faults.noise = true;
    options.faults.noisePercent = 50;
    Session noisy(options);
    int clean = 0;
    int junk = 0;
    for (int i = 0; i < 40; ++i) {
        const Text rx = noisy.Send(PlainFrame(0xFF, kAddress, 0x80));
        ASSERT_EQ(rx.rfind(reply, 0), 0u);
        (rx.size() == reply.size() ? clean : junk) += 1;
    }
    EXPECT_GT(clean, 5);
    EXPECT_GT(junk, 5);
}

TEST(MainFamilyUnit, WireTimeDelaysDeliveryAndAnswer) {
    UnitOptions options = Expander();
    options.unitType = 0;
    options.address = 0;
    options.wire = true;
    Session s(options);
    s.line = Line(9600);
    // 6 bytes in and 7 bytes out at 10 bits a byte: 7 ms and 8 ms on the wire, 2 ms between.
    EXPECT_EQ(s.Send(PlainFrame(0xFF, 0, 0x80), 16), "");
    EXPECT_EQ(s.Wait(1), PlainFrame(0xFF, 0, 0x80, Bytes({0})));
    // Even parity and a second stop bit make 12 bits a byte.
    EXPECT_EQ(WireTimeMs(100, Line(4800, paEven, sb2_0)), 250u);
}

TEST(MainFamilyUnit, TypeZeroRequestAndTypeThreeMarker) {
    UnitOptions options = Expander();
    options.unitType = 0;
    options.address = 0;
    Session zero(options);
    zero.line = Line(9600);
    zero.Send(PlainFrame(0xFF, 0, 0x04), 100);
    EXPECT_TRUE(zero.ViolationMentions("FF FF 02 0E 0E"));
    EXPECT_EQ(zero.Send(Command(0, 0x1000, kConnect)), "");
    zero.Send(Bytes({0xFF, 0xFF, 0x02, 0x0E, 0x0E}), 100);
    ExpectAnswer(zero, 0, 0x2000, kConnect, kConnectAnswer);

    options.unitType = 3;
    Session three(options);
    EXPECT_EQ(three.Send(PlainFrame(0xFF, 0, 0x80)), "");
    EXPECT_TRUE(three.ViolationMentions("uses DD DD"));
    EXPECT_EQ(three.Send(PlainFrame(0xDD, 0, 0x80)), PlainFrame(0xDD, 0, 0x80, Bytes({3})));
}

TEST(MainFamilyUnit, SerialRecordMatchesWithTheInsertedSerialNumber) {
    UnitOptions options = Expander(1);
    options.image->push_back(S19Record(kSerialRecordAddress, Text(20, AsChar(0x00)), 0x5A5A));
    Session s(options);
    BringUp(s);
    s.Send(RecordFrame(kAddress, (*options.image)[0]));
    Text data(20, AsChar(0x00));
    data.replace(11, 4, Bytes({0x12, 0x34, 0x56, 0x78}));
    const TLDane patched = S19Record(kSerialRecordAddress, data, 0x5A5A);
    s.Send(RecordFrame(kAddress, patched));
    ASSERT_EQ(s.Report().records.size(), 2u);
    EXPECT_EQ(s.Report().records[1].matches, true);
    EXPECT_EQ(s.Report().records[1].note, "serial number 12345678");
    // The verification text carries the inserted serial number too.
    s.Send(Command(kAddress, 0x3131, Bytes({0x45, 0x4E})));
    s.Send(RecordFrame(kAddress, (*options.image)[0], true));
    EXPECT_EQ(s.Send(RecordFrame(kAddress, patched, true)),
              Expected(kAddress, patched.key, Bytes({0x13, 0x00})));
    EXPECT_TRUE(s.Report().violations.empty()) << ReportToJson(s.Report(), false);
}

TEST(MainFamilyUnit, StepsOutOfOrderAreViolations) {
    UnitOptions options = Expander();
    options.faults.bootloaderActive = true;
    Session s(options);
    s.Send(Command(kAddress, 0x0102, kConnect));
    s.Send(Command(kAddress, 0x0103, Bytes({0x02})), 200);
    EXPECT_TRUE(s.ViolationMentions("block 2 erased before block 1"));
    s.Send(RecordFrame(kAddress, (*options.image)[0]));
    EXPECT_TRUE(s.ViolationMentions("record before the start of programming"));
    s.Send(Command(kAddress, 0x0104, Bytes({0x45, 0x4E})));
    EXPECT_TRUE(s.ViolationMentions("after 1 of 3 records"));
    s.Send(Command(kAddress, 0x0105, Bytes({0x10})));
    s.Send(Command(kAddress, 0x0106, kConnect));
    EXPECT_TRUE(s.ViolationMentions("after the start of the application"));
}

} // namespace
} // namespace tarnik::sim::testing
