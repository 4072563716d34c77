#include "programmers/audio_programmer.h"

#include "programmers/bootloader_frames.h"
#include "tools/scrambler.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace tarnik {

namespace {

constexpr std::uint8_t kIdentifyCommand = 0x01;
constexpr std::uint8_t kConnectCommand = 0x02;
constexpr std::uint8_t kStartApplicationCommand = 0x03;
constexpr std::uint8_t kEraseCommand = 0x21;
constexpr std::uint8_t kStartProgrammingCommand = 0x30;
constexpr std::uint8_t kProgramRecordCommand = 0x31;
constexpr std::uint8_t kEndProgrammingCommand = 0x32;
constexpr std::uint8_t kStartVerificationCommand = 0x40;
constexpr std::uint8_t kVerifyRecordCommand = 0x41;
constexpr std::uint8_t kEndVerificationCommand = 0x42;

constexpr std::uint32_t kPollSleepMs = 10;
constexpr std::uint32_t kDispatchIntervalMs = 100;
constexpr std::uint32_t kCommandTimeoutMs = 5000;
constexpr std::uint32_t kEraseTimeoutMs = 30000;
constexpr std::uint32_t kRecordTimeoutMs = 5000;
// A new frame (with a new key) no sooner than this after the step's last one.
constexpr std::uint32_t kResendMs = 100;
constexpr std::uint32_t kEraseResendMs = 10000;
constexpr std::uint32_t kStopSleepMs = 100;

const std::array<Text, 21> kStepNames = {
    "",                                            // 0
    "Sleep",                                       // 1
    "Unit identification",                         // 2
    "",                                            // 3
    "Connection establishment",                    // 4
    "Booting",                                     // 5
    "Memory erasure error",                        // 6
    "Erasing Block No 1 memory...",                // 7
    "Block No memory erasure completed",           // 8
    "Start of programming",                        // 9
    "Programming ...",                             // 10
    "End of programming",                          // 11
    "Ending programming",                          // 12
    "Ending process",                              // 13
    "",                                            // 14
    "Verification",                                // 15
    "",                                            // 16
    "This program is not intended for this unit ", // 17
    "Starting application program",                // 18
    "",                                            // 19
    "Interrupting process",                        // 20
};

std::uint8_t CheckByte(std::span<const std::uint8_t> bytes) {
    std::uint8_t check = 0xFF;
    for (const std::uint8_t b : bytes)
        check ^= b;
    return check;
}

} // namespace

// ---- frames ----------------------------------------------------------------------------

namespace audio_frame {

Composed Compose(Block& block, std::uint8_t address, std::uint8_t command,
                 std::span<const std::uint8_t> data, std::uint16_t key) {
    const std::size_t count = std::min(data.size(), kMaxData);
    Block body{};
    body[0] = static_cast<std::uint8_t>(count + 7);
    body[1] = address;
    body[2] = kKind;
    body[3] = command;
    std::copy_n(data.begin(), count, body.begin() + 4);
    body[4 + count] = CheckByte(std::span(body).first(4 + count));

    Block scrambled{};
    int scrambledCount = 0;
    const std::uint16_t kept =
        ScrambleBlock(body, 0, static_cast<int>(4 + count), scrambled, scrambledCount, key);

    block[0] = kMarkerByte;
    block[1] = kMarkerByte;
    block[2] = scrambled[0];
    block[3] = scrambled[1];
    block[4] = static_cast<std::uint8_t>(key >> 8);
    block[5] = static_cast<std::uint8_t>(key & 0xFF);
    std::copy_n(scrambled.begin() + 2, count + 3, block.begin() + 6);
    return {static_cast<int>(count + kOverhead), kept};
}

std::optional<std::uint8_t> StatusOf(std::span<const std::uint8_t> bytes, std::uint16_t keptKey,
                                     std::uint8_t address, std::uint8_t command) {
    if (bytes.size() < kAnswerSize || bytes[0] != kMarkerByte || bytes[1] != kMarkerByte)
        return std::nullopt;
    std::array<std::uint8_t, kAnswerSize - 2> body{};
    UnscrambleBlock(bytes.subspan(2, body.size()), 0, static_cast<int>(body.size()), body, keptKey);
    const bool ours = body[0] == body.size() && body[1] == address && body[2] == kKind &&
                      body[3] == command && body[5] == CheckByte(std::span(body).first(5));
    if (!ours) return std::nullopt;
    return body[4];
}

} // namespace audio_frame

// ---- process control -------------------------------------------------------------------

TVAUDIO_WR::TVAUDIO_WR(ProcessContext& context, std::uint32_t unitAddress)
    : StepProgrammer(context, kStepNames, {kEndingProcess, kError, kInterrupting, kWrongUnit}),
      unitAddress_(unitAddress) {}

const Text& TVAUDIO_WR::StepName(int step) {
    return StepNameIn(kStepNames, step);
}

void TVAUDIO_WR::StartProcess() {
    if (steps_.Current() != kNone) return;
    finished_ = false;
    SetStep(kSleep);
    RunProcess();
}

void TVAUDIO_WR::StopProcess() {
    SetStep(kInterrupting);
    context_.clock.SleepMs(kStopSleepMs);
}

void TVAUDIO_WR::RunProcess() {
    running_ = true;
    sendLength_ = 0;
    std::uint32_t lastDispatch = 0;
    try {
        while (!finished_) {
            context_.clock.SleepMs(kPollSleepMs);
            context_.view.ProcessMessages();
            const std::uint32_t now = Now();
            if (now - lastDispatch < kDispatchIntervalMs) continue;
            lastDispatch = now;
            Dispatch();
            // The last frame goes out again on a dispatch that composed none, the end steps'
            // included; nothing goes to the unit after STOP.
            if (sendLength_ > 0 && !steps_.Interrupted())
                context_.link.SendBlock(sendBuffer_, sendLength_);
        }
    } catch (...) {
        // The process ends where it stands; the last status line stays as it is.
    }
    done_ = true;
    running_ = false;
}

void TVAUDIO_WR::Dispatch() {
    switch (steps_.Current()) {
    case kSleep:
        SetStep(kIdentification);
        break;
    case kIdentification:
        CommandStep(kIdentifyCommand, {}, kCommandTimeoutMs, kResendMs, kConnection);
        break;
    case kConnection:
        CommandStep(kConnectCommand, {}, kCommandTimeoutMs, kResendMs, kBooting);
        break;
    case kBooting:
        SetStep(kIdentifyInBootloader);
        break;
    case kIdentifyInBootloader:
        CommandStep(kIdentifyCommand, {}, kCommandTimeoutMs, kResendMs, kErase);
        break;
    case kEraseError:
        break;
    case kErase:
        CommandStep(kEraseCommand, {}, kEraseTimeoutMs, kEraseResendMs, kErased);
        break;
    case kErased:
        context_.view.SetPBarVisible(true);
        SetStep(kStartProgramming);
        break;
    case kStartProgramming:
        CommandStep(kStartProgrammingCommand, {}, kCommandTimeoutMs, kResendMs, kProgramming);
        recordIndex_ = 0;
        break;
    case kProgramming:
        RecordStep(kProgramRecordCommand, kEndOfProgramming);
        break;
    case kEndOfProgramming:
        SetStep(kEndingProgramming);
        break;
    case kEndingProgramming:
        CommandStep(kEndProgrammingCommand, {}, kCommandTimeoutMs, kResendMs, kStartVerification);
        break;
    case kStartVerification:
        CommandStep(kStartVerificationCommand, {}, kCommandTimeoutMs, kResendMs, kVerification);
        recordIndex_ = 0;
        break;
    case kVerification:
        RecordStep(kVerifyRecordCommand, kEndVerification);
        break;
    case kEndVerification:
        CommandStep(kEndVerificationCommand, {}, kCommandTimeoutMs, kResendMs, kStartApplication);
        break;
    case kStartApplication:
        CommandStep(kStartApplicationCommand, {}, kCommandTimeoutMs, kResendMs, kEndingProcess);
        break;
    default: // 0, 13, 17, 19, 20 and anything above: the process is over
        finished_ = true;
        break;
    }
}

// ---- command and record steps ----------------------------------------------------------

bool TVAUDIO_WR::CommandStep(std::uint8_t command, std::span<const std::uint8_t> data,
                             std::uint32_t timeoutMs, std::uint32_t resendMs,
                             std::optional<int> next) {
    const std::optional<std::uint8_t> status = TakeAnswer(command);
    if (status && *status > 0) {
        SetStep(kError);
        return false;
    }
    // An answer that is first found after the time-out has come too late.
    if (SinceStepStart() > timeoutMs) {
        SetStep(kError);
        return false;
    }
    // The pass that takes the answer composes like any other: its frame goes out once more.
    if (keptKeys_.empty() || Now() - lastCompose_ >= resendMs) ComposeFrame(command, data);
    if (!status) return false;
    if (next) SetStep(*next);
    return true;
}

void TVAUDIO_WR::ComposeFrame(std::uint8_t command, std::span<const std::uint8_t> data) {
    const audio_frame::Composed composed =
        audio_frame::Compose(sendBuffer_, static_cast<std::uint8_t>(unitAddress_ & 0xFF), command,
                             data, context_.keys.NextKey());
    sendLength_ = composed.length;
    keptKeys_.push_back(composed.keptKey);
    lastCompose_ = Now();
}

void TVAUDIO_WR::RecordStep(std::uint8_t command, int next) {
    if (recordIndex_ < 0 || recordIndex_ >= static_cast<int>(context_.records.size())) {
        SetStep(next);
        return;
    }
    // The first record of the list is passed over: the unit does not take it.
    if (recordIndex_ > 0) {
        const TLDane& record = context_.records[static_cast<std::size_t>(recordIndex_)];
        if (record.length > audio_frame::kMaxData) {
            context_.view.LogLine(
                "Record " + std::to_string(recordIndex_) + " has " + std::to_string(record.length) +
                " bytes; a frame carries at most " + std::to_string(audio_frame::kMaxData));
            SetStep(kError);
            return;
        }
        const std::span<const std::uint8_t> data(record.dataArea.data(), record.length);
        if (!CommandStep(command, data, kRecordTimeoutMs, kResendMs, std::nullopt)) return;
    }
    NextRecord();
}

void TVAUDIO_WR::NextRecord() {
    ++recordIndex_;
    ResetStepState();
    // A STOP taken in meanwhile keeps the progress shown where the process got to.
    if (steps_.Interrupted()) return;
    ShowRecordProgress();
    context_.view.ProcessMessages();
}

// ---- answers ---------------------------------------------------------------------------

std::optional<std::uint8_t> TVAUDIO_WR::TakeAnswer(std::uint8_t command) {
    auto& ring = context_.link.RxRing;
    for (;;) {
        const int fill = std::clamp(context_.link.RxRingPos, 0, TFUstaw::kRingSize);
        const auto begin = ring.begin();
        const auto end = begin + fill;
        const std::array<std::uint8_t, 2> marker{audio_frame::kMarkerByte,
                                                 audio_frame::kMarkerByte};
        const auto at = std::search(begin, end, marker.begin(), marker.end());
        if (at == end) {
            // Nothing but junk; a last marker byte may be the start of an answer.
            const bool keepLast =
                fill > 0 && ring[static_cast<std::size_t>(fill - 1)] == audio_frame::kMarkerByte;
            DropReceived(keepLast ? fill - 1 : fill);
            return std::nullopt;
        }
        const int m = static_cast<int>(at - begin);
        if (fill - m < static_cast<int>(audio_frame::kAnswerSize)) {
            DropReceived(m); // the answer is not complete yet
            return std::nullopt;
        }
        const std::span<const std::uint8_t> candidate(&ring[static_cast<std::size_t>(m)],
                                                      audio_frame::kAnswerSize);
        const std::optional<std::uint8_t> status = StatusUnderKeptKeys(candidate, command);
        if (status) {
            DropReceived(m + static_cast<int>(audio_frame::kAnswerSize));
            return status;
        }
        // Not an answer to a frame of this step (an answer to an earlier step's, or a marker
        // inside junk): drop its first byte and look further, so a real answer behind it is
        // found.
        DropReceived(m + 1);
    }
}

std::optional<std::uint8_t> TVAUDIO_WR::StatusUnderKeptKeys(std::span<const std::uint8_t> candidate,
                                                            std::uint8_t command) const {
    for (const std::uint16_t key : keptKeys_) {
        if (const auto status = audio_frame::StatusOf(
                candidate, key, static_cast<std::uint8_t>(unitAddress_ & 0xFF), command))
            return status;
    }
    return std::nullopt;
}

void TVAUDIO_WR::DropReceived(int count) {
    auto& link = context_.link;
    const int fill = std::clamp(link.RxRingPos, 0, TFUstaw::kRingSize);
    count = std::clamp(count, 0, fill);
    // The bytes kept move to the front over the ones dropped: the ranges overlap.
    std::memmove(link.RxRing.data(), link.RxRing.data() + count,
                 static_cast<std::size_t>(fill - count));
    link.RxRingPos = fill - count;
}

} // namespace tarnik
