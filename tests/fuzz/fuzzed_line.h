#pragma once
// A whole programming process on the in-process line with the unit's side taken from the
// fuzzer's input: its bytes arrive in pieces of random size and spacing through the port's
// character-received event, i.e. through TFUstaw::CommRxCharSignal as on a real line. When
// asked, an emulated unit answers correctly and the fuzzed bytes come on top of its answers,
// so the later steps of a process are reached too. Each programmer family adds a target that
// runs its programmer over this line.
#include "fuzz_support.h"

#include "image/image_file.h"
#include "image/image_writer.h"
#include "programmers/process_view.h"
#include "serial/tfustaw.h"
#include "sim/loopback.h"
#include "sim/quiet_view.h"
#include "sim/unit_model.h"

#include <memory>
#include <stdexcept>

namespace tarnik::fuzz {

// The unit's side: the emulated unit's answers (when there is one) plus the fuzzed bytes.
class FuzzedPeer final : public sim::UnitPeer {
public:
    explicit FuzzedPeer(InputReader& input) : input_(input) {}
    void SetUnit(sim::UnitPeer* unit) { unit_ = unit; }

    void OnHostBytes(const Text& bytes, std::uint32_t nowMs,
                     const sim::LineSettings& line) override {
        if (unit_) unit_->OnHostBytes(bytes, nowMs, line);
    }
    Text TakeUnitBytes(std::uint32_t nowMs) override {
        Text out = unit_ ? unit_->TakeUnitBytes(nowMs) : Text();
        if (!input_.Empty() && nowMs - nextDue_ < 0x80000000u) {
            // A piece: its spacing from the next one (2 ms steps), its size, its bytes.
            const std::uint32_t spacing = input_.Byte() * 2u;
            out += input_.Take(input_.Byte() % 48 + 1);
            nextDue_ = nowMs + spacing;
        }
        return out;
    }
    bool HungUp() const override { return unit_ && unit_->HungUp(); }

private:
    InputReader& input_;
    sim::UnitPeer* unit_ = nullptr;
    std::uint32_t nextDue_ = 0;
};

// Small records in the unit type's format, read by the loader from an image file the core
// writer made, as a process gets them.
inline RecordList ProcessRecords(int unitType, int count) {
    ImageSpec spec;
    spec.unitType = unitType;
    spec.fileKey = 0x3A5C;
    for (int i = 0; i < count; ++i)
        spec.records.push_back({static_cast<std::uint16_t>(0x4000 + 0x20 * i),
                                Text(20, AsChar(static_cast<std::uint8_t>(0x41 + i))),
                                static_cast<std::uint16_t>(0x1357 + 0x2468 * i)});
    const std::filesystem::path path =
        ScratchFolder() / ("records-" + std::to_string(unitType) + ".bin");
    WriteImageFile(path.string(), BuildImage(spec));
    RecordList records;
    class NullLog final : public LogSink {
    public:
        void LogLine(const Text&) override {}
    } log;
    if (!LoadImageRecords(path.string(), Text(), records, log).ok()) std::abort();
    return records;
}

// The wiring of one process on a virtual clock. A process that is still running after
// kRunLimitMs of virtual time is a hang: that aborts (a finding).
struct FuzzedLine {
    static constexpr std::uint32_t kRunLimitMs = 15 * 60 * 1000;

    FuzzedLine(InputReader& input, int unitType, std::uint8_t address, bool verify,
               const RecordList& records, bool withUnit)
        : records(records), peer(input) {
        if (withUnit) {
            sim::UnitOptions options;
            options.unitType = unitType;
            options.address = address;
            options.image = records;
            unit = sim::CreateUnitModel(options);
            peer.SetUnit(unit.get());
        }
        view.unitType = unitType;
        view.boxVer = verify;
        view.bootAddress = address;
        pump.AddPort(&port);
        const sim::UnitLine line = sim::LineOfUnitType(unitType);
        TBaudRate rate = cbr38400;
        BaudRateFromBits(line.baud, rate);
        port.SetBaudRate(rate);
        port.SetParity(line.parity);
        port.SetStopbits(line.stopbits);
        port.Open();
        startedAt = clock.TickMs();
        pump.AddHook([this] {
            TARNIK_FUZZ_CHECK(clock.TickMs() - startedAt < kRunLimitMs, "a process ends by itself");
        });
    }

    // Every image record from `first` on reached the unit intact and in order, and was
    // verified when asked.
    bool UnitHasWholeImage(std::size_t first, bool verified) const {
        const auto whole = [&](const std::vector<sim::RecordEntry>& received) {
            if (received.size() + first != records.size()) return false;
            for (std::size_t i = 0; i < received.size(); ++i)
                if (received[i].index != static_cast<int>(first + i) || received[i].matches != true)
                    return false;
            return true;
        };
        const auto& report = unit->Report();
        return whole(report.records) && (!verified || whole(report.verifications));
    }

    const RecordList& records;
    std::unique_ptr<sim::UnitModel> unit;
    FuzzedPeer peer;
    sim::VirtualClock clock;
    sim::SimulatedPort port{clock, &peer};
    sim::LoopbackPump pump;
    sim::QuietProcessView view{pump};
    TFUstaw link{port, pump, clock, view};
    KeyGenerator keys{20261208};
    int exitStatus = -1;
    ImageHeader header;
    ProcessContext context{view, link, clock, records, keys, exitStatus, header};
    std::uint32_t startedAt = 0;
};

} // namespace tarnik::fuzz
