// The network-module programmer against the emulator's unit model on a virtual clock: the
// three entry paths with their speed switches, the fall-back to the bootloader, the version
// question, the acknowledgment test, failures and STOP.
#include "image/image_writer.h"
#include "programmers/tcp_programmer.h"
#include "sim/unit_model.h"

#include "s19_rig.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace tarnik::test {
namespace {

int ModelCode(int type) {
    return type == 4 ? 0 : type == 9 ? 2 : 4;
}

RecordList NetRecords(int count) {
    RecordList records;
    for (int i = 0; i < count; ++i) {
        const auto address = static_cast<std::uint16_t>(0x4000 + i * 32);
        const auto key = static_cast<std::uint16_t>(0xA001 + i * 0x0303);
        TLDane record;
        record.address = address;
        record.key = key;
        const Text plain = PlainNetRecord(address, Text(24, AsChar(static_cast<std::uint8_t>(i))));
        record.length = static_cast<std::uint16_t>(plain.size());
        ScrambleText(plain, 1, record.programmingText, key);
        records.push_back(record);
    }
    return records;
}

sim::UnitOptions Unit(int type, std::uint8_t address = 0x07) {
    sim::UnitOptions options;
    options.unitType = type;
    options.address = address;
    return options;
}

sim::LineSettings Line(int baud, TParity parity) {
    return {baud, parity, sb2_0, da8};
}

struct TcpRig {
    explicit TcpRig(sim::UnitOptions options, int recordCount = 5)
        : records(NetRecords(recordCount)), port(clock, nullptr) {
        options.image = records;
        unit = sim::CreateUnitModel(options);
        port.SetPeer(unit.get());
        pump.AddPort(&port);
        // The line the process control opens the port with for the unit type.
        const int type = options.unitType;
        port.SetBaudRate(type == 15 ? cbr57600 : cbr4800);
        port.SetParity(type == 15 ? paNone : paEven);
        port.SetStopbits(sb2_0);
        port.Open();
        view.unitType = type;
        view.bootAddress = options.address;
        header.version = "1.05";
        header.dateSeconds = 1700000000; // 2023-11-14
        pump.AddHook([this] {
            if (clock.TickMs() - startedAt > Rig::kRunLimitMs) throw std::runtime_error("limit");
        });
    }

    TTCP_WR& Run(int modelCode = -1, std::uint32_t address = 0x100) {
        programmer.emplace(context);
        const int code = modelCode >= 0 ? modelCode : ModelCode(unit->Options().unitType);
        programmer->Configure(address == 0x100 ? unit->Options().address : address,
                              static_cast<std::uint8_t>(code));
        startedAt = clock.TickMs();
        programmer->StartProcess();
        return *programmer;
    }

    // Calls fn once, at the first message processing that finds the process in the step.
    void AtStep(int step, std::function<void()> fn) {
        auto done = std::make_shared<bool>(false);
        pump.AddHook([this, step, fn, done] {
            if (*done || !programmer || programmer->CurrentStep() != step) return;
            *done = true;
            fn();
        });
    }

    std::string Violations() const {
        std::ostringstream text;
        for (const auto& v : unit->Report().violations)
            text << v.timeMs << ": " << v.text << "\n";
        return text.str();
    }
    std::size_t Frames(const std::string& what) const {
        std::size_t n = 0;
        for (const auto& f : unit->Report().frames)
            n += f.what.rfind(what, 0) == 0 ? 1 : 0;
        return n;
    }

    sim::VirtualClock clock;
    RecordList records;
    std::unique_ptr<sim::UnitModel> unit;
    sim::SimulatedPort port;
    sim::LoopbackPump pump;
    RecordingView view{pump, clock};
    TFUstaw link{port, pump, clock, view};
    KeyGenerator keys{4242};
    int exitStatus = -1;
    ImageHeader header;
    ProcessContext context{view, link, clock, records, keys, exitStatus, header};
    std::optional<TTCP_WR> programmer;
    std::uint32_t startedAt = 0;
};

const Text kSwitchTo19200 = "Prze\xB3\xB9"
                            "czenie COM z 4800 --> 19200";
const Text kSwitch4800To57600 = "Prze\xB3\xB9"
                                "czenie COM z 4800 -->57600";
const Text kSwitch19200To57600 = "Prze\xB3\xB9"
                                 "czenie COM z 19200 -->57600";
const std::vector<Text> kFromBooting = {"Booting",
                                        "",
                                        "Erasing memory ...",
                                        "Memory erasure completed",
                                        "Programming ...",
                                        "End of programming",
                                        "Ending programming",
                                        "Ending process"};

std::vector<Text> Join(std::vector<Text> head, const std::vector<Text>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// ---- whole processes ---------------------------------------------------------------------

TEST(TcpProcess, EachModelCodeProgramsItsUnitWithTheSpeedSwitchesItExpects) {
    struct Case {
        int type;
        std::vector<Text> steps;
        std::vector<sim::LineSettings> opens;
        std::vector<Text> switchLines;
    };
    const Case cases[] = {
        {4,
         Join({"Sleep", "", "Unit identification", "Connection establishment"}, kFromBooting),
         {Line(4800, paEven), Line(19200, paNone), Line(57600, paNone)},
         {kSwitchTo19200, kSwitch19200To57600}},
        {9,
         Join({"", ""}, kFromBooting),
         {Line(4800, paEven), Line(57600, paNone)},
         {kSwitch4800To57600}},
        {15, Join({"", ""}, kFromBooting), {Line(57600, paNone)}, {}},
    };
    for (const Case& c : cases) {
        TcpRig rig{Unit(c.type), 7};
        rig.view.answerYes = true;
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 19) << c.type;
        EXPECT_EQ(rig.view.StepLines(), c.steps) << c.type;
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Ending process") << c.type;
        EXPECT_EQ(rig.port.OpenedWith(), c.opens) << c.type;
        for (const Text& line : c.switchLines)
            EXPECT_EQ(rig.view.CountLog(line), 1u) << c.type;
        EXPECT_TRUE(rig.unit->HostCorrect()) << c.type << "\n" << rig.Violations();
        EXPECT_EQ(rig.unit->Report().records.size(), 7u) << c.type;
        EXPECT_EQ(rig.view.titles.back(), "Tarnik v2.01A_EN  100 %") << c.type;
        EXPECT_EQ(rig.view.pbar.back(), 6) << c.type;
        EXPECT_FALSE(rig.programmer->Running());
        // Only type 4 reports its version, and the image 1.05 is not newer than the unit's.
        const std::vector<Text> questions =
            c.type == 4 ? std::vector<Text>{"This program is not newer version for this unit "
                                            "!\rDo you want programming ?"}
                        : std::vector<Text>{};
        EXPECT_EQ(rig.view.questions, questions) << c.type;
        EXPECT_TRUE(rig.view.questions.empty() || rig.view.questionDefaultNo);
        // The boot identification answer is 6 bytes for type 4, 7 for the others.
        bool dekDep = false;
        for (const Text& l : rig.view.log)
            if (l.rfind("dek dep:", 0) == 0) {
                dekDep = true;
                EXPECT_EQ(l.size(), 8 + (c.type == 4 ? 6u : 7u) * 3) << c.type << " " << l;
            }
        EXPECT_TRUE(dekDep) << c.type;
    }
}

TEST(TcpProcess, WithoutApplicationTheBootloaderIsAddressedDirectly) {
    for (const int type : {4, 9, 15}) {
        sim::UnitOptions options = Unit(type);
        options.faults.bootloaderActive = true;
        TcpRig rig{options};
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 19) << type;
        const std::vector<Text> steps = rig.view.StepLines();
        const auto noApp = std::find(steps.begin(), steps.end(), "No application program");
        ASSERT_NE(noApp, steps.end()) << type;
        EXPECT_EQ(*(noApp + 1), "Connection establishment") << type;
        // Twenty seconds of tries before giving up on the application.
        EXPECT_GT(*rig.view.StatusTime("Process status: No application program") - rig.startedAt,
                  20000u);
        EXPECT_TRUE(rig.view.questions.empty()) << type;
        EXPECT_EQ(rig.Frames("restart command"), 0u) << type;
        EXPECT_EQ(rig.port.OpenedWith().back(), Line(57600, paNone)) << type;
        EXPECT_TRUE(rig.unit->HostCorrect()) << type << "\n" << rig.Violations();
    }
}

TEST(TcpProcess, ForeignUnitTypeEndsWithNotIntended) {
    // Type 4 learns it from the identify reply, type 9 from the boot identification.
    for (const int type : {4, 9}) {
        sim::UnitOptions options = Unit(type);
        options.faults.wrongType = true;
        options.bootTypeBit7 = true; // bit 7 does not hide another type
        TcpRig rig{options};
        rig.Run();
        EXPECT_EQ(rig.view.LastInfoTx(),
                  "Process status: This program is not intended for this unit ")
            << type;
        EXPECT_EQ(rig.exitStatus, type == 4 ? 6 : 9) << type;
        EXPECT_EQ(rig.Frames("erase command"), 0u) << type;
        EXPECT_TRUE(rig.unit->Report().violations.empty()) << type << rig.Violations();
    }
}

TEST(TcpProcess, BootIdentificationAcceptsTheTypeWithBitSeven) {
    sim::UnitOptions options = Unit(15);
    options.bootTypeBit7 = true;
    TcpRig rig{options};
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 19);
    EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Violations();
}

TEST(TcpProcess, HandshakeReplyFromAnotherAddressIsAnError) {
    TcpRig rig{Unit(9, 0x07)};
    rig.Run(-1, 0x08);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. ");
    EXPECT_EQ(rig.view.colour, StatusColour::Red);
    EXPECT_EQ(rig.exitStatus, 2 + 5376);
    EXPECT_EQ(rig.Frames("handshake ISE"), 1u);
}

TEST(TcpProcess, FailuresEndWithTheFailingStepAndAnErrorExitStatus) {
    struct Case {
        const char* name;
        int type;
        void (*fault)(sim::UnitOptions&);
        int exitStatus;
        const char* status;
    };
    const Case cases[] = {
        // A failed erasure leaves the unit silent: the command goes again after 60 s and the
        // step fails after 120 s.
        {"erase", 9, [](sim::UnitOptions& o) { o.faults.eraseFail = true; }, 15 + 5376,
         "Process status: An error occurred. Erasing memory ..."},
        {"hang-up", 15, [](sim::UnitOptions& o) { o.faults.hangupAtRecord = 2; }, 17 + 5376,
         "Process status: An error occurred. Programming ..."},
        {"silent", 4, [](sim::UnitOptions& o) { o.faults.silent = true; }, 12 + 5376,
         "Process status: An error occurred. Connection establishment"},
    };
    for (const Case& c : cases) {
        sim::UnitOptions options = Unit(c.type);
        c.fault(options);
        TcpRig rig{options};
        rig.Run();
        EXPECT_EQ(rig.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(rig.view.LastInfoTx(), c.status) << c.name;
        EXPECT_EQ(rig.view.colour, StatusColour::Red) << c.name;
        EXPECT_NE(rig.view.titles.empty() ? Text{} : rig.view.titles.back(),
                  "Tarnik v2.01A_EN  100 %")
            << c.name;
        if (std::string(c.name) == "erase") {
            EXPECT_EQ(rig.Frames("erase command"), 2u);
        }
    }
}

TEST(TcpProcess, LastRecordResentIsStillAcknowledged) {
    sim::UnitOptions options = Unit(9);
    options.faults.dropAck = 3; // the last of four records
    TcpRig rig{options, 4};
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 19);
    EXPECT_EQ(rig.view.CountLog("-------End of programming"), 1u);
    EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Violations();
    EXPECT_EQ(rig.view.titles.back(), "Tarnik v2.01A_EN  100 %");
}

TEST(TcpProcess, TitleNeverShowsAHundredWhileTheLastRecordIsInFlight) {
    TcpRig rig{Unit(15), 200};
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 19);
    ASSERT_GE(rig.view.titles.size(), 3u);
    EXPECT_EQ(rig.view.titles.front(), "Tarnik v2.01A_EN  0 %");
    EXPECT_EQ(rig.view.titles[rig.view.titles.size() - 2], "Tarnik v2.01A_EN  99 %");
    EXPECT_EQ(rig.view.titles.back(), "Tarnik v2.01A_EN  100 %");
}

TEST(TcpProcess, OtherModelCodesDoNothing) {
    TcpRig rig{Unit(9)};
    rig.Run(3);
    EXPECT_TRUE(rig.view.infoTx.empty());
    EXPECT_TRUE(rig.unit->Report().frames.empty());
    EXPECT_EQ(rig.exitStatus, -1);
}

// ---- the version question ----------------------------------------------------------------

TEST(TcpVersionQuestion, NoInterruptsAndYesProgramsAndOtherVersionLengthsAreNotAsked) {
    {
        TcpRig rig{Unit(4)};
        rig.view.answerYes = false;
        rig.Run();
        EXPECT_EQ(rig.view.questions.size(), 1u);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
        EXPECT_EQ(rig.exitStatus, 6);
        EXPECT_EQ(rig.Frames("restart command"), 0u);
    }
    {
        sim::UnitOptions options = Unit(4);
        options.version = {1, 0, 4};
        TcpRig rig{options};
        rig.view.answerYes = true;
        rig.Run();
        ASSERT_EQ(rig.view.questions.size(), 1u);
        EXPECT_EQ(rig.view.questions[0],
                  "This program is newer version for this unit !\rDo you want programming ?");
        EXPECT_EQ(rig.exitStatus, 19);
    }
    for (const Text version : {"1.5", "1.05a"}) {
        TcpRig rig{Unit(4)};
        rig.header.version = version;
        rig.Run();
        EXPECT_TRUE(rig.view.questions.empty()) << version;
        EXPECT_EQ(rig.exitStatus, 19) << version;
    }
}

FrameBuffer Reply(std::array<std::uint8_t, 3> version, std::optional<sim::UnitDate> date) {
    FrameBuffer reply{};
    reply[3] = date ? 10 : 6;
    reply[6] = version[0];
    reply[7] = version[1];
    reply[8] = version[2];
    if (date) {
        auto bcd = [](int v) { return static_cast<std::uint8_t>((v / 10 % 10) << 4 | v % 10); };
        reply[9] = bcd(date->day);
        reply[10] = bcd(date->month);
        reply[11] = bcd(date->year / 100);
        reply[12] = bcd(date->year % 100);
    }
    return reply;
}

TEST(TcpVersionQuestion, ImageIsNewerByVersionNumberThenByWholeDate) {
    constexpr std::int64_t kNov14of2023 = 1700000000;
    const sim::UnitDate earlier{2023, 12, 15}; // later day and month, earlier year than 2024
    struct Case {
        Text image;
        std::array<std::uint8_t, 3> unit;
        std::optional<sim::UnitDate> unitDate;
        VersionOrder order;
    };
    const Case cases[] = {
        {"1.05", {1, 0, 4}, std::nullopt, VersionOrder::Newer},
        {"1.05", {1, 0, 6}, std::nullopt, VersionOrder::NotNewer},
        {"2.00", {1, 9, 9}, std::nullopt, VersionOrder::Newer}, // as one number
        {"1.05", {1, 0, 5}, std::nullopt, VersionOrder::NotNewer},
        {"1.05", {1, 0, 5}, sim::UnitDate{2023, 11, 13}, VersionOrder::Newer},
        {"1.05", {1, 0, 5}, sim::UnitDate{2023, 11, 14}, VersionOrder::NotNewer},
        {"1.05", {1, 0, 5}, sim::UnitDate{2022, 12, 31}, VersionOrder::Newer}, // whole date
        {"1.05", {1, 0, 5}, earlier, VersionOrder::NotNewer},
        {"1.0x", {1, 0, 5}, std::nullopt, VersionOrder::NotComparable},
        {"1.05", {1, 0, 10}, std::nullopt, VersionOrder::NotComparable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareImageVersion(c.image, kNov14of2023, Reply(c.unit, c.unitDate)), c.order)
            << c.image << " " << int(c.unit[2]);
    FrameBuffer badDate = Reply({1, 0, 5}, sim::UnitDate{2023, 1, 1});
    badDate[10] = 0x1A;
    EXPECT_EQ(CompareImageVersion("1.05", kNov14of2023, badDate), VersionOrder::NotComparable);
}

// ---- the acknowledgment test -------------------------------------------------------------

class LogLines final : public LogSink {
public:
    void LogLine(const Text& line) override { lines.push_back(line); }
    std::vector<Text> lines;
};

TEST(TcpMatchAnswer, SubstringOrSameLengthWithToleratedMissingBits) {
    struct Case {
        Text expected;
        Text received;
        bool match;
        std::size_t notBits;
    };
    const Case cases[] = {
        {"\xEE\xEE\x07\x55", Text("noise\xEE\xEE\x07\x55tail"), true, 0},
        {"\xEE\xC1", "\xEE\x41", true, 1},               // bit 7 missing
        {"\xEE\xC1", "\xEE\x81", true, 1},               // bit 6 missing
        {"\xEE\xC1", Text("\xEE\x01", 2), false, 0},     // both missing
        {"\xEE\xC1", "\xEE\xC3", true, 0},               // an extra bit
        {"\xEE\xC1", Text("\xEE\x41\x00", 3), false, 0}, // one byte longer
        {"\xEE\xC1", "\xEE", false, 0},
        {"\x81\x82\x83", "\x01\x02\x03", true, 3},
        // A disagreement after an agreement ends the comparison.
        {"\x81\x0F\xC1", Text("\x01\x00\x41", 3), false, 1},
        {kNoAnswerYet, "\x78\x79\x7A\xF8\xFF", true, 0},
        {kNoAnswerYet, "", false, 0},
    };
    for (const Case& c : cases) {
        LogLines log;
        EXPECT_EQ(MatchAnswer(c.expected, c.received, log), c.match)
            << BytesToHexList(c.expected) << "/" << BytesToHexList(c.received);
        EXPECT_EQ(log.lines.size(), c.notBits) << BytesToHexList(c.received);
        for (const Text& l : log.lines)
            EXPECT_EQ(l, "!!! NOT BIT");
    }
}

// ---- STOP --------------------------------------------------------------------------------

TEST(TcpStop, StopIsFinalAndASecondStopDoesNothing) {
    TcpRig rig{Unit(9), 30};
    bool stopped = false;
    rig.pump.AddHook([&] {
        if (stopped || rig.programmer->CurrentStep() != TTCP_WR::kProgramming ||
            rig.unit->Report().records.size() < 5)
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
    EXPECT_NE(rig.view.titles.back(), "Tarnik v2.01A_EN  100 %");
    EXPECT_LT(rig.unit->Report().records.size(), 30u);
}

TEST(TcpStop, StopInsideALogLineOrWhileTheLastRecordIsInFlight) {
    {
        // STOP arrives while the expected answer of a new record is logged: that frame never
        // goes out and nothing covers the interruption.
        TcpRig rig{Unit(15), 6};
        rig.view.pumpInLogLine = true;
        bool stopped = false;
        rig.pump.AddHook([&] {
            if (stopped || rig.programmer->CurrentStep() != TTCP_WR::kProgramming ||
                rig.view.log.empty() || rig.view.log.back().rfind("wOczek= ", 0) != 0 ||
                rig.unit->Report().records.size() < 2)
                return;
            stopped = true;
            rig.programmer->StopProcess();
        });
        rig.Run();
        ASSERT_TRUE(stopped);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
        EXPECT_EQ(rig.unit->Report().records.size(), 2u);
        EXPECT_EQ(rig.view.pbar.back(), 1);
    }
    {
        sim::UnitOptions options = Unit(15);
        options.faults.dropAck = 2; // the last record waits for its resend
        TcpRig rig{options, 3};
        rig.AtStep(TTCP_WR::kProgramming, [] {});
        bool stopped = false;
        rig.pump.AddHook([&] {
            if (stopped || rig.unit->Report().records.size() < 3) return;
            stopped = true;
            rig.programmer->StopProcess();
        });
        rig.Run();
        ASSERT_TRUE(stopped);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
        EXPECT_EQ(rig.view.titles.back(), "Tarnik v2.01A_EN  100 %");
    }
}

} // namespace
} // namespace tarnik::test
