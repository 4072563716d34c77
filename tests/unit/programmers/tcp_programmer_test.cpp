// The network-module programmer against the emulator's unit model on a virtual clock: the
// three entry paths with their speed switches, the fall-back to the bootloader, the version
// question, the acknowledgment test, failures and STOP.
#include "image/image_writer.h"
#include "programmers/tcp_programmer.h"
#include "sim/unit_model.h"
#include "support/image_builder.h"

#include "s19_rig.h"

#include <gtest/gtest.h>

#include <memory>

namespace tarnik::test {
namespace {

sim::UnitOptions Unit(int type, void (*change)(sim::UnitOptions&) = nullptr) {
    sim::UnitOptions options;
    options.unitType = type;
    options.address = 0x07;
    if (change) change(options);
    return options;
}

sim::LineSettings Line(int baud, TParity parity) {
    return {baud, parity, sb2_0, da8};
}

struct TcpRig : testing::VirtualLine<RecordingView> {
    explicit TcpRig(sim::UnitOptions options, int recordCount = 5) : VirtualLine(4242) {
        for (int i = 0; i < recordCount; ++i) {
            TLDane r;
            r.address = static_cast<std::uint16_t>(0x4000 + i * 32);
            r.key = static_cast<std::uint16_t>(0xA001 + i * 0x0303);
            const Text plain = PlainNetRecord(r.address, Text(24, AsChar(std::uint8_t(i))));
            ScrambleText(plain, 1, r.programmingText, r.key);
            records.push_back(r);
        }
        options.image = records;
        unit = sim::CreateUnitModel(options);
        port.SetPeer(unit.get());
        OpenFor(options.unitType);
        view.unitType = options.unitType;
        view.bootAddress = options.address;
        header.version = "1.05";
        header.dateSeconds = 1700000000; // 2023-11-14
        LimitRun(Rig::kRunLimitMs);
    }

    // Runs with the model code of the unit type and the unit's address unless told otherwise.
    void Run(int modelCode = -1, int address = -1) {
        const int type = unit->Options().unitType;
        programmer.emplace(context);
        programmer->Configure(address >= 0 ? address : unit->Options().address,
                              modelCode >= 0 ? modelCode : FindUnitType(type)->modelCode);
        StartClock();
        programmer->StartProcess();
    }

    std::string Violations() const {
        std::string text;
        for (const auto& v : unit->Report().violations)
            text += v.text + "\n";
        return text;
    }
    std::size_t Frames(const std::string& what) const {
        std::size_t n = 0;
        for (const auto& f : unit->Report().frames)
            n += f.what.rfind(what, 0) == 0 ? 1 : 0;
        return n;
    }

    std::unique_ptr<sim::UnitModel> unit;
    std::optional<TTCP_WR> programmer;
};

const Text kTitle100 = "Tarnik v2.01A_EN  100 %";
const Text kNotNewer =
    "This program is not newer version for this unit !\rDo you want programming ?";

TEST(TcpProcess, EachModelCodeProgramsItsUnitWithTheSpeedSwitchesItExpects) {
    const std::vector<Text> tail = {"Booting",
                                    "",
                                    "Erasing memory ...",
                                    "Memory erasure completed",
                                    "Programming ...",
                                    "End of programming",
                                    "Ending programming",
                                    "Ending process"};
    struct Case {
        int type;
        std::vector<Text> head;
        std::vector<sim::LineSettings> opens;
        std::size_t dekDepBytes;
        int records;
        Text switchLine; // Windows-1250: 0xB3 is "l" with a stroke, 0xB9 "a" with an ogonek
    };
    const Case cases[] = {
        {4,
         {"Sleep", "", "Unit identification", "Connection establishment"},
         {Line(4800, paEven), Line(19200, paNone), Line(57600, paNone)},
         6,
         7,
         "Prze\xB3\xB9"
         "czenie COM z 19200 -->57600"},
        {9,
         {"", ""},
         {Line(4800, paEven), Line(57600, paNone)},
         7,
         7,
         "Prze\xB3\xB9"
         "czenie COM z 4800 -->57600"},
        {15, {"", ""}, {Line(57600, paNone)}, 7, 200, ""},
    };
    for (const Case& c : cases) {
        TcpRig rig{Unit(c.type), c.records};
        rig.view.answerYes = true;
        rig.Run();
        std::vector<Text> steps = c.head;
        steps.insert(steps.end(), tail.begin(), tail.end());
        EXPECT_EQ(rig.view.StepLines(), steps) << c.type;
        EXPECT_EQ(rig.exitStatus, 19) << c.type;
        EXPECT_EQ(rig.port.OpenedWith(), c.opens) << c.type;
        EXPECT_EQ(rig.view.CountLog(c.switchLine), c.switchLine.empty() ? 0u : 1u) << c.type;
        EXPECT_TRUE(rig.unit->HostCorrect()) << c.type << "\n" << rig.Violations();
        EXPECT_EQ(rig.unit->Report().records.size(), std::size_t(c.records)) << c.type;
        // Never 100 % while a record is in flight, 100 % once the last one was acknowledged.
        ASSERT_GE(rig.view.titles.size(), 2u) << c.type;
        EXPECT_EQ(rig.view.titles.back(), kTitle100);
        EXPECT_EQ(rig.view.titles[rig.view.titles.size() - 2],
                  c.records == 200 ? "Tarnik v2.01A_EN  99 %" : "Tarnik v2.01A_EN  86 %");
        // Only type 4 reports its version; the image's 1.05 is not newer than the unit's.
        EXPECT_EQ(rig.view.questions,
                  c.type == 4 ? std::vector<Text>{kNotNewer} : std::vector<Text>{});
        EXPECT_TRUE(rig.view.questions.empty() || rig.view.questionDefaultNo);
        const auto dekDep = std::find_if(rig.view.log.begin(), rig.view.log.end(),
                                         [](const Text& l) { return l.rfind("dek dep:", 0) == 0; });
        ASSERT_NE(dekDep, rig.view.log.end());
        EXPECT_EQ(dekDep->size(), 8 + 3 * c.dekDepBytes) << *dekDep;
    }
}

TEST(TcpProcess, WithoutApplicationTheBootloaderIsAddressedDirectly) {
    for (const int type : {4, 9, 15}) {
        TcpRig rig{Unit(type, [](sim::UnitOptions& o) { o.faults.bootloaderActive = true; })};
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 19) << type;
        const std::vector<Text> steps = rig.view.StepLines();
        const auto noApp = std::find(steps.begin(), steps.end(), "No application program");
        ASSERT_NE(noApp, steps.end()) << type;
        EXPECT_EQ(*(noApp + 1), "Connection establishment") << type;
        EXPECT_GT(*rig.view.StatusTime("Process status: No application program") - rig.startedAt,
                  20000u);
        EXPECT_EQ(rig.Frames("restart command"), 0u) << type;
        EXPECT_TRUE(rig.unit->HostCorrect()) << type << "\n" << rig.Violations();
    }
}

TEST(TcpProcess, FailuresAndRecoveriesEndWithTheirStatus) {
    using O = sim::UnitOptions;
    struct Case {
        const char* name;
        sim::UnitOptions unit;
        int hostAddress;
        int exitStatus;
        Text status; // after "Process status: "
    };
    const Case cases[] = {
        {"foreign type at identification", Unit(4, [](O& o) { o.faults.wrongType = true; }), -1, 6,
         "This program is not intended for this unit "},
        {"foreign type with bit 7 at boot",
         Unit(9, [](O& o) { o.faults.wrongType = o.bootTypeBit7 = true; }), -1, 9,
         "This program is not intended for this unit "},
        {"handshake reply from another address", Unit(9), 0x08, 2 + 5376, "An error occurred. "},
        // A failed erasure leaves the unit silent: the command goes again after 60 s and the
        // step fails after 120 s.
        {"erase failure", Unit(9, [](O& o) { o.faults.eraseFail = true; }), -1, 15 + 5376,
         "An error occurred. Erasing memory ..."},
        {"hang-up", Unit(15, [](O& o) { o.faults.hangupAtRecord = 2; }), -1, 17 + 5376,
         "An error occurred. Programming ..."},
        {"silent", Unit(4, [](O& o) { o.faults.silent = true; }), -1, 12 + 5376,
         "An error occurred. Connection establishment"},
        {"own type with bit 7", Unit(15, [](O& o) { o.bootTypeBit7 = true; }), -1, 19,
         "Ending process"},
        {"last record resent", Unit(9, [](O& o) { o.faults.dropAck = 4; }), -1, 19,
         "Ending process"},
        // Late answers to connect commands repeated meanwhile reach the boot identification.
        {"slow answers",
         Unit(15,
              [](O& o) {
                  o.faults.answerDelayMs = 15;
                  o.faults.bootloaderActive = true;
              }),
         -1, 19, "Ending process"},
        // ... and in pieces: a whole copy and the first bytes of another are no boot answer.
        {"connect answers in pieces", Unit(4, [](O& o) { o.faults.chunkBytes = 2; }), -1, 19,
         "Ending process"},
    };
    for (const Case& c : cases) {
        TcpRig rig{c.unit};
        rig.view.answerYes = true;
        rig.Run(-1, c.hostAddress);
        EXPECT_EQ(rig.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: " + c.status) << c.name;
        EXPECT_EQ(rig.view.colour == StatusColour::Red, c.exitStatus > 5376) << c.name;
        // A silent unit tells the host nothing, so its tries at either speed are in order.
        if (c.exitStatus == 19 || c.unit.faults.silent) {
            EXPECT_TRUE(rig.unit->HostCorrect()) << c.name << "\n" << rig.Violations();
        }
        if (c.exitStatus == 15 + 5376 || c.exitStatus == 6 || c.exitStatus == 9) {
            EXPECT_EQ(rig.Frames("erase command"), c.exitStatus == 15 + 5376 ? 2u : 0u) << c.name;
        }
    }
    TcpRig rig{Unit(9)};
    rig.Run(3); // no such model code: nothing happens
    EXPECT_TRUE(rig.view.infoTx.empty());
    EXPECT_TRUE(rig.unit->Report().frames.empty());

    // A record left unanswered fails 15 s after its frame went out, not sooner.
    TcpRig hung{Unit(15, [](O& o) { o.faults.hangupAtRecord = 2; })};
    hung.Run();
    const auto failedAt =
        hung.view.StatusTime("Process status: An error occurred. Programming ...");
    ASSERT_TRUE(failedAt);
    EXPECT_NEAR(*failedAt - hung.unit->Report().frames.back().timeMs, 15000, 10);
}

// A unit answers every record twice, and the frame of the record that a copy would pass for is
// lost on the line: the copy arrives alone while that record waits. Bytes that acknowledged a
// record never acknowledge a later one, so the record is sent again, not skipped.
TEST(TcpProcess, ALateCopyOfARecordsAnswerAcknowledgesNoLaterRecord) {
    for (const auto& [type, againMs] : {std::pair{9, 50u}, std::pair{15, 300u}}) {
        TcpRig probe{Unit(type), 30};
        const int lost = tarnik::testing::RecordALateCopyWouldAcknowledge(probe.records, 0x07);
        ASSERT_GT(lost, 0);
        sim::UnitOptions options = Unit(type);
        options.faults.recordAnswerAgainMs = againMs;
        options.faults.loseRecord = lost;
        TcpRig rig{options, 30};
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 19) << type;
        EXPECT_TRUE(rig.unit->HostCorrect()) << type << "\n" << rig.Violations();
        EXPECT_EQ(rig.unit->Report().records.size(), 30u) << type;
    }
}

// Five bytes that carry the bits of 0x78 (FF FF FF FF FF: a line held low) pass the tolerant
// answer rule against the placeholder "xxxxx"; they must not acknowledge an erasure or a
// record whose frame has not gone out.
TEST(TcpProcess, NoiseMatchingThePlaceholderAcknowledgesNothing) {
    TcpRig rig{Unit(9)};
    rig.pump.AddHook([&rig] {
        const int step = rig.programmer ? rig.programmer->CurrentStep() : 0;
        if ((step == TTCP_WR::kErasing || step == TTCP_WR::kProgramming) && rig.link.RxText.empty())
            rig.link.RxText = Text(5, '\xFF');
    });
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 19);
    EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Violations();
    EXPECT_EQ(rig.Frames("erase command"), 1u);
    EXPECT_EQ(rig.unit->Report().records.size(), rig.records.size());
}

// The handshake answer comes after the host has repeated its handshake at the old speed:
// the unit has restarted meanwhile, but the host could not know, so the repeats are in order.
TEST(TcpProcess, HandshakeRepeatsBeforeASlowAnswerAreInOrder) {
    TcpRig rig{Unit(9, [](sim::UnitOptions& o) { o.faults.answerDelayMs = 1500; })};
    rig.Run();
    EXPECT_TRUE(rig.unit->Report().violations.empty()) << rig.Violations();
}

TEST(TcpVersionQuestion, NoInterruptsYesProgramsAndOtherVersionLengthsAreNotAsked) {
    TcpRig no{Unit(4)};
    no.Run();
    EXPECT_EQ(no.view.LastInfoTx(), "Process status: Interrupting process");
    EXPECT_EQ(no.exitStatus, 6);
    EXPECT_EQ(no.Frames("restart command"), 0u);

    TcpRig yes{Unit(4, [](sim::UnitOptions& o) { o.version = {1, 0, 4}; })};
    yes.view.answerYes = true;
    yes.Run();
    EXPECT_EQ(yes.view.questions,
              std::vector<Text>{
                  "This program is newer version for this unit !\rDo you want programming ?"});
    EXPECT_EQ(yes.exitStatus, 19);

    for (const Text version : {"1.5", "1.05a"}) {
        TcpRig rig{Unit(4)};
        rig.header.version = version;
        rig.Run();
        EXPECT_TRUE(rig.view.questions.empty()) << version;
        EXPECT_EQ(rig.exitStatus, 19) << version;
    }
}

TEST(TcpStop, StopIsFinalAndTheTitleShowsAHundredOnlyForTheLastRecordInFlight) {
    struct Case {
        int records;
        std::size_t stopAfter; // records received by the unit
        bool inLogLine;        // STOP while a new record's expected answer is logged
        int dropAck;
    };
    for (const Case& c : {Case{30, 5, false, -1}, Case{6, 2, true, -1}, Case{3, 3, false, 2}}) {
        TcpRig rig{Unit(15, nullptr), c.records};
        rig.unit = sim::CreateUnitModel([&] {
            sim::UnitOptions o = rig.unit->Options();
            o.faults.dropAck = c.dropAck;
            return o;
        }());
        rig.port.SetPeer(rig.unit.get());
        rig.view.pumpInLogLine = c.inLogLine;
        bool stopped = false;
        rig.pump.AddHook([&] {
            if (stopped || rig.programmer->CurrentStep() != TTCP_WR::kProgramming ||
                rig.unit->Report().records.size() < c.stopAfter ||
                (c.inLogLine && rig.view.log.back().rfind("wOczek= ", 0) != 0))
                return;
            stopped = true;
            rig.programmer->StopProcess();
            rig.programmer->StopProcess();
        });
        rig.Run();
        ASSERT_TRUE(stopped);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
        EXPECT_EQ(rig.view.CountLog("-------Interrupting process"), 1u);
        EXPECT_EQ(rig.exitStatus, 17);
        // A frame whose expected answer was being logged never goes out.
        EXPECT_EQ(rig.unit->Report().records.size(), c.stopAfter);
        EXPECT_EQ(rig.view.titles.back() == kTitle100, c.dropAck >= 0) << c.records;
    }
}

} // namespace
} // namespace tarnik::test
