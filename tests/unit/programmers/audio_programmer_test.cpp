// TVAUDIO_WR against the emulator's model of the audio verification unit on the virtual
// clock: the step order, statuses, time-outs, answers that must be ignored, STOP and records
// too long for a frame.
#include "programmers/audio_programmer.h"
#include "sim/unit_model.h"

#include "s19_rig.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>

namespace tarnik::test {
namespace {

constexpr std::uint8_t kAddress = 0x2A;
constexpr int kEndingProcessExit = 18;

// Records as the loader leaves them: the data area holds the descrambled record.
RecordList AudioRecords(int count, std::size_t dataBytes = 16) {
    RecordList records;
    for (int i = 0; i < count; ++i) {
        TLDane record = MakeRecord(static_cast<std::uint16_t>(0x2000 + i * 0x100),
                                   static_cast<std::uint16_t>(0x4321 + i * 0x0F0F), dataBytes);
        Text plain;
        UnscrambleText(record.programmingText, 1, plain, record.key);
        for (std::size_t b = 0; b < plain.size() && b < record.dataArea.size(); ++b)
            record.dataArea[b] = ByteAt(plain, b);
        records.push_back(record);
    }
    return records;
}

// Sits on the line between the host and the unit model: counts the host's frames and may
// change the unit's bytes on their way to the host (change sees every delivery, empty ones
// too).
class LineTap final : public sim::UnitPeer {
public:
    explicit LineTap(sim::UnitPeer& unit) : unit_(unit) {}
    void OnHostBytes(const Text& bytes, std::uint32_t now, const sim::LineSettings& line) override {
        ++hostWrites;
        unit_.OnHostBytes(bytes, now, line);
    }
    Text TakeUnitBytes(std::uint32_t now) override {
        Text bytes = unit_.TakeUnitBytes(now);
        return change ? change(bytes) : bytes;
    }
    bool HungUp() const override { return unit_.HungUp(); }

    std::function<Text(const Text&)> change;
    int hostWrites = 0;

private:
    sim::UnitPeer& unit_;
};

struct AudioRig {
    explicit AudioRig(RecordList list, sim::UnitOptions options = {})
        : records(std::move(list)), unit(sim::CreateUnitModel(Prepared(options, records))),
          tap(*unit) {
        pump.AddPort(&port);
        port.SetBaudRate(cbr38400);
        port.Open();
        view.unitType = 5;
        pump.AddHook([this] {
            if (clock.TickMs() - startedAt > Rig::kRunLimitMs) throw std::runtime_error("limit");
        });
    }

    static sim::UnitOptions Prepared(sim::UnitOptions options, const RecordList& records) {
        options.unitType = 5;
        options.address = kAddress;
        options.image = records;
        return options;
    }

    void Run() {
        startedAt = clock.TickMs();
        programmer.StartProcess();
    }

    // Calls fn once, at the first message processing that finds the process in the step.
    void AtStep(int step, std::function<void()> fn) {
        auto done = std::make_shared<bool>(false);
        pump.AddHook([this, step, fn, done] {
            if (*done || programmer.CurrentStep() != step) return;
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

    sim::VirtualClock clock;
    RecordList records;
    std::unique_ptr<sim::UnitModel> unit;
    LineTap tap;
    sim::SimulatedPort port{clock, &tap};
    sim::LoopbackPump pump;
    RecordingView view{pump, clock};
    TFUstaw link{port, pump, clock, view};
    KeyGenerator keys{515};
    int exitStatus = -1;
    ImageHeader header;
    ProcessContext context{view, link, clock, records, keys, exitStatus, header};
    TVAUDIO_WR programmer{context, kAddress};
    std::uint32_t startedAt = 0;
};

const std::vector<Text> kSuccessSteps = {
    "Sleep",
    "Unit identification",
    "Connection establishment",
    "Booting",
    "", // identification in the bootloader
    "Erasing Block No 1 memory...",
    "Block No memory erasure completed",
    "Start of programming",
    "Programming ...",
    "End of programming",
    "Ending programming",
    "", // start of verification
    "Verification",
    "", // end of verification
    "Starting application program",
    "Ending process",
};

TEST(AudioFrame, LayoutKeyAndAnswerCheck) {
    const std::uint16_t key = 0xBEEF;
    const std::uint8_t data[] = {0x10, 0x20, 0x30};
    Block block{};
    const audio_frame::Composed frame = audio_frame::Compose(block, kAddress, 0x31, data, key);
    ASSERT_EQ(frame.length, 12); // count + 9
    EXPECT_EQ(block[0], 0xEE);
    EXPECT_EQ(block[1], 0xEE);
    EXPECT_EQ(block[4], 0xBE); // the key, high byte first, after two body bytes
    EXPECT_EQ(block[5], 0xEF);

    // The body is one scrambled run around the key field.
    Text scrambled;
    for (int i : {2, 3, 6, 7, 8, 9, 10, 11})
        scrambled += AsChar(block[static_cast<std::size_t>(i)]);
    Text body;
    UnscrambleText(scrambled, 1, body, key);
    EXPECT_EQ(body, Text("\x0A\x2A\x08\x31\x10\x20\x30", 7) +
                        AsChar(static_cast<std::uint8_t>(0xFF ^ 0x0A ^ 0x2A ^ 0x08 ^ 0x31 ^ 0x10 ^
                                                         0x20 ^ 0x30)));
    Text rescrambled;
    EXPECT_EQ(frame.keptKey, ScrambleText(body, 1, rescrambled, key));

    // A command without data: nine bytes.
    EXPECT_EQ(audio_frame::Compose(block, kAddress, 0x01, {}, key).length, 9);

    // The answer: checked whole under the kept key; any changed byte or another key fails.
    const std::uint8_t plain[] = {
        6,    kAddress, 0x08,
        0x31, 0x00,     static_cast<std::uint8_t>(0xFF ^ 6 ^ kAddress ^ 0x08 ^ 0x31)};
    Block answerBody{};
    std::copy(std::begin(plain), std::end(plain), answerBody.begin());
    Block answerScrambled{};
    int n = 0;
    ScrambleBlock(answerBody, 0, 5, answerScrambled, n, frame.keptKey);
    std::array<std::uint8_t, 8> answer{0xEE, 0xEE};
    std::copy_n(answerScrambled.begin(), 6, answer.begin() + 2);
    EXPECT_EQ(audio_frame::StatusOf(answer, frame.keptKey, kAddress, 0x31), 0);
    EXPECT_EQ(audio_frame::StatusOf(answer, frame.keptKey, kAddress, 0x41), std::nullopt);
    EXPECT_EQ(audio_frame::StatusOf(answer, frame.keptKey ^ 0x0100, kAddress, 0x31), std::nullopt);
    for (std::size_t i = 2; i < answer.size(); ++i) {
        auto changed = answer;
        changed[i] ^= 0x01;
        EXPECT_EQ(audio_frame::StatusOf(changed, frame.keptKey, kAddress, 0x31), std::nullopt)
            << "byte " << i;
    }
}

TEST(AudioProgrammer, WholeOrderWithTheFirstRecordPassedOver) {
    for (const int count : {1, 2, 3}) {
        AudioRig rig(AudioRecords(count));
        rig.Run();
        EXPECT_EQ(rig.exitStatus, kEndingProcessExit) << count;
        EXPECT_EQ(rig.view.StepLines(), kSuccessSteps) << count;
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Ending process");
        EXPECT_EQ(rig.view.colour, StatusColour::Black);
        EXPECT_TRUE(rig.unit->Report().complete) << count;
        EXPECT_TRUE(rig.unit->HostCorrect()) << count << "\n" << rig.Violations();
        EXPECT_EQ(rig.unit->Report().records.size(), static_cast<std::size_t>(count - 1));
        EXPECT_EQ(rig.unit->Report().verifications.size(), static_cast<std::size_t>(count - 1));
        // Both passes walk the bar to the end and the title to 100 %.
        std::vector<int> expectedBar;
        for (int pass = 0; pass < 2; ++pass)
            for (int i = 1; i <= count; ++i)
                expectedBar.push_back(i);
        EXPECT_EQ(rig.view.pbar, expectedBar) << count;
        EXPECT_TRUE(rig.view.pbarVisible);
        ASSERT_FALSE(rig.view.titles.empty());
        EXPECT_EQ(rig.view.titles.back(), "Tarnik v2.01A_EN  100 %");
        EXPECT_FALSE(rig.programmer.Running());
        EXPECT_TRUE(rig.programmer.Done());
    }
    AudioRig three(AudioRecords(3));
    three.Run();
    EXPECT_EQ(three.view.titles.front(), "Tarnik v2.01A_EN  33 %");
}

TEST(AudioProgrammer, RunsOnlyOnce) {
    AudioRig rig(AudioRecords(2));
    rig.Run();
    const int writes = rig.tap.hostWrites;
    const std::size_t lines = rig.view.log.size();
    rig.Run();
    EXPECT_EQ(rig.tap.hostWrites, writes);
    EXPECT_EQ(rig.view.log.size(), lines);
    EXPECT_EQ(rig.exitStatus, kEndingProcessExit);
}

TEST(AudioProgrammer, StatusOtherThanZeroEndsWithTheStepInError) {
    struct Case {
        const char* name;
        void (*fault)(sim::UnitFaults&);
        int exitStatus;
        const char* status;
    };
    const Case cases[] = {
        {"erase fails", [](sim::UnitFaults& f) { f.eraseFail = true; }, 7 + 5376,
         "Process status: An error occurred. Erasing Block No 1 memory..."},
        {"verification differs", [](sim::UnitFaults& f) { f.verifyMismatch = 2; }, 15 + 5376,
         "Process status: An error occurred. Verification"},
    };
    for (const Case& c : cases) {
        sim::UnitOptions options;
        c.fault(options.faults);
        AudioRig rig(AudioRecords(3), options);
        rig.Run();
        EXPECT_EQ(rig.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(rig.view.LastInfoTx(), c.status) << c.name;
        EXPECT_EQ(rig.view.colour, StatusColour::Red) << c.name;
        EXPECT_TRUE(rig.unit->Report().violations.empty()) << c.name << "\n" << rig.Violations();
        // Nothing more goes to the unit after the failure.
        EXPECT_EQ(rig.unit->Report().frames.back().timeMs <= *rig.view.StatusTime(c.status) + 10,
                  true)
            << c.name;
    }
}

TEST(AudioProgrammer, TimeOutsPerStepPerRecordAndForTheErasure) {
    {
        sim::UnitOptions options;
        options.faults.silent = true;
        AudioRig rig(AudioRecords(2), options);
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 2 + 5376);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Unit identification");
        const std::uint32_t started = *rig.view.StatusTime("Process status: Unit identification");
        const std::uint32_t failed = *rig.view.StatusTime(rig.view.LastInfoTx());
        EXPECT_GT(failed - started, 5000u);
        EXPECT_LE(failed - started, 5200u);
    }
    {
        // The unit drops the line at record 2: record 1 was accepted, record 2 times out.
        sim::UnitOptions options;
        options.faults.hangupAtRecord = 2;
        AudioRig rig(AudioRecords(4), options);
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 10 + 5376);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Programming ...");
        EXPECT_EQ(rig.view.pbar, (std::vector<int>{1, 2}));
        EXPECT_GT(rig.unit->Report().records.size(), 1u);
    }
    // The erasure may take up to 30 s.
    for (const std::uint32_t eraseMs : {29000u, 31000u}) {
        sim::UnitOptions options;
        options.eraseStepMs = eraseMs;
        AudioRig rig(AudioRecords(2), options);
        rig.Run();
        if (eraseMs < 30000) {
            EXPECT_EQ(rig.exitStatus, kEndingProcessExit);
            EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Violations();
        } else {
            EXPECT_EQ(rig.exitStatus, 7 + 5376);
            const std::uint32_t started =
                *rig.view.StatusTime("Process status: Erasing Block No 1 memory...");
            const std::uint32_t failed = *rig.view.StatusTime(rig.view.LastInfoTx());
            EXPECT_GT(failed - started, 30000u);
            EXPECT_LE(failed - started, 30200u);
        }
    }
}

TEST(AudioProgrammer, AnswersThatDoNotCheckOutAreIgnored) {
    struct Case {
        const char* name;
        std::function<Text(const Text&)> change;
    };
    int seen = 0;
    const Case cases[] = {
        // The third answer arrives with its status byte changed (say to an error): its check
        // byte no longer fits; the step goes on and the next frame's answer is taken.
        {"bad check byte",
         [&seen](const Text& bytes) {
             Text out = bytes;
             if (!out.empty() && ++seen == 3)
                 out[6] = AsChar(static_cast<std::uint8_t>(ByteAt(out, 6) ^ 0x05));
             return out;
         }},
        // Every answer twice: the copy is an answer to an older frame by the next dispatch.
        {"every answer twice", [](const Text& bytes) { return bytes + bytes; }},
        // Junk and half a marker before every answer.
        {"junk before answers",
         [](const Text& bytes) { return bytes.empty() ? bytes : Text("\x01\xEE\x7F", 3) + bytes; }},
        // Answers split after the marker's first byte; the rest comes at the next delivery.
        {"split answers", nullptr},
    };
    for (const Case& c : cases) {
        AudioRig rig(AudioRecords(3));
        rig.tap.change = c.change;
        if (!c.change) {
            auto rest = std::make_shared<Text>();
            rig.tap.change = [rest](const Text& bytes) {
                Text out = *rest + bytes.substr(0, 1);
                *rest = bytes.empty() ? Text() : bytes.substr(1);
                return out;
            };
        }
        rig.Run();
        EXPECT_EQ(rig.exitStatus, kEndingProcessExit) << c.name;
        EXPECT_EQ(rig.view.StepLines(), kSuccessSteps) << c.name;
        EXPECT_TRUE(rig.unit->HostCorrect()) << c.name << "\n" << rig.Violations();
    }
    EXPECT_GE(seen, 3);

    sim::UnitOptions options;
    options.faults.noise = true;
    options.faults.dropAck = 1;
    AudioRig noisy(AudioRecords(3), options);
    noisy.Run();
    EXPECT_EQ(noisy.exitStatus, kEndingProcessExit);
    EXPECT_TRUE(noisy.unit->HostCorrect()) << noisy.Violations();
}

TEST(AudioProgrammer, StopInEveryPhaseIsFinal) {
    for (const int step : {2, 4, 3, 7, 9, 10, 12, 14, 15, 16, 18}) {
        AudioRig rig(AudioRecords(3));
        int writesAtStop = -1;
        rig.AtStep(step, [&] {
            rig.programmer.StopProcess();
            writesAtStop = rig.tap.hostWrites;
            rig.programmer.StopProcess(); // a second STOP does nothing
        });
        rig.Run();
        EXPECT_EQ(rig.exitStatus, step) << step;
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process") << step;
        EXPECT_EQ(rig.view.CountLog("-------Interrupting process"), 1u) << step;
        EXPECT_EQ(rig.tap.hostWrites, writesAtStop) << step;
        EXPECT_TRUE(rig.programmer.Done());
    }

    // STOP inside the log line of a step change: the change does not cover it.
    AudioRig rig(AudioRecords(3));
    rig.view.pumpInLogLine = true;
    bool stopped = false;
    rig.pump.AddHook([&] {
        if (!stopped && !rig.view.log.empty() && rig.view.log.back() == "-------Verification") {
            stopped = true;
            rig.programmer.StopProcess();
        }
    });
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 15);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
    EXPECT_TRUE(rig.view.pbar.size() == 3u); // the verification pass never showed progress
}

TEST(AudioProgrammer, RecordTooLongForTheLengthByteEndsBeforeItIsSent) {
    // 248 bytes is the most a frame carries; record 0 is passed over whatever its length.
    RecordList fits = AudioRecords(2, 243);
    fits.insert(fits.begin(), AudioRecords(1, 250).front());
    ASSERT_EQ(fits[1].length, 248);
    AudioRig ok(fits);
    ok.Run();
    EXPECT_EQ(ok.exitStatus, kEndingProcessExit);
    EXPECT_TRUE(ok.unit->HostCorrect()) << ok.Violations();

    RecordList list = AudioRecords(3);
    list.insert(list.begin() + 2, AudioRecords(1, 244).front()); // 249 bytes
    AudioRig rig(list);
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 10 + 5376);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. Programming ...");
    EXPECT_EQ(rig.view.CountLog("Record 2 has 249 bytes; a frame carries at most 248"), 1u);
    // Record 1 went out; nothing of record 2.
    ASSERT_EQ(rig.unit->Report().records.size(), 1u);
    for (const sim::FrameEntry& frame : rig.unit->Report().frames)
        EXPECT_LT(frame.bytes.size(), 200u);
}

} // namespace
} // namespace tarnik::test
