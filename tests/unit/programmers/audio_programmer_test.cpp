// TVAUDIO_WR against the emulator's model of the audio verification unit on the virtual
// clock: the step order, statuses, time-outs, answers that must be ignored, STOP and records
// too long for a frame.
#include "programmers/audio_programmer.h"
#include "sim/unit_codec.h"
#include "sim/unit_model.h"

#include "s19_rig.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <utility>

namespace tarnik::test {
namespace {

constexpr std::uint8_t kAddress = 0x2A;

// Records as the loader leaves them: the data area holds the descrambled record.
RecordList AudioRecords(int count, std::size_t dataBytes = 16) {
    RecordList records;
    for (int i = 0; i < count; ++i) {
        TLDane r = MakeRecord(static_cast<std::uint16_t>(0x2000 + i * 0x100),
                              static_cast<std::uint16_t>(0x4321 + i * 0x0F0F), dataBytes);
        std::uint16_t key = r.key;
        const Text plain = sim::DescrambleRun(r.programmingText, key);
        std::copy(plain.begin(), plain.end(), r.dataArea.begin());
        records.push_back(r);
    }
    return records;
}

// Sits on the line between the host and the unit model: counts the host's writes and may
// change every delivery of the unit's bytes (empty ones too) on its way to the host.
class LineTap final : public sim::UnitPeer {
public:
    explicit LineTap(sim::UnitPeer& unit) : unit_(unit) {}
    void OnHostBytes(const Text& bytes, std::uint32_t now, const sim::LineSettings& line) override {
        ++hostWrites;
        unit_.OnHostBytes(bytes, now, line);
    }
    Text TakeUnitBytes(std::uint32_t now) override {
        const Text bytes = unit_.TakeUnitBytes(now);
        return change ? change(bytes) : bytes;
    }
    bool HungUp() const override { return unit_.HungUp(); }

    std::function<Text(const Text&)> change;
    int hostWrites = 0;

private:
    sim::UnitPeer& unit_;
};

struct AudioRig : testing::VirtualLine<RecordingView> {
    explicit AudioRig(const RecordList& list, sim::UnitOptions options = {})
        : VirtualLine(515), unit(sim::CreateUnitModel(Prepared(options, list))), tap(*unit) {
        records = list;
        port.SetPeer(&tap);
        OpenFor(5);
        LimitRun(Rig::kRunLimitMs);
    }
    static sim::UnitOptions Prepared(sim::UnitOptions options, const RecordList& records) {
        options.unitType = 5;
        options.address = kAddress;
        options.image = records;
        return options;
    }
    void Run() {
        StartClock();
        programmer.StartProcess();
    }
    // Virtual milliseconds from the first status line with this caption to the last one.
    std::uint32_t SinceStatus(const Text& caption) const {
        return *view.StatusTime(view.LastInfoTx()) - *view.StatusTime(caption);
    }
    std::string Violations() const {
        std::string text;
        for (const auto& v : unit->Report().violations)
            text += v.text + "\n";
        return text;
    }

    std::unique_ptr<sim::UnitModel> unit;
    LineTap tap;
    TVAUDIO_WR programmer{context, kAddress};
};

const std::vector<Text> kSuccessSteps = {"Sleep",
                                         "Unit identification",
                                         "Connection establishment",
                                         "Booting",
                                         "",
                                         "Erasing Block No 1 memory...",
                                         "Block No memory erasure completed",
                                         "Start of programming",
                                         "Programming ...",
                                         "End of programming",
                                         "Ending programming",
                                         "",
                                         "Verification",
                                         "",
                                         "Starting application program",
                                         "Ending process"};

TEST(AudioFrame, LayoutKeyAndAnswerCheck) {
    const std::uint16_t key = 0xBEEF;
    const std::uint8_t data[] = {0x10, 0x20, 0x30};
    Block block{};
    const audio_frame::Composed frame = audio_frame::Compose(block, kAddress, 0x31, data, key);
    ASSERT_EQ(frame.length, 12); // count + 9
    EXPECT_EQ(audio_frame::Compose(block, kAddress, 0x01, {}, 1).length, 9);
    audio_frame::Compose(block, kAddress, 0x31, data, key);
    const Text wire(block.begin(), block.begin() + 12);
    // EE EE, two body bytes, the key high byte first, the rest of the body as one run.
    EXPECT_EQ(wire.substr(0, 2), "\xEE\xEE");
    EXPECT_EQ(wire.substr(4, 2), "\xBE\xEF");
    std::uint16_t k = key;
    const Text body = sim::DescrambleRun(wire.substr(2, 2) + wire.substr(6), k);
    EXPECT_EQ(body, Text("\x0A\x2A\x08\x31\x10\x20\x30\xE6", 8)); // check: FF XOR the rest
    EXPECT_EQ(frame.keptKey, k);

    // The answer is checked whole under the kept key.
    k = frame.keptKey;
    const Text answer = "\xEE\xEE" + sim::ScrambleRun(Text("\x06\x2A\x08\x31\x00\xEA", 6), k);
    const auto status = [](const Text& a, std::uint16_t kept, std::uint8_t command) {
        return audio_frame::StatusOf(
            std::span(reinterpret_cast<const std::uint8_t*>(a.data()), a.size()), kept, kAddress,
            command);
    };
    EXPECT_EQ(status(answer, frame.keptKey, 0x31), 0);
    EXPECT_EQ(status(answer, frame.keptKey, 0x41), std::nullopt);
    EXPECT_EQ(status(answer, frame.keptKey ^ 0x0100, 0x31), std::nullopt);
    for (std::size_t i = 2; i < answer.size(); ++i) {
        Text changed = answer;
        changed[i] = static_cast<char>(changed[i] ^ 0x01);
        EXPECT_EQ(status(changed, frame.keptKey, 0x31), std::nullopt) << "byte " << i;
    }
}

TEST(AudioProgrammer, WholeOrderWithTheFirstRecordPassedOver) {
    for (const int count : {1, 2, 3}) {
        AudioRig rig(AudioRecords(count));
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 18) << count;
        EXPECT_EQ(rig.view.StepLines(), kSuccessSteps) << count;
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Ending process");
        EXPECT_TRUE(rig.unit->HostCorrect()) << count << "\n" << rig.Violations();
        EXPECT_EQ(rig.unit->Report().verifications.size(), static_cast<std::size_t>(count - 1));
        // Both passes walk the bar and the title to the end.
        std::vector<int> bar;
        for (int i = 0; i < 2 * count; ++i)
            bar.push_back(i % count + 1);
        EXPECT_EQ(rig.view.pbar, bar) << count;
        EXPECT_EQ(rig.view.titles.back(), "Tarnik v2.01A_EN  100 %");
        EXPECT_TRUE(rig.programmer.Done());
        // A second start on the same object does nothing.
        const int writes = rig.tap.hostWrites;
        rig.Run();
        EXPECT_EQ(rig.tap.hostWrites, writes);
    }
}

TEST(AudioProgrammer, FailuresEndInTheStepThatFailed) {
    struct Case {
        const char* name;
        RecordList records;
        void (*fault)(sim::UnitOptions&);
        int exitStatus;
        Text step;
        std::uint32_t timeoutMs = 0; // from the step's start, on the virtual clock
    };
    RecordList tooLong = AudioRecords(3);
    tooLong.insert(tooLong.begin() + 2, AudioRecords(1, 244).front()); // 249 bytes
    const Case cases[] = {
        {"status from the erasure", AudioRecords(3), [](auto& o) { o.faults.eraseFail = true; },
         7 + 5376, "Erasing Block No 1 memory..."},
        {"status from a verification", AudioRecords(3),
         [](auto& o) { o.faults.verifyMismatch = 2; }, 15 + 5376, "Verification"},
        {"silent unit", AudioRecords(2), [](auto& o) { o.faults.silent = true; }, 2 + 5376,
         "Unit identification", 5000},
        {"line dropped at record 2", AudioRecords(4), [](auto& o) { o.faults.hangupAtRecord = 2; },
         10 + 5376, "Programming ..."},
        {"erasure beyond 30 s", AudioRecords(2), [](auto& o) { o.eraseStepMs = 31000; }, 7 + 5376,
         "Erasing Block No 1 memory...", 30000},
        {"record too long for a frame", tooLong, [](auto&) {}, 10 + 5376, "Programming ..."},
        // The check byte fits the answer, but the answer is not this unit's.
        {"answers from another address", AudioRecords(2),
         [](auto& o) { o.faults.foreignAddress = true; }, 2 + 5376, "Unit identification", 5000},
    };
    for (const Case& c : cases) {
        sim::UnitOptions options;
        c.fault(options);
        AudioRig rig(c.records, options);
        rig.Run();
        EXPECT_EQ(rig.exitStatus, c.exitStatus) << c.name;
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: An error occurred. " + c.step) << c.name;
        EXPECT_EQ(rig.view.colour, StatusColour::Red) << c.name;
        EXPECT_TRUE(rig.unit->Report().violations.empty()) << c.name << "\n" << rig.Violations();
        if (c.timeoutMs > 0) {
            EXPECT_NEAR(rig.SinceStatus("Process status: " + c.step), c.timeoutMs + 100, 100);
        }
    }
    sim::UnitOptions slowErase;
    slowErase.eraseStepMs = 29000;
    AudioRig slow(AudioRecords(2), slowErase);
    slow.Run();
    EXPECT_EQ(slow.exitStatus, 18);

    // Nothing of the long record went out; a long record 0 is passed over; 248 bytes fit.
    AudioRig rig(tooLong);
    rig.Run();
    EXPECT_EQ(rig.view.CountLog("Record 2 has 249 bytes; a frame carries at most 248"), 1u);
    EXPECT_EQ(rig.unit->Report().records.size(), 1u);
    RecordList fits = AudioRecords(2, 243);
    fits.insert(fits.begin(), AudioRecords(1, 250).front());
    AudioRig ok(fits);
    ok.Run();
    EXPECT_EQ(ok.exitStatus, 18);
    EXPECT_TRUE(ok.unit->HostCorrect()) << ok.Violations();
}

TEST(AudioProgrammer, AnswersThatDoNotCheckOutAreIgnored) {
    int answers = 0;
    auto rest = std::make_shared<Text>();
    const std::pair<const char*, std::function<Text(const Text&)>> cases[] = {
        // The third answer's status byte changed on the line: its check byte no longer fits.
        {"bad check byte",
         [&answers](Text bytes) {
             if (!bytes.empty() && ++answers == 3) bytes[6] = static_cast<char>(bytes[6] ^ 0x05);
             return bytes;
         }},
        // By the next dispatch the copy answers an older frame.
        {"every answer twice", [](const Text& bytes) { return bytes + bytes; }},
        {"junk and half a marker before every answer",
         [](const Text& bytes) { return bytes.empty() ? bytes : "\x01\xEE\x7F" + bytes; }},
        {"answers split after their first byte",
         [rest](const Text& bytes) {
             const Text out = *rest + bytes.substr(0, 1);
             *rest = bytes.empty() ? Text() : bytes.substr(1);
             return out;
         }},
    };
    for (const auto& [name, change] : cases) {
        AudioRig rig(AudioRecords(3));
        rig.tap.change = change;
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 18) << name;
        EXPECT_EQ(rig.view.StepLines(), kSuccessSteps) << name;
        EXPECT_TRUE(rig.unit->HostCorrect()) << name << "\n" << rig.Violations();
    }
    EXPECT_GE(answers, 3);
}

// An answer is taken under the key of whichever frame of the step (or record) it answers, so
// answers later than the next frame count; the erasure resends its frame unchanged for 10 s,
// so a unit busy erasing answers the frame that started it.
TEST(AudioProgrammer, LateAnswersAndLongErasuresAreTaken) {
    for (const auto& [delayMs, eraseMs] :
         {std::pair{120u, 0u}, {1000u, 0u}, {0u, 1500u}, {0u, 25000u}}) {
        sim::UnitOptions options;
        options.faults.answerDelayMs = delayMs;
        options.faults.eraseBusyMs = eraseMs;
        AudioRig rig(AudioRecords(3), options);
        rig.Run();
        EXPECT_EQ(rig.exitStatus, 18) << delayMs << " " << eraseMs;
        EXPECT_TRUE(rig.unit->HostCorrect()) << rig.Violations();
        std::set<Text> eraseFrames;
        for (const auto& f : rig.unit->Report().frames)
            if (f.what.rfind("erase command", 0) == 0) eraseFrames.insert(f.bytes);
        EXPECT_EQ(eraseFrames.size(), eraseMs / 10000 + 1) << eraseMs;
    }
}

// The time-out is looked at before an answer is taken; the pass that ends a step and the end
// step itself send the last frame once more, as the poll loop does after every dispatch.
TEST(AudioProgrammer, TimeOutComesFirstAndTheLastPassesSendTheLastFrame) {
    const std::tuple<int, int, Text> cases[] = {
        {-1, 2 + 5376, "An error occurred. Unit identification"},
        {-1, 18, "Ending process"},
        {2, 15 + 5376, "An error occurred. Verification"}};
    for (const auto& [mismatch, exitStatus, stepLine] : cases) {
        sim::UnitOptions options;
        options.faults.verifyMismatch = mismatch;
        AudioRig rig(AudioRecords(3), options);
        // The first case's answers reach the host only after the identification's 5 s.
        auto held = std::make_shared<Text>();
        if (exitStatus == 2 + 5376) {
            rig.tap.change = [&rig, held](const Text& bytes) {
                const auto start = rig.view.StatusTime("Process status: Unit identification");
                *held += bytes;
                if (start && rig.clock.TickMs() - *start <= 5000) return Text();
                return std::exchange(*held, Text());
            };
        }
        rig.view.pumpInLogLine = true;
        int writesAtLine = -1;
        rig.pump.AddHook([&] {
            if (writesAtLine < 0 && !rig.view.log.empty() &&
                rig.view.log.back() == "-------" + stepLine)
                writesAtLine = rig.tap.hostWrites;
        });
        rig.Run();
        EXPECT_EQ(rig.exitStatus, exitStatus) << stepLine;
        EXPECT_EQ(rig.tap.hostWrites - writesAtLine, 2) << stepLine;
    }
}

TEST(AudioProgrammer, StopInEveryPhaseIsFinal) {
    for (const int step : {2, 4, 3, 7, 9, 10, 12, 14, 15, 16, 18}) {
        AudioRig rig(AudioRecords(3));
        int writesAtStop = -1;
        bool stopped = false;
        rig.pump.AddHook([&] {
            if (stopped || rig.programmer.CurrentStep() != step) return;
            stopped = true;
            rig.programmer.StopProcess();
            writesAtStop = rig.tap.hostWrites;
            rig.programmer.StopProcess(); // a second STOP does nothing
        });
        rig.Run();
        EXPECT_EQ(rig.exitStatus, step);
        EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process") << step;
        EXPECT_EQ(rig.view.CountLog("-------Interrupting process"), 1u) << step;
        EXPECT_EQ(rig.tap.hostWrites, writesAtStop) << step; // nothing sent after it
    }

    // STOP inside the log line of a step change: the change does not cover it.
    AudioRig rig(AudioRecords(3));
    rig.view.pumpInLogLine = true;
    bool stopped = false;
    rig.pump.AddHook([&] {
        if (stopped || rig.view.log.empty() || rig.view.log.back() != "-------Verification") return;
        stopped = true;
        rig.programmer.StopProcess();
    });
    rig.Run();
    EXPECT_EQ(rig.exitStatus, 15);
    EXPECT_EQ(rig.view.LastInfoTx(), "Process status: Interrupting process");
    EXPECT_EQ(rig.view.pbar.size(), 3u); // the verification pass showed no progress
}

} // namespace
} // namespace tarnik::test
