#include "programmers/s19_programmer.h"

#include "image/unit_types.h"
#include "tools/hexcodec.h"

#include <array>

namespace tarnik {

namespace {

// "Bład" with ł as its Windows-1250 byte.
const Text kRecognitionError = "--B\xB3"
                               "ad rozpoznania dev";
constexpr std::uint32_t kFirstPollWaitMs = 100;
// Longest wait for a quiet line before a frame at fast pacing; a line that never falls
// silent (noise) must not hold the process and its time-outs.
constexpr std::uint32_t kTurnaroundCapMs = 100;

constexpr std::uint32_t kIdentificationTimeoutMs = 10000;
constexpr std::uint32_t kIdentificationIntervalMs = 1000;
constexpr int kMaxRecognitionErrors = 10;
constexpr std::uint32_t kConnectionTimeoutMs = 5000;
constexpr std::uint32_t kConnectionIntervalMs = 300;
constexpr std::uint32_t kSerialQueryTimeoutMs = 5000;
constexpr std::uint32_t kEraseTimeoutMs = 60000;
constexpr std::uint32_t kEraseIntervalMs = 30000;
constexpr std::uint8_t kErasing1 = 1;
constexpr std::uint8_t kErasing2 = 2;
constexpr std::uint8_t kErased = 3;
constexpr std::uint8_t kEraseFailedFrom = 0x20;
constexpr std::uint32_t kCommandTimeoutMs = 10000;
constexpr std::uint32_t kCommandIntervalMs = 2000;
constexpr std::uint32_t kRecordTimeoutMs = 10000;
constexpr std::uint32_t kRecordIntervalMs = 1000;
constexpr std::uint32_t kVerificationTimeoutMs = 5000;
constexpr std::uint32_t kStopSleepMs = 100;

const std::array<Text, 23> kStepNames = {
    "",                                            // 0
    "Sleep",                                       // 1
    "Unit identification",                         // 2
    "",                                            // 3
    "Connection establishment",                    // 4
    "Booting",                                     // 5
    "",                                            // 6
    "Memory erasure error",                        // 7
    "Erasing Block No 1 memory...",                // 8
    "Block No memory erasure completed",           // 9
    "Erasing Block No 2 memory...",                // 10
    "Block No 2 memory erasure completed",         // 11
    "Start of programming",                        // 12
    "Programming ...",                             // 13
    "",                                            // 14
    "End of programming",                          // 15
    "Ending programming",                          // 16
    "Ending process",                              // 17
    "Verification",                                // 18
    "This program is not intended for this unit ", // 19
    "Starting application program",                // 20
    "",                                            // 21
    "Interrupting process",                        // 22
};

// Milliseconds the poll loop sleeps per round.
std::uint32_t PollSleepMs(int unitType) {
    const UnitTypeRow* unit = FindUnitType(unitType);
    return unit != nullptr ? unit->pollSleepMs : 10;
}

bool SerialFromUnit(int unitType) {
    const UnitTypeRow* unit = FindUnitType(unitType);
    return unit != nullptr && unit->serialFromUnit;
}

bool FixedBootRequest(int unitType) {
    const UnitTypeRow* unit = FindUnitType(unitType);
    return unit != nullptr && unit->fixedBootRequest;
}

Text SerialFromReply(const FrameBuffer& reply) {
    Text serial;
    for (std::size_t i = 5; i <= 8; ++i)
        serial += IntToHexEven(reply[i]);
    return serial;
}

} // namespace

TS19_WR::TS19_WR(ProcessContext& context, std::uint32_t unitAddress)
    : StepProgrammer(context, kStepNames, {kEndingProcess, kError, kInterrupting, kWrongUnit}),
      unitAddress_(unitAddress), plain_(PlainMarkerForUnitType(0)) {}

const Text& TS19_WR::StepName(int step) {
    return StepNameIn(kStepNames, step);
}

// ---- process control -------------------------------------------------------------------

void TS19_WR::StartProcess(int unitType) {
    plain_ = PlainMarkerForUnitType(unitType);
    if (steps_.Current() != kNone) return;
    finished_ = false;
    SetStep(kSleep);
    RunProcess(unitType);
}

void TS19_WR::StopProcess() {
    SetStep(kInterrupting);
    context_.clock.SleepMs(kStopSleepMs);
}

void TS19_WR::RunProcess(int unitType) {
    unitType_ = unitType;
    try {
        if (context_.pacing.fast)
            FastPollLoop();
        else
            PollLoop(PollSleepMs(unitType));
    } catch (...) {
        // The process ends where it stands; the last status line stays as it is.
    }
}

void TS19_WR::PollLoop(std::uint32_t sleepMs) {
    std::uint32_t pollWait = kFirstPollWaitMs;
    std::uint32_t lastDispatch = 0;
    for (;;) {
        stepOutput_.clear();
        context_.clock.SleepMs(sleepMs);
        context_.view.ProcessMessages();
        const std::uint32_t now = Now();
        if (now - lastDispatch >= pollWait) {
            lastDispatch = now;
            Dispatch();
            if (!stepOutput_.empty()) {
                context_.link.SendText(stepOutput_);
                pollWait = WaitAfterFrameMs(context_.link, stepOutput_);
            }
        }
        if (finished_) return;
    }
}

// Dispatches as the standard loop does once its poll wait has passed, so every resend and
// time-out keeps its time; in between it sleeps until bytes arrive and dispatches early only
// when the step has an answer to act on (or needs no answer at all). Every dispatch waits
// for the turnaround guard first, so the frame it sends starts after the guard.
void TS19_WR::FastPollLoop() {
    const TFUstaw& link = context_.link;
    std::uint32_t pollWait = kFirstPollWaitMs;
    std::uint32_t lastDispatch = 0;
    std::uint64_t seenArrivals = link.ArrivalCount();
    for (;;) {
        stepOutput_.clear();
        const std::uint32_t sinceDispatch = Now() - lastDispatch;
        const bool newBytes = link.ArrivalCount() != seenArrivals;
        if (sinceDispatch < pollWait && !ReadyToAct(newBytes)) {
            context_.link.WaitForWork(pollWait - sinceDispatch);
            context_.view.ProcessMessages();
            continue;
        }
        context_.link.WaitLineQuiet(context_.pacing.turnaroundMs, kTurnaroundCapMs);
        lastDispatch = Now();
        seenArrivals = link.ArrivalCount();
        Dispatch();
        if (!stepOutput_.empty()) {
            context_.link.SendText(stepOutput_);
            pollWait = WaitAfterFrameMs(context_.link, stepOutput_);
        }
        if (finished_) return;
    }
}

bool TS19_WR::ReadyToAct(bool newBytes) {
    switch (steps_.Current()) {
    case kSleep:
    case kBooting:
    case kBlock1Erased:
    case kBlock2Erased:
    case kProgrammingDoneType2:
    case kEndOfProgramming:
    case kWrongUnit:
    case kError:
    case kInterrupting:
        return true;
    case kEndingProcess: // the start command is still on its way: end after the usual wait
    case kNotUsed:
    case kEraseError:
        return false;
    default:
        return newBytes && AnswerComplete();
    }
}

// Looks at a copy of the received text: taking a frame or a status out of it is the
// handler's business.
bool TS19_WR::AnswerComplete() {
    Text rx = context_.link.RxText;
    FrameBuffer reply{};
    bool sumOk = false;
    switch (steps_.Current()) {
    case kIdentification:
        return ExpectedAnswerReceived() || (ExtractFrame(rx, plain_.marker, reply, sumOk) &&
                                            sumOk && reply[4] == kIdentifyReply);
    case kSerialQuery:
        return ExtractFrame(rx, plain_.marker, reply, sumOk) && sumOk;
    case kEraseBlock1:
    case kEraseBlock2: {
        FrameState state = frame_;
        return ReadEraseStatus(rx, state).has_value();
    }
    default:
        return ExpectedAnswerReceived();
    }
}

void TS19_WR::Dispatch() {
    switch (steps_.Current()) {
    case kSleep:
        SetStep(kIdentification);
        break;
    case kIdentification:
        Identification();
        break;
    case kConnection:
        ConnectionEstablishment();
        break;
    case kBooting:
        SetStep(kEraseBlock1);
        break;
    case kSerialQuery:
        SerialQuery();
        break;
    case kNotUsed:
    case kEraseError:
        break;
    case kEraseBlock1:
        EraseBlock(1);
        break;
    case kBlock1Erased:
        SetStep(kEraseBlock2);
        break;
    case kEraseBlock2:
        EraseBlock(2);
        break;
    case kBlock2Erased:
        context_.view.SetPBarVisible(true);
        SetStep(kStartProgramming);
        break;
    case kStartProgramming:
        SendCommandAwaitAnswer(frame_format::kStartProgramming, answer_payload::kStartProgramming,
                               kProgramming);
        break;
    case kProgramming:
        Programming();
        break;
    case kProgrammingDoneType2:
        SetStep(kEndOfProgramming);
        break;
    case kEndOfProgramming:
        SetStep(kEndingProgramming);
        break;
    case kEndingProgramming:
        SendCommandAwaitAnswer(frame_format::kEndProgramming, answer_payload::kEndProgramming,
                               context_.view.BoxVerChecked() ? kVerification : kStartApplication);
        break;
    case kVerification:
        Verification();
        break;
    case kStartApplication:
        ShowTitlePercent("100");
        SendCommandAwaitAnswer(frame_format::kStartApplication, std::nullopt, kEndingProcess);
        break;
    default: // 0, 17, 19, 21, 22 and anything above: the process is over
        finished_ = true;
        break;
    }
}

void TS19_WR::ResetOwnStepState() {
    alternation_ = 0;
    frame_.Reset();
    recognitionErrors_ = 0;
}

// ---- identification, connection, serial query ------------------------------------------

void TS19_WR::Identification() {
    identified_ = false;
    if (ExpectedAnswerReceived()) { // the bootloader is already running
        SetStep(kBooting);
        return;
    }

    FrameBuffer reply{};
    bool sumOk = false;
    if (ExtractFrame(context_.link.RxText, plain_.marker, reply, sumOk) && sumOk &&
        reply[4] == kIdentifyReply) {
        context_.link.ClearRxText();
        if (reply[5] == context_.view.UnitType()) {
            identified_ = true;
            const bool serialWanted =
                SerialFromUnit(unitType_) && context_.view.EdNrSerialText().size() < kSerialDigits;
            SetStep(serialWanted ? kSerialQuery : kConnection);
            MarkSent();
        } else {
            ++recognitionErrors_;
            context_.view.LogLine(kRecognitionError);
            if (recognitionErrors_ > kMaxRecognitionErrors) SetStep(kWrongUnit);
        }
        return;
    }

    if (SinceStepStart() > kIdentificationTimeoutMs) {
        // Reported as a failed connection establishment.
        SetStep(kConnection);
        SetStep(kError);
        return;
    }
    if (SinceLastSend() < kIdentificationIntervalMs) return;
    if (alternation_ >= 2) alternation_ = 0;
    stepOutput_ = alternation_ == 0 ? ConnectFrame()
                                    : BuildPlainFrame(frame_format::kIdentifyQuery,
                                                      plain_.prefixHex, unitAddress_);
    alternation_ = (alternation_ + 1) % 2;
}

void TS19_WR::ConnectionEstablishment() {
    if (ExpectedAnswerReceived()) {
        SetStep(kBooting);
        return;
    }
    if (SinceStepStart() > kConnectionTimeoutMs) {
        SetStep(kError);
        return;
    }
    if (SinceLastSend() < kConnectionIntervalMs) return;
    if (!identified_) alternation_ = 0;
    if (alternation_ == 0) {
        stepOutput_ = ConnectFrame();
    } else if (FixedBootRequest(context_.view.UnitType())) {
        stepOutput_ = HexToBytes(frame_format::kBootloaderRequestType0, true);
    } else {
        stepOutput_ =
            BuildPlainFrame(frame_format::kBootloaderRequest, plain_.prefixHex, unitAddress_);
    }
    alternation_ = (alternation_ + 1) % 2;
}

void TS19_WR::SerialQuery() {
    FrameBuffer reply{};
    bool sumOk = false;
    if (ExtractFrame(context_.link.RxText, plain_.marker, reply, sumOk) && sumOk) {
        if (reply[4] == kSerialReply) {
            unitSerial_ = SerialFromReply(reply);
            SetStep(kConnection);
        }
        return;
    }
    if (SinceStepStart() > kSerialQueryTimeoutMs) {
        SetStep(kConnection);
        SetStep(kError);
        return;
    }
    stepOutput_ = BuildPlainFrame(frame_format::kSerialQuery, plain_.prefixHex, unitAddress_);
}

// ---- erasure ---------------------------------------------------------------------------

void TS19_WR::EraseBlock(int block) {
    const std::optional<std::uint8_t> status = ReadEraseStatus(context_.link.RxText, frame_);
    if (status && *status >= kEraseFailedFrom) {
        SetStep(kEraseError);
        SetStep(kError);
        return;
    }
    if (status == kErased) {
        SetStep(block == 1 ? kBlock1Erased : kBlock2Erased);
        RestartStepClock();
        return;
    }
    if (status == kErasing1 || status == kErasing2) {
        RestartStepClock(); // the unit is still at work: the time-out starts again
        return;
    }
    if (CheckStepTiming(kEraseTimeoutMs, kEraseIntervalMs)) return;
    stepOutput_ = BuildEraseFrame(frame_, context_.keys, unitAddress_, block);
    MarkSent();
}

// ---- programming, verification, start of the application -------------------------------

void TS19_WR::SendCommandAwaitAnswer(const Text& format, const std::optional<Text>& answerPayload,
                                     int nextStep) {
    if (ExpectedAnswerReceived()) {
        SetStep(nextStep);
        return;
    }
    if (CheckStepTiming(kCommandTimeoutMs, kCommandIntervalMs)) return;
    const BuiltFrame built = BuildCommandFrame(frame_, context_.keys, unitAddress_, format,
                                               answerPayload.value_or(Text{}));
    if (built.isNew) context_.view.LogLine(ExpectedAnswerLogLine(frame_.expectedAnswer));
    MarkSent();
    stepOutput_ = built.frame;
    if (!answerPayload) SetStep(nextStep); // nothing to wait for; the frame still goes out
}

void TS19_WR::Programming() {
    if (ExpectedAnswerReceived()) {
        ++recordIndex_;
        ResetStepState();
    }
    const TLDane* record = CurrentRecord();
    if (record == nullptr) {
        SetStep(SerialFromUnit(context_.view.UnitType()) ? kProgrammingDoneType2
                                                         : kEndOfProgramming);
        return;
    }
    if (CheckStepTiming(kRecordTimeoutMs, kRecordIntervalMs)) return;
    const Text frame = RecordFrame(record->programmingText, answer_payload::kRecordProgrammed);
    MarkSent();
    // A STOP in the expected-answer log line has reset the record index: keep the progress
    // shown where the process got to.
    if (steps_.Current() == kProgramming) ShowRecordProgress();
    // Sent here rather than by the loop, so the loop's poll wait stays as it was.
    context_.link.SendText(frame);
    context_.view.ProcessMessages();
}

void TS19_WR::Verification() {
    if (ExpectedAnswerReceived()) {
        ++recordIndex_;
        ResetStepState();
    }
    const TLDane* record = CurrentRecord();
    if (record == nullptr) {
        SetStep(kStartApplication);
        return;
    }
    if (SinceStepStart() > kVerificationTimeoutMs) {
        SetStep(kError);
        return;
    }
    stepOutput_ = RecordFrame(record->verificationText, answer_payload::kRecordVerified);
    MarkSent();
    if (steps_.Current() == kVerification) ShowRecordProgress();
}

// ---- helpers ---------------------------------------------------------------------------

bool TS19_WR::ExpectedAnswerReceived() const {
    return AnswerReceived(context_.link.RxText, frame_);
}

Text TS19_WR::ConnectFrame() {
    const BuiltFrame built = BuildCommandFrame(frame_, context_.keys, unitAddress_,
                                               frame_format::kConnect, answer_payload::kConnect);
    if (built.isNew) context_.view.LogLine(ExpectedAnswerLogLine(frame_.expectedAnswer));
    return built.frame;
}

const TLDane* TS19_WR::CurrentRecord() const {
    if (recordIndex_ < 0 || recordIndex_ >= static_cast<int>(context_.records.size()))
        return nullptr;
    return &context_.records[static_cast<std::size_t>(recordIndex_)];
}

Text TS19_WR::RecordFrame(const Text& recordText, const Text& answerPayload) {
    const TLDane& record = *CurrentRecord();
    const BuiltFrame built =
        BuildRecordFrame(frame_, unitAddress_, record.key, recordText, answerPayload);
    if (built.isNew) context_.view.LogLine(ExpectedAnswerLogLine(frame_.expectedAnswer));
    return built.frame;
}

Text TS19_WR::ReadSerialFromImage(std::uint16_t wantedAddress, const std::string& fileName) {
    return tarnik::ReadSerialFromImage(wantedAddress, fileName, context_.view);
}

} // namespace tarnik
