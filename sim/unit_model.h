#pragma once
// The emulated unit: takes the host's bytes as they arrive (split or joined, with the line
// settings of each arrival), finds the frames in them, answers like the unit's application
// or bootloader would, and keeps a report of everything the host did wrong. One class per
// family (main family, network modules, audio verification unit) over this base.
#include "sim/record_check.h"
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
    std::optional<std::uint32_t> NextEventMs() const override;
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
    // A record as the family read it from the host's frame.
    struct ReceivedRecord {
        RecordText pass = RecordText::Programming;
        Text plain;            // the record's bytes as the unit understood them
        Text identity;         // the bytes that tell a resent record from the next one
        bool mayRepeat = true; // false when the frame cannot be a resend of the last record
        std::uint16_t address = 0;
        std::uint16_t key = 0;
        bool checksumOk = true;
        bool checksumChecked = true; // a wrong checksum is the host's mistake
        int firstIndex = 0;          // the index of the first record the host sends
    };
    struct RegisteredRecord {
        RecordEntry& entry;
        bool repeat; // the frame resent the last record
    };

    // Looks at the buffered host bytes and takes one frame (or junk) out of them, or
    // reports that more bytes are needed.
    virtual Parse ParseOne() = 0;
    // The line the unit listens with at this moment: by default the line of its unit type.
    virtual UnitLine ListeningLine() const { return LineOfUnitType(options_.unitType); }
    // True when a frame at these settings is one the host could not know to be wrong (the
    // unit's bootloader is unexpectedly active and its application's speed differs).
    virtual bool LineExcused(const LineSettings&) const { return false; }
    // True when the host is about to switch to these settings (after the frame that makes
    // the unit change its speed).
    virtual bool SwitchExpected(const LineSettings&) const { return false; }
    // Compares a new record with the image's record of the same index: fills entry.matches
    // and entry.note (and entry.key where the record's key is not in its frame).
    virtual void CompareWithImage(RecordEntry& entry, const ReceivedRecord& received,
                                  const TLDane& expected) const = 0;

    const Text& In() const { return in_; }
    std::uint32_t StampOf(std::size_t index) const { return stamps_[index].timeMs; }
    // Takes the first n bytes as a frame and logs it under `what`.
    Frame TakeFrame(std::size_t n, const std::string& what);
    // Changes the description of the frame logged last.
    void Describe(const std::string& what);
    // The bootloaders' scrambled frames (main family and network modules): EE EE, the
    // address, the key (high byte first), then the payload scrambled as one run from the key.
    static constexpr std::size_t kScrambledHeader = 5;
    // The key of the scrambled frame at the start of the buffered bytes.
    std::uint16_t ScrambledKey() const;
    // Its first n payload bytes, descrambled.
    Text DescrambledPayload(std::size_t n) const;
    // The key after its first n payload bytes: the key an answer to the frame is scrambled
    // with.
    std::uint16_t ContinuedKey(std::size_t n) const;
    // Takes a scrambled frame that descrambles to no known command (a wrong key, or a frame of
    // another kind): its bytes up to the next marker.
    void TakeUnknownScrambled();
    // The violation for such a frame, whose payload starts with `first` under its key.
    static std::string UnknownScrambledCommand(std::uint8_t first);
    // Drops n bytes that belong to no frame.
    void SkipJunk(std::size_t n, bool violation = true);
    // Checks the frame's line settings against the unit's; a frame at the wrong settings is
    // not understood. Logs the violation.
    bool LineOk(const Frame& frame);
    // Checks the sum byte that ends a plain frame (the sum of all bytes before it); a frame
    // with a wrong sum is ignored. Logs the violation.
    bool PlainSumOk(const Frame& frame);
    // Checks the address a frame is for; a frame for another unit is ignored. Logs the
    // violation.
    bool AddressOk(std::uint8_t address);

    // Takes a received record into the report (records or verifications, by its pass). A new
    // record gets the next index and is compared with the image; a wrong checksum and a
    // difference from the image are violations. A resend counts as one more attempt at the
    // last record. Describes the frame as the record.
    RegisteredRecord RegisterRecord(const ReceivedRecord& received);
    // The injected loss of a record's first frame on the line: true (and the frame described
    // as lost) when this frame is it. A lost frame is neither booked nor answered.
    bool LostOnLine(const ReceivedRecord& received);
    // The injected record faults: the unit drops the line at one record, or leaves the first
    // try of one unanswered. True when the record gets no answer.
    bool RecordFaultStrikes(const RecordEntry& entry);

    void Violate(const std::string& text);
    // Queues an answer, due the processing delay (plus extraDelayMs, the injected answer
    // delay and its time on the wire) after the frame being handled.
    void Answer(const Text& bytes, std::uint32_t extraDelayMs = 0);
    // Queues a second copy of an answer, afterMs after the first would be due, on a read of
    // its own.
    void AnswerAgain(const Text& bytes, std::uint32_t afterMs);
    // Whether junk follows this answer (noise at the configured rate).
    bool NoiseFollows();
    // Answers EE EE, the unit's address and the payload scrambled from `key` (the bootloaders
    // of the main family and of the network modules).
    void AnswerScrambled(const Text& payload, std::uint16_t key, std::uint32_t delayMs = 0);
    Text ScrambledAnswerBytes(const Text& payload, std::uint16_t key) const;
    void DropLine();
    void Complete(const std::string& reason);
    std::uint32_t FrameTime() const { return frameTime_; }
    bool Silent() const { return options_.faults.silent; }
    std::uint8_t Address() const { return options_.address; }
    // The address the unit's answers carry: its own, or another one under that fault.
    std::uint8_t AnswerAddress() const {
        return static_cast<std::uint8_t>(options_.address +
                                         (options_.faults.foreignAddress ? 1 : 0));
    }
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
        std::uint32_t readGapMs = 0; // above 0: reaches the host alone, this long before more
    };

    void TakeArrivals(std::uint32_t nowMs);
    void ParseBuffered();
    void DropStalePartial(std::uint32_t nowMs);
    void QueueOutput(const Text& bytes, std::uint32_t dueMs, std::uint32_t readGapMs = 0);
    void QueueOne(const Text& bytes, std::uint32_t dueMs, std::uint32_t readGapMs);
    bool IsRepeat(const ReceivedRecord& received) const;
    Text Junk();
    RecordEntry NewRecordEntry(const ReceivedRecord& received, int index, const std::string& kind);

    UnitOptions options_;
    UnitReport report_;
    std::deque<Arrival> arrivals_;
    Text in_;
    std::vector<Stamp> stamps_;
    std::deque<Output> out_;
    std::uint32_t lastArrivalDue_ = 0;
    std::uint32_t lastOutputDue_ = 0;
    std::optional<std::uint32_t> quietUntil_; // nothing reaches the host before this
    bool recordLost_ = false;
    std::uint32_t frameTime_ = 0;
    bool hungUp_ = false;
    std::mt19937 noise_;
    Text lastRecord_;       // identity of the last new record
    Text lastVerification_; // identity of the last new verification record
};

// A unit of the given options' type: main family, network module or audio unit.
std::unique_ptr<UnitModel> CreateUnitModel(const UnitOptions& options);

} // namespace tarnik::sim
