#include "programmers/bootloader_frames.h"
#include "support/bytes.h"

#include "tools/hexcodec.h"
#include "tools/scrambler.h"

#include <gtest/gtest.h>

namespace tarnik {
namespace {

using tarnik::testing::Bytes;

std::uint16_t HeaderKey(const Text& frame) {
    return static_cast<std::uint16_t>(ByteAt(frame, 3) << 8 | ByteAt(frame, 4));
}

TEST(CommandFrame, CarriesAddressKeyAndScrambledPayloadAndExpectsContinuedKeyAnswer) {
    FrameState state;
    KeyGenerator keys(7);
    const BuiltFrame built =
        BuildCommandFrame(state, keys, 0x2A, frame_format::kConnect, answer_payload::kConnect);
    ASSERT_TRUE(built.isNew);
    ASSERT_EQ(built.frame.size(), 8u);
    EXPECT_EQ(built.frame.substr(0, 3), Bytes({0xEE, 0xEE, 0x2A}));

    const std::uint16_t key = HeaderKey(built.frame);
    EXPECT_LE(key, 0xFFFE);
    Text payload;
    UnscrambleText(built.frame.substr(5), 1, payload, key);
    EXPECT_EQ(payload, Bytes({0x7B, 0x3D, 0x19}));

    Text ignored;
    const std::uint16_t continued = ScrambleText(payload, 1, ignored, key);
    EXPECT_EQ(state.frameKey, continued);
    EXPECT_EQ(state.expectedAnswer, ScrambledAnswer(0x2A, Bytes({0x19, 0x3D, 0x7B}), continued));
    EXPECT_FALSE(AnswerReceived(Bytes({0xEE, 0xEE, 0x2A, 0x19, 0x3D, 0x7B}), state));
    // Noise and an echo of the frame before the answer do not hide it.
    EXPECT_TRUE(AnswerReceived(Bytes({0x00, 0x55}) + built.frame + state.expectedAnswer, state));
}

TEST(CommandFrame, IsBuiltOncePerStepAndGetsANewKeyAfterAReset) {
    FrameState state;
    KeyGenerator keys(99);
    EXPECT_EQ(state.expectedAnswer, "xxxxx");
    const BuiltFrame first = BuildCommandFrame(state, keys, 1, frame_format::kStartProgramming,
                                               answer_payload::kStartProgramming);
    const BuiltFrame again = BuildCommandFrame(state, keys, 1, frame_format::kStartProgramming,
                                               answer_payload::kStartProgramming);
    EXPECT_FALSE(again.isNew);
    EXPECT_EQ(again.frame, first.frame);

    state.Reset();
    EXPECT_EQ(state.frameKey, -1);
    EXPECT_EQ(state.expectedAnswer, "xxxxx");
    const BuiltFrame next = BuildCommandFrame(state, keys, 1, frame_format::kStartProgramming,
                                              answer_payload::kStartProgramming);
    EXPECT_TRUE(next.isNew);
    EXPECT_NE(HeaderKey(next.frame), HeaderKey(first.frame));
}

TEST(CommandFrame, EmptyAnswerPayloadExpectsOnlyTheHeader) {
    FrameState state;
    KeyGenerator keys(3);
    BuildCommandFrame(state, keys, 0x07, frame_format::kStartApplication, {});
    EXPECT_EQ(state.expectedAnswer, Bytes({0xEE, 0xEE, 0x07}));
}

TEST(FrameAddress, OnlyTheLowByteGoesIntoFramesAsTwoDigits) {
    EXPECT_EQ(FillFrameFormat(frame_format::kConnect, 0x1A5, "BEEF"), "EEEEa5BEEF7B3D19");
    EXPECT_EQ(FillFrameFormat(frame_format::kIdentifyQuery, 0x3, "DDDD"), "DDDD030280");
    EXPECT_EQ(AddressHexUpper(0x10A), "0A");

    FrameState state;
    KeyGenerator keys(5);
    const Text frame =
        BuildCommandFrame(state, keys, 0x1A5, frame_format::kConnect, answer_payload::kConnect)
            .frame;
    EXPECT_EQ(frame.size(), 8u);
    EXPECT_EQ(ByteAt(frame, 2), 0xA5);
    EXPECT_EQ(state.expectedAnswer.substr(0, 3), Bytes({0xEE, 0xEE, 0xA5}));
}

TEST(RecordFrame, CarriesTheRecordKeyAndTextAndExpectsAnAnswerUnderTheRecordKey) {
    const Text text = Bytes({0x10, 0x20, 0x30, 0x40, 0x50, 0x60});
    FrameState state;
    const BuiltFrame built =
        BuildRecordFrame(state, 0x05, 0xA1B2, text, answer_payload::kRecordProgrammed);
    EXPECT_TRUE(built.isNew);
    EXPECT_EQ(built.frame, Bytes({0xEE, 0xEE, 0x05, 0xA1, 0xB2}) + text);
    EXPECT_EQ(state.expectedAnswer, ScrambledAnswer(0x05, Bytes({0x4F, 0x01}), 0xA1B2));

    const BuiltFrame again =
        BuildRecordFrame(state, 0x05, 0x0001, Bytes({1, 2}), answer_payload::kRecordProgrammed);
    EXPECT_FALSE(again.isNew);
    EXPECT_EQ(again.frame, built.frame);
}

TEST(EraseFrame, EverySendDrawsANewKeyAndLeavesTheContinuedKey) {
    FrameState state;
    KeyGenerator keys(11);
    const Text first = BuildEraseFrame(state, keys, 0x01, 2);
    const std::int32_t firstChain = state.frameKey;
    const Text second = BuildEraseFrame(state, keys, 0x01, 2);
    EXPECT_NE(HeaderKey(first), HeaderKey(second));
    EXPECT_EQ(state.expectedAnswer, "xxxxx");
    EXPECT_TRUE(state.cachedFrame.empty());

    Text payload;
    UnscrambleText(second.substr(5), 1, payload, HeaderKey(second));
    EXPECT_EQ(payload, Bytes({0x02}));
    Text ignored;
    EXPECT_EQ(state.frameKey, ScrambleText(payload, 1, ignored, HeaderKey(second)));
    EXPECT_NE(firstChain, state.frameKey);
}

TEST(EraseStatus, ProgressStatusesAdvanceTheKeyChain) {
    FrameState state;
    state.frameKey = 0x4321;
    // The unit scrambles each status with the chain continued by the previous one.
    std::uint16_t unitKey = 0x4321;
    Text rx = Bytes({0x99});
    for (int status : {1, 1, 2, 3}) {
        Text s;
        const std::uint16_t next = ScrambleText(Bytes({status}), 1, s, unitKey);
        if (status != 3) unitKey = next;
        rx += Bytes({0xEE, 0xEE, 0x01}) + s;
    }
    std::vector<int> read;
    while (auto status = ReadEraseStatus(rx, state))
        read.push_back(*status);
    EXPECT_EQ(read, (std::vector<int>{1, 1, 2, 3}));
    EXPECT_EQ(state.frameKey, unitKey);
    EXPECT_TRUE(rx.empty());
}

TEST(EraseStatus, WaitsForTheStatusByteAfterTheHeader) {
    FrameState state;
    state.frameKey = 0x1111;
    Text rx = Bytes({0xEE, 0xEE, 0x01});
    EXPECT_FALSE(ReadEraseStatus(rx, state));
    EXPECT_EQ(rx.size(), 3u);
    Text s;
    ScrambleText(Bytes({0x20}), 1, s, 0x1111);
    rx += s + Bytes({0x42});
    EXPECT_EQ(ReadEraseStatus(rx, state), 0x20);
    EXPECT_EQ(rx, Bytes({0x42}));
    EXPECT_EQ(state.frameKey, 0x1111); // only statuses 1 and 2 move the chain
}

TEST(PlainFrame, MarkerAddressLengthCommandAndSum) {
    EXPECT_EQ(BuildPlainFrame(frame_format::kIdentifyQuery, "FFFF", 0x05),
              Bytes({0xFF, 0xFF, 0x05, 0x02, 0x80, 0x85}));
    EXPECT_EQ(BuildPlainFrame(frame_format::kSerialQuery, "DDDD", 0x105),
              Bytes({0xDD, 0xDD, 0x05, 0x02, 0x05, 0xC6}));
    EXPECT_EQ(HexToBytes(frame_format::kBootloaderRequestType0, true),
              Bytes({0xFF, 0xFF, 0x02, 0x0E, 0x0E}));
    EXPECT_EQ(PlainMarkerForUnitType(3).marker, Bytes({0xDD, 0xDD}));
    EXPECT_EQ(PlainMarkerForUnitType(0).prefixHex, "FFFF");
}

TEST(Percent, RoundsHalvesToEven) {
    EXPECT_EQ(PercentHalfEven(0, 4), 0);
    EXPECT_EQ(PercentHalfEven(3, 4), 75);
    EXPECT_EQ(PercentHalfEven(1, 8), 12); // 12.5
    EXPECT_EQ(PercentHalfEven(3, 8), 38); // 37.5
    EXPECT_EQ(PercentHalfEven(5, 8), 62); // 62.5
    EXPECT_EQ(PercentHalfEven(2, 3), 67);
    EXPECT_EQ(PercentHalfEven(1, 200), 0); // 0.5
    EXPECT_EQ(PercentHalfEven(3, 200), 2); // 1.5
    EXPECT_EQ(PercentHalfEven(0, 0), 0);
}

TEST(ExpectedAnswerLog, IsTheTraceListOfTheAnswer) {
    EXPECT_EQ(ExpectedAnswerLogLine(Bytes({0xEE, 0xEE, 0x01, 0x0A})), "wOczek= EE EE 01 0A ");
}

} // namespace
} // namespace tarnik
