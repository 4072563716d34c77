#include "sim/audio_unit.h"

#include "sim/record_check.h"
#include "sim/unit_codec.h"

#include <array>

namespace tarnik::sim {

namespace {

constexpr std::uint8_t kIdentify = 0x01;
constexpr std::uint8_t kConnect = 0x02;
constexpr std::uint8_t kStartApplication = 0x03;
constexpr std::uint8_t kErase = 0x21;
constexpr std::uint8_t kProgramRecord = 0x31;
constexpr std::uint8_t kVerifyRecord = 0x41;
constexpr std::uint8_t kFrameKind = 0x08;

// The order in which a correct host sends its commands; the record commands repeat.
constexpr std::array<std::uint8_t, 11> kSequence = {
    kIdentify, kConnect,      kIdentify, kErase,           0x30, kProgramRecord, 0x32,
    0x40,      kVerifyRecord, 0x42,      kStartApplication};

const Text kMarker = Bytes({0xEE, 0xEE});

std::uint8_t CheckByte(const Text& bytes) {
    std::uint8_t check = 0xFF;
    for (const char c : bytes)
        check ^= static_cast<std::uint8_t>(c);
    return check;
}

bool IsRecordCommand(std::uint8_t code) {
    return code == kProgramRecord || code == kVerifyRecord;
}

} // namespace

AudioUnit::AudioUnit(const UnitOptions& options) : UnitModel(options) {}

UnitModel::Parse AudioUnit::ParseOne() {
    const Text& in = In();
    const std::size_t at = in.find(kMarker);
    if (at == Text::npos) {
        const bool markerStart = ByteAt(in, in.size() - 1) == 0xEE;
        SkipJunk(markerStart ? in.size() - 1 : in.size());
        return Parse::NeedMore;
    }
    if (at > 0) {
        SkipJunk(at);
        return Parse::Consumed;
    }
    if (in.size() < 6) return Parse::NeedMore;
    // EE EE, body bytes 0 and 1, the key, body bytes 2 to the end (scrambled as one run).
    const std::uint16_t key = WordAt(in, 4);
    std::uint16_t k = key;
    const std::size_t length = ByteAt(DescrambleRun(in.substr(2, 1), k), 0);
    if (length < 7) {
        TakeFrame(2, "frame with a length below 7");
        Violate("audio frame whose length byte descrambles to " + std::to_string(length) +
                ": a wrong key?");
        return Parse::Consumed;
    }
    if (in.size() < length + 2) return Parse::NeedMore;
    k = key;
    const Text body = DescrambleRun(in.substr(2, 2) + in.substr(6, length - 4), k);
    const Frame frame = TakeFrame(length + 2, "command " + HexByte(ByteAt(body, 3)));
    if (ByteAt(body, body.size() - 1) != CheckByte(body.substr(0, body.size() - 1))) {
        Violate("audio frame with a wrong check byte: a wrong key?");
        Describe("frame with a wrong check byte (ignored)");
        return Parse::Consumed;
    }
    if (Report().complete && ByteAt(body, 3) != kStartApplication) {
        Violate("frame after the start of the application");
        Describe(Report().frames.back().what + " (ignored: session over)");
        return Parse::Consumed;
    }
    if (!LineOk(frame)) return Parse::Consumed;
    if (!AddressOk(ByteAt(body, 1))) return Parse::Consumed;
    if (ByteAt(body, 2) != kFrameKind)
        Violate("audio frame with " + HexByte(ByteAt(body, 2)) + " where 08 belongs");
    OnCommand({ByteAt(body, 3), body.substr(4, length - 7), k});
    return Parse::Consumed;
}

bool AudioUnit::Advance(std::uint8_t code, bool& repeat) {
    repeat = stage_ >= 0 && kSequence[stage_] == code;
    if (repeat) return true;
    const int following = stage_ + 1;
    auto next = static_cast<std::size_t>(following);
    if (next < kSequence.size() && IsRecordCommand(kSequence[next]) &&
        next + 1 < kSequence.size() && kSequence[next + 1] == code) {
        // A pass without records: only right for an image of at most one record.
        CheckPassComplete(kSequence[next] == kVerifyRecord);
        ++next;
    }
    if (next >= kSequence.size() || kSequence[next] != code) {
        Violate("command " + HexByte(code) + " out of order" +
                (next < kSequence.size() ? "; expected " + HexByte(kSequence[next]) : ""));
        return false;
    }
    if (IsRecordCommand(static_cast<std::uint8_t>(stage_ >= 0 ? kSequence[stage_] : 0)))
        CheckPassComplete(kSequence[stage_] == kVerifyRecord);
    stage_ = static_cast<int>(next);
    return true;
}

void AudioUnit::CheckPassComplete(bool verification) {
    const RecordList* image = Image();
    if (!image || image->size() < 2) return;
    const std::size_t done = verification ? Report().verifications.size() : Report().records.size();
    // The first record of the list is never sent.
    if (done < image->size() - 1)
        Violate(std::string(verification ? "verification" : "programming") + " ended after " +
                std::to_string(done) + " of " + std::to_string(image->size() - 1) + " records");
}

void AudioUnit::OnCommand(const Command& command) {
    bool repeat = false;
    if (!Advance(command.code, repeat)) {
        Describe(Report().frames.back().what + " (ignored: out of order)");
        return;
    }
    switch (command.code) {
    case kErase:
        OnErase(command);
        return;
    case kProgramRecord:
        OnRecord(command, repeat, false);
        return;
    case kVerifyRecord:
        OnRecord(command, repeat, true);
        return;
    case kStartApplication:
        if (verificationFailed_) Violate("application started although verification failed");
        AnswerStatus(command, 0);
        Complete("the application was started");
        return;
    default:
        AnswerStatus(command, 0);
        return;
    }
}

void AudioUnit::OnErase(const Command& command) {
    const UnitFaults& faults = Options().faults;
    if (faults.eraseBusyMs > 0) {
        OnLongErase(command);
        return;
    }
    if (!eraseStarted_) {
        eraseStarted_ = true;
        eraseDoneMs_ = FrameTime() + Options().eraseStepMs * static_cast<std::uint32_t>(
                                                                 1 + faults.eraseProgress.size());
    }
    // Busy erasing: the frames that arrive meanwhile are not answered.
    if (static_cast<std::int32_t>(FrameTime() - eraseDoneMs_) < 0) {
        Describe("erase command (no answer: erasing)");
        return;
    }
    Describe("erase command");
    AnswerStatus(command, faults.eraseFail ? 0x20 : 0x00);
}

void AudioUnit::OnLongErase(const Command& command) {
    const UnitFaults& faults = Options().faults;
    const std::uint8_t status = faults.eraseFail ? 0x20 : 0x00;
    const bool seen = eraseKeys_.count(command.keptKey) > 0;
    if (eraseStarted_ && static_cast<std::int32_t>(FrameTime() - eraseDoneMs_) < 0) {
        eraseKeys_.insert(command.keptKey);
        Describe("erase command (ignored: erasing)");
        return;
    }
    // A frame of the erasure just done, sent once more: answered at once.
    if (eraseStarted_ && seen) {
        Describe("erase command again");
        AnswerStatus(command, status);
        return;
    }
    eraseStarted_ = true;
    eraseKeys_ = {command.keptKey};
    eraseDoneMs_ = FrameTime() + faults.eraseBusyMs;
    Describe("erase command (answered when the erasure is done)");
    AnswerStatus(command, status, faults.eraseBusyMs);
}

void AudioUnit::CompareWithImage(RecordEntry& entry, const ReceivedRecord& received,
                                 const TLDane& expected) const {
    // The frame carries no record key: both passes send the programming text's bytes.
    entry.key = expected.key;
    entry.note =
        FirstDifference(received.plain, DescrambleStored(expected.programmingText, expected.key));
    entry.matches = entry.note.empty();
}

void AudioUnit::OnRecord(const Command& command, bool repeat, bool verification) {
    const Text& data = command.data;
    ReceivedRecord received;
    received.pass = verification ? RecordText::Verification : RecordText::Programming;
    received.plain = data;
    received.identity = data;
    received.mayRepeat = repeat;
    if (data.size() >= 3) received.address = WordAt(data, 1);
    received.checksumOk = EndsWithSum(data);
    received.checksumChecked = false; // kept in the report, not judged
    received.firstIndex = 1;          // record 0 is never sent
    const auto [entry, again] = RegisterRecord(received);
    if (!verification) {
        if (!again) programmed_[entry.index] = data;
        if (!RecordFaultStrikes(entry)) AnswerStatus(command, 0);
        return;
    }
    const auto programmed = programmed_.find(entry.index);
    const bool same = programmed != programmed_.end() && programmed->second == data;
    if (!same && !again)
        Violate("verification record " + std::to_string(entry.index) +
                " differs from the record programmed");
    if (!same || Options().faults.verifyMismatch == entry.index) {
        verificationFailed_ = true;
        AnswerStatus(command, 0x01);
        return;
    }
    AnswerStatus(command, 0);
}

void AudioUnit::AnswerStatus(const Command& command, std::uint8_t status, std::uint32_t delayMs) {
    Text body = Bytes({6, AnswerAddress(), kFrameKind, command.code, status});
    body.push_back(AsChar(CheckByte(body)));
    std::uint16_t key = command.keptKey;
    Answer(kMarker + ScrambleRun(body, key), delayMs);
}

} // namespace tarnik::sim
