// Fast pacing of the main-family and network-module programmers against the emulated unit on
// the in-process line: the unit sees the same frames in the same order as at the standard
// pacing, no frame starts within the turnaround guard after the unit's last byte, and no
// frame is repeated sooner than the standard loop would repeat it.
#include "host_side.h"
#include "programmers/s19_programmer.h"
#include "programmers/tcp_programmer.h"
#include "serial/tfustaw.h"
#include "sim/loopback.h"
#include "sim/quiet_view.h"
#include "support/virtual_line.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace tarnik::sim::testing {
namespace {

// The unit as the line sees it: when each host write started and when the unit's bytes
// reached the host.
class TimedPeer final : public UnitPeer {
public:
    explicit TimedPeer(UnitModel& unit) : unit_(unit) {}

    void OnHostBytes(const Text& bytes, std::uint32_t nowMs, const LineSettings& line) override {
        writes.push_back({nowMs, bytes, lastUnitByteMs});
        unit_.OnHostBytes(bytes, nowMs, line);
    }
    Text TakeUnitBytes(std::uint32_t nowMs) override {
        Text bytes = unit_.TakeUnitBytes(nowMs);
        if (!bytes.empty()) lastUnitByteMs = nowMs;
        return bytes;
    }
    bool HungUp() const override { return unit_.HungUp(); }
    std::optional<std::uint32_t> NextEventMs() const override { return unit_.NextEventMs(); }

    struct Write {
        std::uint32_t startMs;
        Text bytes;
        std::optional<std::uint32_t> unitByteBeforeMs; // the unit's last byte before it
    };
    std::vector<Write> writes;
    std::optional<std::uint32_t> lastUnitByteMs;

private:
    UnitModel& unit_;
};

struct RunResult {
    int exitStatus = -1;
    std::uint32_t elapsedMs = 0;
    std::vector<TimedPeer::Write> writes;
    std::vector<Text> frames; // as the unit's report lists them
    bool hostCorrect = false;
    std::string report;
    int baud = 0;
};

// One whole process of the unit's family on a virtual clock, the keys drawn from seed 7.
RunResult RunProcess(const UnitOptions& options, const Pacing& pacing) {
    const auto unit = CreateUnitModel(options);
    TimedPeer peer(*unit);
    tarnik::testing::VirtualLine<QuietProcessView> line(7);
    line.port.SetPeer(&peer);
    QuietProcessView& view = line.view;
    view.unitType = options.unitType;
    view.bootAddress = options.address;
    view.edNrSerial = "12345678";
    view.answerYes = true;
    line.records = *options.image;
    line.context.pacing = pacing;
    line.OpenFor(options.unitType);
    ProcessContext& context = line.context;
    RunResult run;
    const std::uint32_t start = line.clock.TickMs();
    const int type = options.unitType;
    if (IsNetworkModuleType(type)) {
        TTCP_WR programmer(context);
        programmer.Configure(options.address, FindUnitType(type)->modelCode);
        programmer.StartProcess();
    } else {
        TS19_WR programmer(context, options.address);
        programmer.StartProcess(type);
    }
    run.exitStatus = line.exitStatus;
    run.elapsedMs = line.clock.TickMs() - start;
    run.writes = peer.writes;
    for (const FrameEntry& f : unit->Report().frames)
        run.frames.push_back(f.bytes);
    run.hostCorrect = unit->HostCorrect();
    run.report = ReportToJson(unit->Report(), false);
    run.baud = BaudRateBits(line.port.BaudRate());
    return run;
}

UnitOptions MainFamily(int type, const std::function<void(UnitFaults&)>& faults = {}) {
    UnitOptions options;
    options.unitType = type;
    options.address = type == 1 ? 0x05 : 0x00;
    options.image = S19Image(6);
    options.faults.eraseProgress = {1, 2};
    if (faults) faults(options.faults);
    return options;
}

const Pacing kStandard{};
const Pacing kFast{true, kDefaultTurnaroundMs};

// The standard wait after a frame at the given line speed: ten characters more than the
// frame on the wire, plus 20 ms.
std::uint32_t StandardWaitMs(const Text& frame, int baud) {
    return static_cast<std::uint32_t>((frame.size() + 10) * 10000 / baud) + 20;
}

// A frame that goes out again (alone, or alternating with another) comes at least the
// standard wait after the frame before it.
void ExpectNoEarlyRepeat(const RunResult& run) {
    for (std::size_t i = 1; i < run.writes.size(); ++i) {
        const TimedPeer::Write& before = run.writes[i - 1];
        const TimedPeer::Write& now = run.writes[i];
        bool repeat = false;
        for (std::size_t j = 0; j < i && !repeat; ++j)
            repeat = run.writes[j].bytes == now.bytes;
        if (!repeat) continue;
        EXPECT_GE(now.startMs - before.startMs, StandardWaitMs(before.bytes, run.baud))
            << "write " << i << " of " << run.writes.size();
    }
}

TEST(FastPacing, TheUnitSeesTheSameFramesInTheSameOrderAsAtTheStandardPacing) {
    const std::map<std::string, UnitOptions> cases = {
        {"clean", MainFamily(1)},
        {"dropped acknowledgment", MainFamily(1, [](UnitFaults& f) { f.dropAck = 3; })},
        {"noise", MainFamily(1, [](UnitFaults& f) { f.noise = true; })},
        {"noise, type 3", MainFamily(3, [](UnitFaults& f) { f.noise = true; })},
    };
    for (const auto& [name, options] : cases) {
        const RunResult standard = RunProcess(options, kStandard);
        const RunResult fast = RunProcess(options, kFast);
        EXPECT_EQ(standard.exitStatus, 20) << name << standard.report;
        EXPECT_EQ(fast.exitStatus, 20) << name << fast.report;
        EXPECT_TRUE(fast.hostCorrect) << name << fast.report;
        EXPECT_EQ(fast.frames, standard.frames) << name;
        EXPECT_LT(fast.elapsedMs, standard.elapsedMs) << name;
    }
}

TEST(FastPacing, NoFrameStartsWithinTheTurnaroundGuardAfterTheUnitsLastByte) {
    for (const std::uint32_t guard : {0u, 2u, 7u, 50u}) {
        for (const bool noise : {false, true}) {
            const UnitOptions options = MainFamily(2, [&](UnitFaults& f) { f.noise = noise; });
            const RunResult run = RunProcess(options, Pacing{true, guard});
            EXPECT_EQ(run.exitStatus, 20) << "guard " << guard << run.report;
            for (const TimedPeer::Write& w : run.writes) {
                if (w.unitByteBeforeMs) {
                    EXPECT_GE(w.startMs - *w.unitByteBeforeMs, guard) << "guard " << guard;
                }
            }
        }
    }
}

// A slow unit makes the verification frames go out again on every round (with noise coming
// in while no answer is complete), a dropped acknowledgment makes a record go out again
// after its resend interval; the rest run into time-outs. Repeats until a time-out may differ
// in number (the standard loop rounds its waits up to its sleep), so only the ending and
// the spacing are compared.
TEST(FastPacing, RepeatsComeNoSoonerThanAtTheStandardPacingAndRunsEndAlike) {
    const std::map<std::string, UnitOptions> cases = {
        {"slow unit", MainFamily(0,
                                 [](UnitFaults& f) {
                                     f.answerDelayMs = 150;
                                     f.dropAck = 1;
                                     f.noise = true;
                                 })},
        {"verify mismatch", MainFamily(0, [](UnitFaults& f) { f.verifyMismatch = 1; })},
        {"wrong type", MainFamily(0, [](UnitFaults& f) { f.wrongType = true; })},
        {"erase fails", MainFamily(1, [](UnitFaults& f) { f.eraseFail = true; })},
        {"silent", MainFamily(1, [](UnitFaults& f) { f.silent = true; })},
    };
    for (const auto& [name, options] : cases) {
        const RunResult standard = RunProcess(options, kStandard);
        const RunResult fast = RunProcess(options, kFast);
        EXPECT_EQ(fast.exitStatus, standard.exitStatus) << name << fast.report;
        ExpectNoEarlyRepeat(fast);
    }
}

TEST(FastPacing, NetworkModulesAreProgrammedWithConnectionFramesSpacedAsAtTheStandardPacing) {
    for (const int type : {4, 9, 15}) {
        UnitOptions options;
        options.unitType = type;
        options.address = 0x07;
        options.image = NetImage(6);
        options.faults.noise = type == 9;
        options.faults.answerDelayMs = 60; // the connection frames go out more than once
        const RunResult standard = RunProcess(options, kStandard);
        const RunResult fast = RunProcess(options, kFast);
        EXPECT_EQ(fast.exitStatus, standard.exitStatus) << "type " << type << fast.report;
        EXPECT_TRUE(fast.hostCorrect) << "type " << type << fast.report;
        EXPECT_LT(fast.elapsedMs, standard.elapsedMs) << "type " << type;
        ExpectNoEarlyRepeat(fast);
        for (const TimedPeer::Write& w : fast.writes) {
            if (w.unitByteBeforeMs) {
                EXPECT_GE(w.startMs - *w.unitByteBeforeMs, kDefaultTurnaroundMs);
            }
        }
    }
}

} // namespace
} // namespace tarnik::sim::testing
