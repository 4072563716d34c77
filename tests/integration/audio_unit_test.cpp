// The emulated audio verification unit: frames of count + 9 bytes, answers of 0xEE 0xEE
// and six bytes scrambled with the key state after the frame body.
#include "host_side.h"

#include <gtest/gtest.h>

namespace tarnik::sim::testing {
namespace {

constexpr std::uint8_t kAddress = 0x00;

std::uint8_t Check(const Text& bytes) {
    std::uint8_t check = 0xFF;
    for (const char c : bytes)
        check ^= static_cast<std::uint8_t>(c);
    return check;
}

struct AudioFrame {
    Text bytes;
    std::uint16_t keptKey;
};

// EE EE, scrambled body bytes 0 and 1, the key, scrambled body bytes 2 to the end.
AudioFrame Frame(std::uint8_t command, const Text& data, std::uint16_t key) {
    Text body = Bytes({static_cast<std::uint8_t>(data.size() + 7), kAddress, 0x08, command}) + data;
    body.push_back(AsChar(Check(body)));
    std::uint16_t k = key;
    const Text s = ScrambleRun(body, k);
    return {Bytes({0xEE, 0xEE}) + s.substr(0, 2) +
                Bytes({static_cast<std::uint8_t>(key >> 8), static_cast<std::uint8_t>(key)}) +
                s.substr(2),
            k};
}

Text Answer(std::uint8_t command, std::uint8_t status, std::uint16_t keptKey) {
    Text body = Bytes({6, kAddress, 0x08, command, status});
    body.push_back(AsChar(Check(body)));
    return Bytes({0xEE, 0xEE}) + ScrambleRun(body, keptKey);
}

class AudioUnitTest : public ::testing::Test {
protected:
    AudioUnitTest() {
        options.unitType = 5;
        options.image = S19Image(3);
    }
    Text Exchange(Session& s, std::uint8_t command, const Text& data = Text(),
                  std::uint32_t waitMs = 50) {
        const AudioFrame frame = Frame(command, data, nextKey_);
        nextKey_ = static_cast<std::uint16_t>(nextKey_ * 31 + 17);
        lastKept_ = frame.keptKey;
        return s.Send(frame.bytes, waitMs);
    }
    // Sends the command and checks that the answer carries the status.
    void Expect(Session& s, std::uint8_t command, const Text& data = Text(),
                std::uint8_t status = 0) {
        const Text rx = Exchange(s, command, data);
        EXPECT_EQ(rx, Answer(command, status, lastKept_)) << "command " << int(command);
    }
    Text RecordData(int i) const {
        const TLDane& r = (*options.image)[static_cast<std::size_t>(i)];
        std::uint16_t key = r.key;
        return DescrambleRun(r.programmingText, key);
    }
    void UpToProgramming(Session& s) {
        Expect(s, 0x01);
        Expect(s, 0x01); // the host sends each command once more after the answer
        Expect(s, 0x02);
        Expect(s, 0x01);
        EXPECT_EQ(Exchange(s, 0x21), ""); // erasing
        s.Wait(200);
        Expect(s, 0x21);
        Expect(s, 0x30);
    }

    UnitOptions options;
    std::uint16_t nextKey_ = 0x1001;
    std::uint16_t lastKept_ = 0;
};

TEST_F(AudioUnitTest, CorrectHostRunsTheWholeSequence) {
    Session s(options);
    UpToProgramming(s);
    // Record 0 is passed over by the loader.
    Expect(s, 0x31, RecordData(1));
    Expect(s, 0x31, RecordData(1));
    Expect(s, 0x31, RecordData(2));
    Expect(s, 0x32);
    Expect(s, 0x40);
    Expect(s, 0x41, RecordData(1));
    Expect(s, 0x41, RecordData(2));
    Expect(s, 0x42);
    Expect(s, 0x03);
    Expect(s, 0x03);
    EXPECT_TRUE(s.unit->Finished());
    EXPECT_TRUE(s.unit->HostCorrect()) << ReportToJson(s.Report(), false);
    ASSERT_EQ(s.Report().records.size(), 2u);
    EXPECT_EQ(s.Report().records[0].index, 1);
    EXPECT_EQ(s.Report().records[1].matches, true);
    EXPECT_EQ(s.Report().records[0].attempts, 2);
}

TEST_F(AudioUnitTest, VerifyMismatchAndEraseFailureAnswerWithAStatus) {
    options.faults.verifyMismatch = 2;
    Session s(options);
    UpToProgramming(s);
    Expect(s, 0x31, RecordData(1));
    Expect(s, 0x31, RecordData(2));
    Expect(s, 0x32);
    Expect(s, 0x40);
    Expect(s, 0x41, RecordData(1));
    Expect(s, 0x41, RecordData(2), 0x01);

    options.faults = {};
    options.faults.eraseFail = true;
    Session e(options);
    Expect(e, 0x01);
    Expect(e, 0x02);
    Expect(e, 0x01);
    Exchange(e, 0x21);
    e.Wait(200);
    Expect(e, 0x21, Text(), 0x20);
}

TEST_F(AudioUnitTest, CatchesAWrongKeyAWrongRecordAndCommandsOutOfOrder) {
    Session s(options);
    AudioFrame frame = Frame(0x01, Text(), 0x4321);
    frame.bytes[5] = AsChar(0x22); // the key field no longer matches the scrambling
    EXPECT_EQ(s.Send(frame.bytes, 600), "");
    EXPECT_GE(s.Violations(), 1u);

    Session order(options);
    EXPECT_EQ(Exchange(order, 0x30), "");
    EXPECT_TRUE(order.ViolationMentions("command 30 out of order; expected 01"));

    Session data(options);
    UpToProgramming(data);
    Text wrong = RecordData(1);
    wrong[6] = AsChar(0x00);
    Exchange(data, 0x31, wrong);
    EXPECT_EQ(data.Report().records[0].matches, false);
    EXPECT_TRUE(data.ViolationMentions("record 1 differs from the image"));
}

} // namespace
} // namespace tarnik::sim::testing
