#include "programmers/tcp_programmer.h"

#include "programmers/answer_match.h"
#include "programmers/image_version.h"

#include "tools/hexcodec.h"
#include "tools/scrambler.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tarnik {

namespace {

// Windows-1250 bytes: 0xB3 is "ł", 0xB9 is "ą".
const Text kSwitchTo19200Line = "Prze\xB3\xB9"
                                "czenie COM z 4800 --> 19200";
const Text kSwitch4800To57600Line = "Prze\xB3\xB9"
                                    "czenie COM z 4800 -->57600";
const Text kSwitch19200To57600Line = "Prze\xB3\xB9"
                                     "czenie COM z 19200 -->57600";
const Text kBootIdentificationLine = "dek dep:";
const Text kNewerQuestion =
    "This program is newer version for this unit !\rDo you want programming ?";
const Text kNotNewerQuestion =
    "This program is not newer version for this unit !\rDo you want programming ?";

const Text kPlainPrefix = "FFFF";
const Text kPlainMarker = "\xFF\xFF";
const Text kScrambledMarker = "\xEE\xEE";
const Text kBootIdentificationFormat = "EEEE%0.2x%s00";
const Text& kEraseFormat = frame_format::kEraseBlock1;
// The network modules end programming with the command that starts the main family's
// application.
const Text& kEndOfProgrammingFormat = frame_format::kStartApplication;
const Text kEraseAnswer = "\x02";
const Text kEndOfProgrammingAnswer = "\x10";
const Text kRecordAnswer = "\x12";
const Text kLastRecordAnswer = "\x01";

constexpr std::uint32_t kStepPollSleepMs = 5;
constexpr std::uint32_t kLoopSleepMs = 2;
// Fast pacing: longest sleep while nothing arrives (time-outs and resends are looked at this
// often), and longest wait for a quiet line before a dispatch.
constexpr std::uint32_t kFastIdleMs = 10;
constexpr std::uint32_t kTurnaroundCapMs = 100;
constexpr std::uint32_t kFinalPauseMs = 500;
constexpr std::uint32_t kSwitchPauseMs = 500;
constexpr std::uint32_t kHandshakeTimeoutMs = 20000;
constexpr std::uint32_t kHandshakeIntervalMs = 500;
constexpr std::uint32_t kHandshakePauseMs = 100;
constexpr std::uint32_t kIdentificationTimeoutMs = 20000;
constexpr std::uint32_t kIdentificationIntervalMs = 5000;
constexpr std::uint32_t kConnectionTimeoutMs = 20000;
constexpr std::uint32_t kBootIdentificationTimeoutMs = 5000;
constexpr std::uint32_t kBootIdentificationIntervalMs = 500;
constexpr std::uint32_t kEraseTimeoutMs = 120000;
constexpr std::uint32_t kEraseIntervalMs = 60000;
constexpr std::uint32_t kRecordTimeoutMs = 15000;
constexpr std::uint32_t kRecordIntervalMs = 1000;
constexpr std::uint32_t kEndTimeoutMs = 10000;
constexpr std::uint32_t kEndIntervalMs = 2000;

// Shortest received text in which a boot identification answer is looked at.
constexpr std::size_t kBootAnswerMinimum = 9;
// The image version texts that the technician is asked about: "1.05".
constexpr std::size_t kQuestionedVersionLength = 4;
// Payload start of a scrambled frame (1-based): after EE EE, the address and the key.
constexpr int kPayloadStart = 6;

const std::array<Text, 23> kStepNames = {
    "",                                            // 0
    "Sleep",                                       // 1
    "",                                            // 2 "ISE" handshake
    "",                                            // 3 switch 4800 -> 57600
    "",                                            // 4 "IST" handshake
    "",                                            // 5
    "Unit identification",                         // 6
    "",                                            // 7
    "",                                            // 8 switch 4800 -> 19200
    "",                                            // 9 boot identification
    "No application program",                      // 10
    "This program is not intended for this unit ", // 11
    "Connection establishment",                    // 12
    "",                                            // 13
    "Booting",                                     // 14
    "Erasing memory ...",                          // 15
    "Memory erasure completed",                    // 16
    "Programming ...",                             // 17
    "End of programming",                          // 18
    "Ending programming",                          // 19
    "Ending process",                              // 20
    "",                                            // 21 error: the failing step's name
    "Interrupting process",                        // 22
};

} // namespace

// ---- process control -------------------------------------------------------------------

TTCP_WR::TTCP_WR(ProcessContext& context)
    : StepProgrammer(context, kStepNames, {kEndingProcess, kError, kInterrupting, kWrongUnit}) {}

const Text& TTCP_WR::StepName(int step) {
    return StepNameIn(kStepNames, step);
}

void TTCP_WR::Configure(std::uint32_t unitAddress, std::uint8_t modelCode) {
    steps_.Preset(modelCode);
    unitAddress_ = unitAddress;
    running_ = false;
    identified_ = false;
    extended_ = false;
}

void TTCP_WR::StartProcess() {
    extended_ = false;
    recordAnswers_.clear();
    switch (steps_.Current()) {
    case 0:
        SetStep(kSleep);
        break;
    case 2:
        extended_ = true;
        SetStep(kHandshakeIse);
        break;
    case 4:
        extended_ = true;
        SetStep(kHandshakeIst);
        break;
    default:
        return;
    }
    finished_ = false;
    RunProcess();
}

void TTCP_WR::StopProcess() {
    SetStep(kInterrupting);
}

void TTCP_WR::RunProcess() {
    running_ = true;
    try {
        if (context_.pacing.fast) {
            FastLoop();
        } else {
            while (!finished_) {
                context_.clock.SleepMs(kLoopSleepMs);
                context_.view.ProcessMessages();
                Spin();
                Dispatch();
            }
        }
    } catch (...) {
        // The process ends where it stands; the last status line stays as it is.
    }
    context_.clock.SleepMs(kFinalPauseMs);
    running_ = false;
}

// Sleeps only while the step stays and nothing arrives, and waits for the turnaround guard
// before each dispatch, so a frame a handler sends starts after the guard.
void TTCP_WR::FastLoop() {
    TFUstaw& link = context_.link;
    std::uint64_t seenArrivals = link.ArrivalCount();
    int stepBefore = -1;
    while (!finished_) {
        if (steps_.Current() == stepBefore && link.ArrivalCount() == seenArrivals)
            link.WaitForWork(kFastIdleMs);
        context_.view.ProcessMessages();
        Spin();
        link.WaitLineQuiet(context_.pacing.turnaroundMs, kTurnaroundCapMs);
        stepBefore = steps_.Current();
        seenArrivals = link.ArrivalCount();
        Dispatch();
    }
}

void TTCP_WR::StepPollSleep() {
    if (!context_.pacing.fast) context_.clock.SleepMs(kStepPollSleepMs);
}

void TTCP_WR::Spin() {
    const int counter = context_.view.SpinnerCounter();
    context_.view.SetLabGrot(SpinnerText(counter));
    context_.view.SetSpinnerCounter(counter + 1);
}

void TTCP_WR::Dispatch() {
    switch (steps_.Current()) {
    case kSleep:
        SetStep(kSwitchTo19200);
        break;
    case kHandshakeIse:
        Handshake("ISE", "ise", kSwitchTo57600);
        break;
    case kSwitchTo57600:
        SwitchSpeed(kSwitch4800To57600Line, cbr57600, 0);
        SetStep(kBooting);
        break;
    case kHandshakeIst:
        Handshake("IST", "ist", kHandshakeIstDone);
        break;
    case kHandshakeIstDone:
        SetStep(kBooting);
        break;
    case kIdentification:
        Identification();
        break;
    case kSwitchTo19200:
        SwitchSpeed(kSwitchTo19200Line, cbr19200, kSwitchPauseMs);
        SetStep(kIdentification);
        break;
    case kBootIdentification:
        BootIdentification();
        break;
    case kNoApplication:
        SetStep(kConnection);
        break;
    case kConnection:
        ConnectionEstablishment();
        break;
    case kBooting:
        SetStep(kBootIdentification);
        break;
    case kErasing:
        Erasure();
        break;
    case kErased:
        SetStep(kProgramming);
        break;
    case kProgramming:
        Programming();
        break;
    case kEndOfProgramming:
        SetStep(kEndingProgramming);
        break;
    case kEndingProgramming:
        EndingProgramming();
        break;
    case kWrongUnit:
    case kEndingProcess:
    case kError:
    case kInterrupting:
        EndOfProcess();
        break;
    default: // 0, 7, 13 and anything above 22 are never entered
        break;
    }
}

void TTCP_WR::EndOfProcess() {
    finished_ = true;
    if (!lastRecord_) return;
    // The last record's frame was in flight: the title shows the whole image done.
    ShowTitlePercent("100");
    context_.view.ProcessMessages();
    lastRecord_ = false;
}

void TTCP_WR::ResetOwnStepState() {
    alternation_ = 0;
    frame_.Reset();
}

// ---- handshakes and speed switches -------------------------------------------------------

void TTCP_WR::Handshake(const Text& request, const Text& reply, int nextStep) {
    const Text& rx = context_.link.RxText;
    const std::size_t at = rx.find(reply);
    if (at != Text::npos) {
        // The reply must come from this unit: its address byte right before it.
        const bool fromUnit = at > 0 && ByteAt(rx, at - 1) == (unitAddress_ & 0xFF);
        SetStep(fromUnit ? nextStep : kError);
        return;
    }
    if (SinceStepStart() > kHandshakeTimeoutMs) {
        SetStep(kNoApplication);
        return;
    }
    if (SinceLastSend() < kHandshakeIntervalMs) return;
    MarkSent();
    Send(AsChar(static_cast<std::uint8_t>(unitAddress_ & 0xFF)) + request);
    context_.view.ProcessMessages();
    context_.clock.SleepMs(kHandshakePauseMs);
}

void TTCP_WR::SwitchSpeed(const Text& logLine, TBaudRate baud, std::uint32_t pauseMs) {
    context_.view.LogLine(logLine);
    CommPort& comm = context_.link.Comm();
    comm.Close();
    if (pauseMs > 0) context_.clock.SleepMs(pauseMs);
    // Applied when the port opens again; a port that does not reopen shows as the time-out
    // of the following step.
    comm.SetBaudRate(baud);
    comm.SetParity(paNone);
    comm.SetStopbits(sb2_0);
    comm.Open();
}

// ---- identification and connection -------------------------------------------------------

void TTCP_WR::Identification() {
    identified_ = false;
    FrameBuffer reply{};
    bool sumOk = false;
    if (ExtractFrame(context_.link.RxText, kPlainMarker, reply, sumOk) && sumOk &&
        reply[4] == kIdentifyReply) {
        context_.link.ClearRxText();
        if (reply[5] != context_.view.UnitType()) {
            SetStep(kWrongUnit);
            return;
        }
        if (context_.image.version.size() == kQuestionedVersionLength &&
            !ProgrammingWanted(reply)) {
            SetStep(kInterrupting);
            return;
        }
        identified_ = true;
        SetStep(kConnection);
        return;
    }
    if (SinceStepStart() > kIdentificationTimeoutMs) {
        SetStep(kNoApplication);
        return;
    }
    if (SinceLastSend() < kIdentificationIntervalMs) return;
    MarkSent();
    Send(BuildPlainFrame(frame_format::kIdentifyQuery, kPlainPrefix, unitAddress_));
}

bool TTCP_WR::ProgrammingWanted(const FrameBuffer& reply) {
    const VersionOrder order =
        CompareImageVersion(context_.image.version, context_.image.dateSeconds, reply);
    if (order == VersionOrder::NotComparable) {
        context_.view.LogLine("The versions could not be compared (image " +
                              context_.image.version + ", unit " + std::to_string(reply[6]) + "." +
                              std::to_string(reply[7]) + std::to_string(reply[8]) +
                              "): the image counts as not newer");
    }
    const Text& question = order == VersionOrder::Newer ? kNewerQuestion : kNotNewerQuestion;
    return context_.view.AskYesNo(question, true);
}

void TTCP_WR::ConnectionEstablishment() {
    StepPollSleep();
    if (ExpectedAnswerReceived()) {
        connectAnswer_ = frame_.expectedAnswer;
        SetStep(kBooting);
        return;
    }
    if (SinceStepStart() > kConnectionTimeoutMs) {
        SetStep(kError);
        return;
    }
    // The standard loop sends on every pass; fast pacing sends no sooner than that loop's
    // wait after a frame.
    if (context_.pacing.fast && SinceLastSend() < connectWaitMs_) return;
    // Without an identified application only the bootloader is spoken to.
    if (!identified_) alternation_ = 1;
    Text frame;
    if (alternation_ == 0) {
        frame = BuildPlainFrame(frame_format::kBootloaderRequest, kPlainPrefix, unitAddress_);
    } else {
        if (context_.link.Comm().BaudRate() != cbr57600)
            SwitchSpeed(kSwitch19200To57600Line, cbr57600, 0);
        frame = CommandFrame(frame_format::kConnect, answer_payload::kConnect, true);
    }
    if (steps_.Interrupted()) return;
    if (context_.pacing.fast) {
        MarkSent();
        connectWaitMs_ = WaitAfterFrameMs(context_.link, frame);
    }
    Send(frame);
    alternation_ = (alternation_ + 1) % 2;
}

// ---- boot identification and erasure -----------------------------------------------------

void TTCP_WR::BootIdentification() {
    StepPollSleep();
    const Text& rx = context_.link.RxText;
    if (const std::optional<std::size_t> found = BootAnswerPosition(rx)) {
        const std::size_t at = *found;
        const int n = extended_ ? 7 : 6;
        std::array<std::uint8_t, 40> answer{}; // address byte, then the payload
        for (int i = 0; i <= n; ++i) {
            const std::size_t from = at + 2 + static_cast<std::size_t>(i);
            if (from < rx.size()) answer[static_cast<std::size_t>(i)] = ByteAt(rx, from);
        }
        Text decoded;
        UnscrambleBlockToText(answer, 1, n, decoded, static_cast<std::uint16_t>(frame_.frameKey));
        context_.link.ClearRxText();
        context_.view.LogLine(kBootIdentificationLine + BytesToHexList(decoded));
        const int type = ByteAt(decoded, 0);
        const int unitType = context_.view.UnitType();
        SetStep(type == unitType || (type & 0x7F) == unitType ? kErasing : kWrongUnit);
        return;
    }
    if (SinceStepStart() > kBootIdentificationTimeoutMs) {
        SetStep(kError);
        return;
    }
    if (SinceLastSend() < kBootIdentificationIntervalMs) return;
    // A new key at every send; the answer is read with the key state after the last frame.
    const std::uint16_t key = context_.keys.NextKey();
    const Text plain =
        HexToBytes(FillFrameFormat(kBootIdentificationFormat, unitAddress_, KeyHex(key)), false);
    Text frame;
    frame_.frameKey = ScrambleText(plain, kPayloadStart, frame, key);
    Send(frame);
    MarkSent();
}

std::optional<std::size_t> TTCP_WR::BootAnswerPosition(const Text& rx) const {
    // The connect command went out on every pass until its answer came, so answers to the
    // repeated frames may still arrive now. They are copies of the answer already taken and
    // are passed over; read as the boot identification they would tell a foreign unit type.
    // An adapter may hand a copy over in pieces: the first bytes of one are not an answer yet.
    std::size_t at = rx.find(kScrambledMarker);
    const std::size_t copy = connectAnswer_.size();
    while (at != Text::npos && copy > 0) {
        const std::size_t rest = rx.size() - at;
        if (rx.compare(at, std::min(rest, copy), connectAnswer_, 0, std::min(rest, copy)) != 0)
            break;
        if (rest < copy) return std::nullopt;
        at = rx.find(kScrambledMarker, at + copy);
    }
    // The unit type byte must have arrived: a marker at the end of noise is not an answer yet.
    if (at == Text::npos || rx.size() < kBootAnswerMinimum || rx.size() <= at + 3)
        return std::nullopt;
    return at;
}

void TTCP_WR::Erasure() {
    if (ExpectedAnswerReceived()) {
        SetStep(kErased);
        return;
    }
    if (CheckStepTiming(kEraseTimeoutMs, kEraseIntervalMs)) return;
    const Text frame = CommandFrame(kEraseFormat, kEraseAnswer, true);
    if (steps_.Interrupted()) return;
    MarkSent();
    Send(frame);
}

// ---- programming -----------------------------------------------------------------------

void TTCP_WR::Programming() {
    StepPollSleep();
    DropLateRecordAnswers();
    if (ExpectedAnswerReceived()) {
        const Text& rx = context_.link.RxText;
        recordAnswers_.insert(rx.find(frame_.expectedAnswer) != Text::npos ? frame_.expectedAnswer
                                                                           : rx);
        if (lastRecord_) {
            SetStep(kEndOfProgramming);
            return;
        }
        ++recordIndex_;
        ResetStepState();
    }
    const int count = static_cast<int>(context_.records.size());
    if (recordIndex_ >= count) return;
    if (CheckStepTiming(kRecordTimeoutMs, kRecordIntervalMs)) return;

    Text frame = frame_.cachedFrame; // a resend keeps the last record flag as it is
    if (!frame_.Built()) {
        const TLDane& record = context_.records[static_cast<std::size_t>(recordIndex_)];
        lastRecord_ = recordIndex_ + 1 == count;
        const BuiltFrame built = BuildRecordFrame(frame_, context_.view.BootAddress(), record.key,
                                                  record.programmingText,
                                                  lastRecord_ ? kLastRecordAnswer : kRecordAnswer);
        context_.view.LogLine(ExpectedAnswerLogLine(frame_.expectedAnswer));
        if (steps_.Interrupted()) {
            lastRecord_ = false; // the frame never went out
            return;
        }
        frame = built.frame;
    }
    MarkSent();
    // 100 % is shown only once the last record has been acknowledged.
    ShowRecordProgress(99);
    Send(frame);
}

// A unit may answer a record twice (its first answer late, the resend answered too), and the
// second copy may come while a later record's frame is in flight, where the tolerant test could
// take it for that record's answer and skip a record the unit never got. Bytes that
// acknowledged a record are therefore a late copy when they come again, unless they are also
// exactly the answer the current record awaits.
void TTCP_WR::DropLateRecordAnswers() {
    Text& rx = context_.link.RxText;
    for (const Text& copy : recordAnswers_) {
        if (rx.empty()) return;
        if (copy == frame_.expectedAnswer) continue;
        for (std::size_t at = rx.find(copy); at != Text::npos; at = rx.find(copy, at))
            rx.erase(at, copy.size());
    }
}

void TTCP_WR::EndingProgramming() {
    if (ExpectedAnswerReceived()) {
        SetStep(kEndingProcess);
        return;
    }
    if (CheckStepTiming(kEndTimeoutMs, kEndIntervalMs)) return;
    const Text frame = CommandFrame(kEndOfProgrammingFormat, kEndOfProgrammingAnswer, false);
    MarkSent();
    Send(frame);
}

// ---- helpers ---------------------------------------------------------------------------

bool TTCP_WR::ExpectedAnswerReceived() {
    // Before the step's frame exists there is nothing to acknowledge: the placeholder "xxxxx"
    // (or any five bytes carrying the bits of 0x78, such as FF FF FF FF FF) is line noise, and
    // taking it would skip a record or an erasure that never happened.
    return frame_.Built() &&
           MatchAnswer(frame_.expectedAnswer, context_.link.GetRxText(), context_.view);
}

Text TTCP_WR::CommandFrame(const Text& format, const Text& answerPayload, bool logExpected) {
    const BuiltFrame built =
        BuildCommandFrame(frame_, context_.keys, unitAddress_, format, answerPayload);
    if (built.isNew && logExpected)
        context_.view.LogLine(ExpectedAnswerLogLine(frame_.expectedAnswer));
    return built.frame;
}

void TTCP_WR::Send(const Text& frame) {
    context_.link.SendText(frame);
}

} // namespace tarnik
