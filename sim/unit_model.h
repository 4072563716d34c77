#pragma once
// The emulated unit: takes the host's bytes as they arrive (split or joined, with the line
// settings of each arrival), finds the frames in them, answers like the unit's application
// or bootloader would, and keeps a report of everything the host did wrong. One class per
// family (main family, network modules, audio verification unit) over this base.
#include "sim/unit_options.h"
#include "sim/unit_peer.h"
#include "sim/unit_report.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tarnik::sim {

class UnitModel : public UnitPeer {
  public:
    explicit UnitModel(UnitOptions options);

    void OnHostBytes(const Text& bytes, std::uint32_t nowMs, const LineSettings& line) override;
    Text TakeUnitBytes(std::uint32_t nowMs) override;
    bool HungUp() const override { return hungUp_; }

    // Works through the host bytes that have arrived by nowMs.
    void Advance(std::uint32_t nowMs);
    // The earliest moment at which something is due (an arrival, an answer, the drop of a
    // stale partial frame), if anything is waiting.
    std::optional<std::uint32_t> NextEventMs() const;
    bool OutputPending() const { return !out_.empty(); }
    // The session is over: the application was started (or the unit hung up).
    bool Finished() const { return report_.complete || hungUp_; }
    // True when the unit would understand bytes sent with these settings now.
    bool ListensWith(const LineSettings& line) const;
    // The settings to take for bytes that arrived while the host's settings changed from
    // `before` to `after`: `before` when the unit listens with it and `after` is the switch
    // the unit expects next (the host may reconfigure right after writing).
    LineSettings ArrivalLine(const LineSettings& before, const LineSettings& after) const;
    // Ends the session from outside: the line stayed idle, the host closed its side.
    void EndSession(const std::string& reason);
    // The host did what a correct host does: no violation, and the session was completed
    // unless an injected fault makes that impossible.
    bool HostCorrect() const;

    const UnitReport& Report() const { return report_; }
    const UnitOptions& Options() const { return options_; }

  protected:
    enum class Parse { Consumed, NeedMore };
    struct Frame {
        Text bytes;
        std::uint32_t timeMs = 0;
        LineSettings line;
    };

    // Looks at the buffered host bytes and takes one frame (or junk) out of them, or
    // reports that more bytes are needed.
    virtual Parse ParseOne() = 0;
    // The line the unit listens with at this moment.
    virtual UnitLine ListeningLine() const = 0;
    // True when a frame at these settings is one the host could not know to be wrong (the
    // unit's bootloader is unexpectedly active and its application's speed differs).
    virtual bool LineExcused(const LineSettings&) const { return false; }
    // True when the host is about to switch to these settings (after the frame that makes
    // the unit change its speed).
    virtual bool SwitchExpected(const LineSettings&) const { return false; }

    const Text& In() const { return in_; }
    std::uint32_t StampOf(std::size_t index) const { return stamps_[index].timeMs; }
    // Takes the first n bytes as a frame and logs it under `what`.
    Frame TakeFrame(std::size_t n, const std::string& what);
    // Changes the description of the frame logged last.
    void Describe(const std::string& what);
    // Drops n bytes that belong to no frame.
    void SkipJunk(std::size_t n, bool violation = true);
    // Checks the frame's line settings against the unit's; a frame at the wrong settings is
    // not understood. Logs the violation.
    bool LineOk(const Frame& frame);

    void Violate(const std::string& text);
    // Queues an answer, due the processing delay (plus extraDelayMs, the injected answer
    // delay and its time on the wire) after the frame being handled.
    void Answer(const Text& bytes, std::uint32_t extraDelayMs = 0);
    void DropLine();
    void Complete(const std::string& reason);
    std::uint32_t FrameTime() const { return frameTime_; }
    UnitReport& MutableReport() { return report_; }
    bool Silent() const { return options_.faults.silent; }
    std::uint8_t Address() const { return options_.address; }
    // The unit type code the unit reports (another type under the wrong-type fault).
    std::uint8_t ReportedTypeCode() const;
    // The image records the host is expected to send, or null.
    const RecordList* Image() const { return options_.image ? &*options_.image : nullptr; }

  private:
    struct Stamp {
        std::uint32_t timeMs;
        LineSettings line;
    };
    struct Arrival {
        std::uint32_t dueMs;
        Text bytes;
        LineSettings line;
    };
    struct Output {
        std::uint32_t dueMs;
        Text bytes;
    };

    void TakeArrivals(std::uint32_t nowMs);
    void ParseBuffered();
    void DropStalePartial(std::uint32_t nowMs);
    void QueueOutput(const Text& bytes, std::uint32_t dueMs);
    Text Junk();

    UnitOptions options_;
    UnitReport report_;
    std::deque<Arrival> arrivals_;
    Text in_;
    std::vector<Stamp> stamps_;
    std::deque<Output> out_;
    std::uint32_t lastArrivalDue_ = 0;
    std::uint32_t lastOutputDue_ = 0;
    std::uint32_t frameTime_ = 0;
    bool hungUp_ = false;
    std::mt19937 noise_;
};

// A unit of the given options' type: main family, network module or audio unit.
std::unique_ptr<UnitModel> CreateUnitModel(const UnitOptions& options);

} // namespace tarnik::sim
