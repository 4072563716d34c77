#include "programmers/s19_programmer.h"

#include "s19_rig.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tarnik::test {
namespace {

using Steps = std::vector<Text>;

const Steps kIdentToBooting = {"Sleep", "Unit identification", "Connection establishment",
                               "Booting"};
const Steps kErasure = {"Erasing Block No 1 memory...", "Block No memory erasure completed",
                        "Erasing Block No 2 memory...", "Block No 2 memory erasure completed"};

Steps Join(std::initializer_list<Steps> parts) {
    Steps all;
    for (const Steps& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::uint16_t HeaderKey(const Text& frame) {
    return static_cast<std::uint16_t>(ByteAt(frame, 3) << 8 | ByteAt(frame, 4));
}

const Text kConnectionFailed = "Process status: An error occurred. Connection establishment";

// ---- whole processes -------------------------------------------------------------------

TEST(S19Process, ExpanderProgramsAllRecordsAndStartsTheApplication) {
    Rig rig;
    rig.Run(1);

    EXPECT_EQ(rig.view.StepLines(),
              Join({kIdentToBooting,
                    kErasure,
                    {"Start of programming", "Programming ...", "End of programming",
                     "Ending programming", "Starting application program", "Ending process"}}));
    EXPECT_EQ(rig.exitStatus, 20);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Ending process");
    EXPECT_EQ(rig.view.colour, StatusColour::Black);
    EXPECT_TRUE(rig.view.pbarVisible);
    EXPECT_EQ(rig.unit.RecordOrder(FrameKind::Record),
              (std::vector<std::uint16_t>{0x1000, 0x1100, 0x1200, 0x1300}));
    EXPECT_EQ(rig.unit.memory.size(), 4u);
    EXPECT_EQ(rig.unit.Count(FrameKind::Verify), 0u);
    EXPECT_EQ(rig.unit.Count(FrameKind::StartApplication), 1u);
    // The percentage follows the record index; 100 only when the application is started.
    EXPECT_EQ(rig.view.titles,
              (Steps{"Tarnik v2.01A_EN  0 %", "Tarnik v2.01A_EN  25 %", "Tarnik v2.01A_EN  50 %",
                     "Tarnik v2.01A_EN  75 %", "Tarnik v2.01A_EN  100 %"}));
    EXPECT_EQ(rig.view.pbar, (std::vector<int>{0, 1, 2, 3}));
    // Every built frame announces its expected answer.
    const auto waits = std::count_if(rig.view.log.begin(), rig.view.log.end(),
                                     [](const Text& l) { return l.rfind("wOczek= ", 0) == 0; });
    EXPECT_EQ(waits, 2 + 1 + 4 + 1 + 1); // connect (steps 2, 4), start, records, end, start app
}

TEST(S19Process, AccessControllerWithVerificationPassesStep14AndVerifiesEveryRecord) {
    Rig rig;
    rig.view.boxVer = true;
    rig.view.edNrSerial = "0000ABCD";
    rig.unit.script.reportedType = 2;
    rig.Run(2);

    EXPECT_EQ(rig.view.StepLines(),
              Join({kIdentToBooting,
                    kErasure,
                    {"Start of programming", "Programming ...", "", "End of programming",
                     "Ending programming", "Verification", "Starting application program",
                     "Ending process"}}));
    EXPECT_EQ(rig.exitStatus, 20);
    EXPECT_EQ(rig.unit.Count(FrameKind::SerialQuery), 0u);
    EXPECT_EQ(rig.unit.RecordOrder(FrameKind::Verify),
              (std::vector<std::uint16_t>{0x1000, 0x1100, 0x1200, 0x1300}));
}

TEST(S19Process, ControllerType0AsksForTheBootloaderWithTheAddresslessFrame) {
    Rig rig{UnitScript{.address = 0x00, .reportedType = 0}, cbr9600};
    rig.view.boxVer = true;
    rig.Run(0, 0x00);
    EXPECT_EQ(rig.exitStatus, 20);
    EXPECT_GE(rig.unit.Count(FrameKind::BootRequestType0), 1u);
    EXPECT_EQ(rig.unit.Count(FrameKind::BootRequest), 0u);
}

TEST(S19Process, ConverterType3UsesTheDDMarker) {
    Rig rig{UnitScript{.address = 0x04, .marker = "\xDD\xDD", .reportedType = 3}};
    rig.Run(3, 0x04);
    EXPECT_EQ(rig.exitStatus, 20);
    const auto identify = rig.unit.Of(FrameKind::Identify);
    ASSERT_FALSE(identify.empty());
    EXPECT_EQ(identify.front()->bytes, Text("\xDD\xDD\x04\x02\x80\x40", 6));
    ASSERT_GE(rig.unit.Count(FrameKind::BootRequest), 1u);
    EXPECT_EQ(rig.unit.Of(FrameKind::BootRequest).front()->bytes.substr(0, 2), "\xDD\xDD");
}

TEST(S19Process, ConverterType3DoesNotHearFFReplies) {
    Rig rig{UnitScript{.marker = "\xDD\xDD", .replyMarker = "\xFF\xFF", .reportedType = 3}};
    rig.Run(3);
    EXPECT_GT(rig.unit.Count(FrameKind::Identify), 10u);
    EXPECT_EQ(rig.view.LastInfoTx(), kConnectionFailed);
}

TEST(S19Process, AddressAbove255SendsItsLowByte) {
    Rig rig{UnitScript{.address = 0xA5, .reportedType = 7}, cbr19200};
    rig.Run(7, 0x1A5);
    EXPECT_EQ(rig.exitStatus, 20);
    for (const HostFrame& f : rig.unit.frames)
        EXPECT_EQ(ByteAt(f.bytes, 2), 0xA5);
}

// ---- identification, connection, serial query ------------------------------------------

TEST(S19Identification, SilentUnitFailsAfter10sAsConnectionEstablishment) {
    Rig rig{UnitScript{.reportedType = -1}};
    rig.Run(1);
    EXPECT_EQ(rig.view.StepLines(),
              (Steps{"Sleep", "Unit identification", "Connection establishment",
                     "An error occurred. Connection establishment"}));
    EXPECT_EQ(rig.exitStatus, 5380);
    EXPECT_EQ(rig.view.LastInfoTx(), kConnectionFailed);
    EXPECT_EQ(rig.view.colour, StatusColour::Red);
    const std::uint32_t took = *rig.view.StatusTime(kConnectionFailed) -
                               *rig.view.StatusTime("Process status: Unit identification");
    EXPECT_GT(took, 10000u);
    EXPECT_LT(took, 10100u);

    // Connect frame and identify query alternate; the connect frame repeats byte for byte.
    const auto& frames = rig.unit.frames;
    ASSERT_GT(frames.size(), 10u);
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].kind, i % 2 == 0 ? FrameKind::Connect : FrameKind::Identify);
    EXPECT_EQ(frames[0].bytes, frames[2].bytes);
    EXPECT_EQ(frames[1].bytes, Text("\xFF\xFF\x01\x02\x80\x81", 6));
}

TEST(S19Identification, ActiveBootloaderGoesStraightToBooting) {
    Rig rig{UnitScript{.reportedType = -1, .bootloaderActive = true}};
    int exitAtBooting = -1;
    rig.AtStep(TS19_WR::kBooting, [&] { exitAtBooting = rig.exitStatus; });
    rig.Run(1);
    EXPECT_EQ(exitAtBooting, 2);
    const Steps steps = rig.view.StepLines();
    ASSERT_GE(steps.size(), 3u);
    EXPECT_EQ(steps[2], "Booting");
    EXPECT_EQ(rig.exitStatus, 20);
    EXPECT_EQ(rig.unit.Count(FrameKind::Identify), 0u);
}

TEST(S19Identification, ElevenForeignRepliesEndWithWrongUnit) {
    Rig rig{UnitScript{.reportedType = 7}};
    rig.Run(1);
    EXPECT_EQ(rig.view.CountLog("--B\xB3"
                                "ad rozpoznania dev"),
              11u);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: This program is not intended for this unit ");
    EXPECT_EQ(rig.exitStatus, 2);
    EXPECT_EQ(rig.unit.Count(FrameKind::BootRequest), 0u);
}

TEST(S19Identification, Type2WithIncompleteSerialQueriesTheUnitFirst) {
    Rig rig{UnitScript{.reportedType = 2, .serial = Text("\x12\x34\xAB\x0F", 4)}};
    rig.view.edNrSerial = "1234";
    TS19_WR& process = rig.Run(2);
    const Steps steps = rig.view.StepLines();
    ASSERT_GE(steps.size(), 4u);
    EXPECT_EQ(Steps(steps.begin(), steps.begin() + 4),
              (Steps{"Sleep", "Unit identification", "", "Connection establishment"}));
    EXPECT_EQ(process.UnitSerial(), "1234AB0F");
    EXPECT_EQ(rig.unit.Of(FrameKind::SerialQuery).front()->bytes,
              Text("\xFF\xFF\x01\x02\x05\x06", 6));
    EXPECT_EQ(rig.exitStatus, 20);
}

TEST(S19Identification, SerialQueryWithoutAnswerFailsAfter5s) {
    Rig rig{UnitScript{.reportedType = 2}};
    rig.view.edNrSerial = "";
    rig.Run(2);
    EXPECT_EQ(rig.view.LastInfoTx(), kConnectionFailed);
    EXPECT_EQ(rig.exitStatus, 5380);
    EXPECT_GT(rig.unit.Count(FrameKind::SerialQuery), 10u);
}

TEST(S19Connection, FirstFrameLeaves300msAfterIdentificationThenAlternates) {
    Rig rig;
    rig.Run(1);
    const std::uint32_t identifiedAt =
        *rig.view.StatusTime("Process status: Connection establishment");
    const HostFrame* first = nullptr;
    for (const HostFrame& f : rig.unit.frames)
        if (f.at >= identifiedAt) {
            first = &f;
            break;
        }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->kind, FrameKind::Connect);
    EXPECT_GE(first->at - identifiedAt, 300u);
    EXPECT_LT(first->at - identifiedAt, 360u);
    // Connect frames of steps 2 and 4 carry different keys.
    const auto connects = rig.unit.Of(FrameKind::Connect);
    ASSERT_GE(connects.size(), 2u);
    EXPECT_NE(HeaderKey(connects.front()->bytes), HeaderKey(first->bytes));
    EXPECT_EQ(rig.unit.Of(FrameKind::BootRequest).front()->bytes,
              Text("\xFF\xFF\x01\x02\x04\x05", 6));
}

TEST(S19Connection, UnitStayingInItsFirmwareFailsAfter5s) {
    Rig rig{UnitScript{.enterBootloader = false}};
    rig.Run(1);
    EXPECT_EQ(rig.view.StepLines(),
              (Steps{"Sleep", "Unit identification", "Connection establishment",
                     "An error occurred. Connection establishment"}));
    EXPECT_EQ(rig.exitStatus, 5380);
    const std::uint32_t took = *rig.view.StatusTime(kConnectionFailed) -
                               *rig.view.StatusTime("Process status: Connection establishment");
    EXPECT_GT(took, 5000u);
    EXPECT_LT(took, 5100u);
}

TEST(S19Connection, SplitConnectAnswerIsLostInIdentification) {
    // The only answer the unit gives comes in two parts: the plain-reply search between
    // them cuts the first part away, so identification never sees it.
    Rig rig{UnitScript{.reportedType = -1,
                       .bootloaderActive = true,
                       .splitConnectAnswers = 1,
                       .connectAnswers = 1}};
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), kConnectionFailed);
    EXPECT_EQ(rig.exitStatus, 5380);
}

TEST(S19Connection, SplitConnectAnswerAccumulatesInConnectionEstablishment) {
    Rig rig{UnitScript{.splitConnectAnswers = 1, .connectAnswers = 1}};
    rig.Run(1);
    const Steps steps = rig.view.StepLines();
    EXPECT_EQ(Steps(steps.begin(), steps.begin() + 4), kIdentToBooting);
    EXPECT_EQ(rig.exitStatus, 20);
}

// ---- erasure ---------------------------------------------------------------------------

TEST(S19Erasure, ProgressStatusesKeepTheStepAliveAndAdvanceTheKey) {
    // 1, 1, 2, 3 at 25 s intervals: 100 s in all, longer than the 60 s time-out, which
    // restarts at every progress status. Resends (every 30 s) restart the unit's chain.
    UnitScript script;
    script.eraseStatuses[1] = {1, 1, 2, 3};
    script.eraseSpacingMs = 25000;
    Rig rig{script};
    rig.Run(1);
    EXPECT_EQ(rig.exitStatus, 20);
    const auto erases = rig.unit.Of(FrameKind::Erase1);
    ASSERT_GE(erases.size(), 2u);
    EXPECT_NE(HeaderKey(erases[0]->bytes), HeaderKey(erases[1]->bytes));
    const std::uint32_t took =
        *rig.view.StatusTime("Process status: Block No memory erasure completed") -
        *rig.view.StatusTime("Process status: Erasing Block No 1 memory...");
    EXPECT_GE(took, 100000u);
}

TEST(S19Erasure, SilenceFailsAfter60sWithResendsEvery30s) {
    UnitScript script;
    script.eraseStatuses[2] = {};
    Rig rig{script};
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(),
              "Process status: An error occurred. Erasing Block No 2 memory...");
    EXPECT_EQ(rig.exitStatus, 10 + 5376);
    const auto erases = rig.unit.Of(FrameKind::Erase2);
    ASSERT_GE(erases.size(), 2u);
    EXPECT_GE(erases[1]->at - erases[0]->at, 30000u);
    EXPECT_LT(erases[1]->at - erases[0]->at, 30100u);
    const std::uint32_t took =
        *rig.view.StatusTime("Process status: An error occurred. Erasing Block No 2 memory...") -
        *rig.view.StatusTime("Process status: Erasing Block No 2 memory...");
    EXPECT_GT(took, 60000u);
    EXPECT_LT(took, 60100u);
}

TEST(S19Erasure, Status0x20IsAnEraseError) {
    UnitScript script;
    script.eraseStatuses[1] = {1, 0x20};
    Rig rig{script};
    rig.Run(1);
    const Steps steps = rig.view.StepLines();
    EXPECT_EQ(Steps(steps.end() - 2, steps.end()),
              (Steps{"Memory erasure error", "An error occurred. Memory erasure error"}));
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Memory erasure error");
    EXPECT_EQ(rig.exitStatus, 5383);
    EXPECT_EQ(rig.view.colour, StatusColour::Red);
}

TEST(S19Erasure, Status0x1FIsIgnored) {
    UnitScript script;
    script.eraseStatuses[1] = {0x1F, 0x00, 3};
    Rig rig{script};
    rig.Run(1);
    EXPECT_EQ(rig.exitStatus, 20);
}

// ---- programming, verification, start -------------------------------------------------

TEST(S19Programming, RecordAcknowledgedTwiceAdvancesOnce) {
    // Records 0 and 1 share a key, so a stale second acknowledgment of record 0 would
    // look like record 1's; record 1's first frame goes unanswered.
    UnitScript script;
    script.duplicateAck = {0x1000};
    script.dropFirstAck = {0x1100};
    Rig rig{script};
    rig.records[1] = MakeRecord(0x1100, rig.records[0].key, 16);
    rig.Run(1);
    EXPECT_EQ(rig.exitStatus, 20);
    const auto order = rig.unit.RecordOrder(FrameKind::Record);
    EXPECT_EQ(order, (std::vector<std::uint16_t>{0x1000, 0x1100, 0x1100, 0x1200, 0x1300}));
    const auto records = rig.unit.Of(FrameKind::Record);
    EXPECT_EQ(records[1]->bytes, records[2]->bytes);
    EXPECT_GE(records[2]->at - records[1]->at, 1000u);
}

TEST(S19Programming, UnacknowledgedRecordFailsAfter10s) {
    Rig rig{UnitScript{.answerRecords = false}};
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Programming ...");
    EXPECT_EQ(rig.exitStatus, 13 + 5376);
    const auto sends = rig.unit.Count(FrameKind::Record);
    EXPECT_GE(sends, 9u);
    EXPECT_LE(sends, 11u);
    EXPECT_EQ(rig.view.titles.back(), "Tarnik v2.01A_EN  0 %");
}

TEST(S19Programming, SilentStartAndEndOfProgrammingFailAfter10s) {
    {
        Rig rig{UnitScript{.answerStartProgramming = false}};
        rig.Run(1);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Start of programming");
        EXPECT_EQ(rig.exitStatus, 12 + 5376);
        // Resent unchanged every 2 s.
        const auto sends = rig.unit.Of(FrameKind::StartProgramming);
        ASSERT_GE(sends.size(), 5u);
        EXPECT_EQ(sends[0]->bytes, sends[4]->bytes);
        EXPECT_GE(sends[1]->at - sends[0]->at, 2000u);
    }
    {
        Rig rig{UnitScript{.answerEndProgramming = false}};
        rig.Run(1);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Ending programming");
        EXPECT_EQ(rig.exitStatus, 16 + 5376);
    }
}

TEST(S19Verification, UnansweredRecordFailsAfter5s) {
    Rig rig{UnitScript{.answerVerification = false}};
    rig.view.boxVer = true;
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Verification");
    EXPECT_EQ(rig.exitStatus, 18 + 5376);
    EXPECT_GT(rig.unit.Count(FrameKind::Verify), 20u); // resent at every dispatch
}

// Every step time-out is timed from the step's own status line to the one that ends it, so
// a limit that doubled (or halved) shows even though the final status would be the same.
TEST(S19TimeOuts, EachStepGivesUpAfterItsOwnLimit) {
    struct Case {
        const char* name;
        UnitScript script;
        int unitType;
        bool verify;
        Text from;
        Text to;
        std::uint32_t limitMs;
    };
    const Case cases[] = {
        {"verification", UnitScript{.answerVerification = false}, 1, true,
         "Process status: Verification", "Process status: An error occurred. Verification", 5000},
        {"start of programming", UnitScript{.answerStartProgramming = false}, 1, false,
         "Process status: Start of programming",
         "Process status: An error occurred. Start of programming", 10000},
        {"end of programming", UnitScript{.answerEndProgramming = false}, 1, false,
         "Process status: Ending programming",
         "Process status: An error occurred. Ending programming", 10000},
        {"serial query", UnitScript{.reportedType = 2}, 2, false,
         "Process status: ", kConnectionFailed, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig{c.script};
        rig.view.boxVer = c.verify;
        rig.view.edNrSerial = "";
        rig.Run(c.unitType);
        const auto from = rig.view.StatusTime(c.from);
        const auto to = rig.view.StatusTime(c.to);
        ASSERT_TRUE(from && to) << rig.view.LastInfoTx();
        // The poll loop notices the limit at its next dispatch: a few hundred ms at most.
        EXPECT_GE(*to - *from, c.limitMs);
        EXPECT_LT(*to - *from, c.limitMs + 500);
    }
}

TEST(S19Start, UnitThatStartsWithoutAnsweringStillEndsTheProcess) {
    Rig rig{UnitScript{.reportedType = 6}};
    rig.records = MakeRecords(1);
    rig.Run(6);
    EXPECT_EQ(rig.unit.Count(FrameKind::StartApplication), 1u);
    EXPECT_EQ(rig.view.StepLines().back(), "Ending process");
    EXPECT_EQ(rig.view.titles.front(), "Tarnik v2.01A_EN  0 %");
}

// ---- poll wait ---------------------------------------------------------------------------

std::vector<std::uint32_t> Gaps(const std::vector<const HostFrame*>& frames) {
    std::vector<std::uint32_t> gaps;
    for (std::size_t i = 1; i < frames.size(); ++i)
        gaps.push_back(frames[i]->at - frames[i - 1]->at);
    return gaps;
}

TEST(S19PollWait, FollowsTheLastFrameTheLoopSentButNotTheRecordsSentByTheHandler) {
    // Unit type 2 polls every millisecond, so the dispatches follow the poll wait exactly:
    // at 9600 baud T(frame + 10 characters) + 20 ms.
    Rig rig{UnitScript{.reportedType = -1}, cbr9600};
    rig.Run(2);
    const std::uint32_t identificationAt =
        *rig.view.StatusTime("Process status: Unit identification");
    ASSERT_GE(rig.unit.frames.size(), 4u);
    EXPECT_EQ(rig.unit.frames[0].at - identificationAt, 100u); // before the first frame
    // Connect frame (8 bytes): 18 x 10000 / 9600 = 18, + 20; identify query (6): 16 + 20.
    EXPECT_EQ(rig.unit.frames[1].at - rig.unit.frames[0].at, 38u);
    EXPECT_EQ(rig.unit.frames[2].at - rig.unit.frames[1].at, 36u);

    Rig full{UnitScript{.reportedType = 2}, cbr9600};
    full.view.boxVer = true;
    full.view.edNrSerial = "00000001";
    full.Run(2);
    ASSERT_EQ(full.exitStatus, 20);
    // Records (26 bytes) go out by the handler: the wait stays that of the start-of-
    // programming frame (6 bytes: 16 + 20). Verification frames go out by the loop and set
    // it: 36 x 10000 / 9600 = 37, + 20.
    EXPECT_EQ(Gaps(full.unit.Of(FrameKind::Record)), (std::vector<std::uint32_t>(3, 36)));
    EXPECT_EQ(Gaps(full.unit.Of(FrameKind::Verify)), (std::vector<std::uint32_t>(3, 57)));
}

// ---- process control -------------------------------------------------------------------

class S19Stop : public ::testing::TestWithParam<int> {};

TEST_P(S19Stop, InterruptsInAnyStep) {
    const int step = GetParam();
    Rig rig;
    rig.view.boxVer = true;
    rig.AtStep(step, [&] { rig.programmer->StopProcess(); });
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
    EXPECT_EQ(rig.exitStatus, step);
    EXPECT_EQ(rig.programmer->CurrentStep(), TS19_WR::kInterrupting);
    EXPECT_EQ(rig.unit.Count(FrameKind::StartApplication), 0u);
}

INSTANTIATE_TEST_SUITE_P(Steps, S19Stop,
                         ::testing::Values(TS19_WR::kIdentification, TS19_WR::kConnection,
                                           TS19_WR::kEraseBlock1, TS19_WR::kProgramming,
                                           TS19_WR::kVerification));

// The window's log line processes messages, so STOP may arrive while a step change is
// being logged; the process must end as if STOP had come right after that change.
TEST_P(S19Stop, InsideTheStepLogLineIsNotCoveredByTheStepItInterrupted) {
    const int step = GetParam();
    Rig rig;
    rig.view.boxVer = true;
    rig.AtLogLine(step, "-------", [&] { rig.programmer->StopProcess(); });
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
    EXPECT_EQ(rig.view.StepLines().back(), "Interrupting process");
    EXPECT_EQ(rig.exitStatus, step);
    EXPECT_EQ(rig.programmer->CurrentStep(), TS19_WR::kInterrupting);
}

TEST_P(S19Stop, InsideTheTransmissionOfAFrame) {
    const int step = GetParam();
    Rig rig;
    rig.view.boxVer = true;
    rig.AtLogLine(step, "TX: ", [&] { rig.programmer->StopProcess(); });
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
    EXPECT_EQ(rig.exitStatus, step);
    EXPECT_EQ(rig.unit.Count(FrameKind::StartApplication), 0u);
}

TEST_P(S19Stop, SecondStopInsideTheFirstKeepsTheInterruptedStep) {
    const int step = GetParam();
    Rig rig;
    rig.view.boxVer = true;
    rig.AtStep(step, [&] { rig.programmer->StopProcess(); });
    rig.AtLogLine(TS19_WR::kInterrupting, "-------", [&] { rig.programmer->StopProcess(); });
    rig.Run(1);
    EXPECT_EQ(rig.view.CountLog("-------Interrupting process"), 1u);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
    EXPECT_EQ(rig.exitStatus, step);
}

TEST(S19NestedStop, InsideAFailureReportEndsInterruptedNotWithAnErrorOfTheStopStep) {
    struct Case {
        const char* name;
        UnitScript script;
        int step; // logged just before the error step
        int runType;
    };
    UnitScript eraseFails;
    eraseFails.eraseStatuses[1] = {0x20};
    const Case cases[] = {
        {"identification time-out", UnitScript{.reportedType = -1}, TS19_WR::kConnection, 1},
        {"serial query time-out", UnitScript{.reportedType = 2}, TS19_WR::kConnection, 2},
        {"erase failure", eraseFails, TS19_WR::kEraseError, 1},
    };
    for (const Case& c : cases) {
        Rig rig{c.script};
        const bool serialQueryCase = c.runType == 2;
        // Step 4 is first entered by the serial query's time-out only when that query runs.
        rig.view.edNrSerial = serialQueryCase ? "" : "00000000";
        rig.AtLogLine(c.step, "-------", [&] { rig.programmer->StopProcess(); });
        rig.Run(c.runType);
        const Steps steps = rig.view.StepLines();
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process") << c.name;
        EXPECT_EQ(steps.back(), "Interrupting process") << c.name;
        EXPECT_EQ(std::count(steps.begin(), steps.end(), "An error occurred. Interrupting process"),
                  0)
            << c.name;
        // The step left when STOP took effect.
        EXPECT_EQ(rig.exitStatus, c.step) << c.name;
        EXPECT_EQ(rig.view.colour, StatusColour::Black) << c.name;
    }
}

// Once the error step is taken the process has ended: a STOP inside its report is too late.
TEST(S19NestedStop, InsideTheErrorReportLeavesTheError) {
    Rig rig{UnitScript{.answerStartProgramming = false}};
    rig.AtLogLine(TS19_WR::kError, "-------", [&] { rig.programmer->StopProcess(); });
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Start of programming");
    EXPECT_EQ(rig.exitStatus, 5376 + TS19_WR::kStartProgramming);
    EXPECT_EQ(rig.view.colour, StatusColour::Red);
}

TEST(S19NestedStop, InsideTheStartCommandLogLineDoesNotEndAsASuccess) {
    Rig rig;
    rig.AtLogLine(TS19_WR::kStartApplication, "wOczek= ", [&] { rig.programmer->StopProcess(); });
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
    EXPECT_EQ(rig.exitStatus, TS19_WR::kStartApplication);
    const Steps steps = rig.view.StepLines();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), "Ending process"), 0);
    // The frame was already built: it still goes out once.
    EXPECT_EQ(rig.unit.Count(FrameKind::StartApplication), 1u);
}

TEST(S19NestedStop, InsideARecordLogLineKeepsTheProgressShown) {
    for (const int step : {TS19_WR::kProgramming, TS19_WR::kVerification}) {
        Rig rig;
        rig.view.boxVer = true;
        // STOP inside the expected-answer line of the step's third record.
        rig.view.pumpInLogLine = true;
        int seen = 0;
        std::size_t lastSeenAt = 0;
        rig.pump.AddHook([&] {
            if (!rig.programmer || rig.programmer->CurrentStep() != step) return;
            const std::size_t at = rig.view.log.size();
            if (at == lastSeenAt || rig.view.log.back().rfind("wOczek= ", 0) != 0) return;
            lastSeenAt = at;
            if (++seen == 3) rig.programmer->StopProcess();
        });
        rig.Run(1);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process") << step;
        EXPECT_EQ(rig.view.titles.back(), "Tarnik v2.01A_EN  25 %") << step;
        EXPECT_EQ(rig.view.pbar.back(), 1) << step;
        EXPECT_EQ(rig.exitStatus, step);
    }
}

TEST(S19Control, UsedObjectDoesNotStartAgain) {
    Rig rig;
    TS19_WR& process = rig.Run(1);
    const std::size_t frames = rig.unit.frames.size();
    const std::size_t lines = rig.view.log.size();
    process.StartProcess(1);
    EXPECT_EQ(rig.unit.frames.size(), frames);
    EXPECT_EQ(rig.view.log.size(), lines);
    EXPECT_EQ(rig.exitStatus, 20);
}

TEST(S19Control, ExceptionEndsTheLoopWithoutAStepChange) {
    Rig rig;
    rig.AtStep(TS19_WR::kEraseBlock1, [] { throw std::runtime_error("window gone"); });
    rig.Run(1);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Erasing Block No 1 memory...");
    EXPECT_EQ(rig.exitStatus, 5);
}

TEST(S19Control, SetStepReportsTheStepLeftAndTheFailedStepName) {
    Rig rig;
    TS19_WR process(rig.context, 1);
    process.SetStep(TS19_WR::kEraseBlock1);
    process.SetStep(TS19_WR::kError);
    EXPECT_EQ(rig.exitStatus, 8 + 5376);
    EXPECT_EQ(rig.view.LastInfoTx(),
              "Process status: An error occurred. Erasing Block No 1 memory...");
    EXPECT_EQ(rig.view.log.back(), "-------An error occurred. Erasing Block No 1 memory...");
    EXPECT_EQ(process.CurrentStep(), TS19_WR::kError);
    EXPECT_EQ(rig.view.colour, StatusColour::Red);
}

} // namespace
} // namespace tarnik::test
