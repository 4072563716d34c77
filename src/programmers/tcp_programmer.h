#pragma once
// TTCP_WR: the programmer of the network modules (unit types 4, 9 and 15). The model code
// chooses how the unit is brought into its bootloader: type 4 (model code 0) is identified by
// its application at 19200 baud and asked before programming when its version is known;
// types 9 and 15 (model codes 2 and 4) answer a text handshake. The bootloader always speaks
// at 57600 baud, so the port is closed, reconfigured and reopened on the way. Then boot
// identification, erasure, the records and the end of programming. The step state belongs to
// the object.
#include "programmers/bootloader_frames.h"
#include "programmers/process_steps.h"
#include "programmers/process_view.h"
#include "serial/comm_port.h"
#include "tools/hexcodec.h"
#include "tools/log_sink.h"
#include "tools/text.h"

#include <cstdint>
#include <optional>
#include <set>

namespace tarnik {

// Acknowledgment test of the network modules: the expected answer anywhere in the received
// text, or a received text of the same length whose every byte carries the expected bits,
// where a byte missing only bit 7 or only bit 6 still agrees (logged as "!!! NOT BIT").
bool MatchAnswer(const Text& expected, const Text& received, LogSink& log);

// Whether the image is newer than the program the unit reported in its identify reply: its
// three version digits read as one number are greater, or equal with a later compilation date
// when the reply carries the unit's date. Not comparable when a version character of the image
// is not a digit, or a version or date byte of the reply is not a decimal value.
enum class VersionOrder { Newer, NotNewer, NotComparable };
VersionOrder CompareImageVersion(const Text& imageVersion, std::int64_t imageDateSeconds,
                                 const FrameBuffer& identifyReply);

class TTCP_WR {
public:
    enum Step : std::uint8_t {
        kNone = 0,
        kSleep = 1,
        kHandshakeIse = 2,
        kSwitchTo57600 = 3,
        kHandshakeIst = 4,
        kHandshakeIstDone = 5,
        kIdentification = 6,
        kSwitchTo19200 = 8,
        kBootIdentification = 9,
        kNoApplication = 10,
        kWrongUnit = 11,
        kConnection = 12,
        kBooting = 14,
        kErasing = 15,
        kErased = 16,
        kProgramming = 17,
        kEndOfProgramming = 18,
        kEndingProgramming = 19,
        kEndingProcess = 20,
        kError = 21,
        kInterrupting = 22,
    };
    static constexpr int kErrorExitOffset = tarnik::kErrorExitOffset;

    explicit TTCP_WR(ProcessContext& context);
    TTCP_WR(const TTCP_WR&) = delete;
    TTCP_WR& operator=(const TTCP_WR&) = delete;

    // Unit address (its low byte goes into frames and handshakes) and model code (0 for
    // type 4, 2 for type 9, 4 for type 15), held in the step until the process starts.
    void Configure(std::uint32_t unitAddress, std::uint8_t modelCode);
    // Runs the whole process and returns when it has ended. A model code other than 0, 2 or 4
    // (or a process that has already run) returns at once without sending anything.
    void StartProcess();
    // Interrupts the running process; its poll loop ends at the next dispatch.
    void StopProcess();

    void SetStep(int step);
    void ResetStepState();
    // True when the step must hold: it timed out (and went to the error step) or the resend
    // interval has not passed yet.
    bool CheckStepTiming(std::uint32_t timeoutMs, std::uint32_t intervalMs);

    int CurrentStep() const { return steps_.Current(); }
    ProcessOutcome Outcome() const { return steps_.Outcome(); }
    bool Running() const { return running_; }
    bool Identified() const { return identified_; }
    bool Extended() const { return extended_; }
    static const Text& StepName(int step);

private:
    void RunProcess();
    void FastLoop();
    void StepPollSleep();
    void Spin();
    void Dispatch();
    void EndOfProcess();

    void Handshake(const Text& request, const Text& reply, int nextStep);
    void SwitchSpeed(const Text& logLine, TBaudRate baud, std::uint32_t pauseMs);
    void Identification();
    bool ProgrammingWanted(const FrameBuffer& reply);
    void ConnectionEstablishment();
    void BootIdentification();
    // Where the boot identification answer starts in rx, once it is complete up to its unit
    // type byte; none while only copies of the connect answer (whole or begun) are there.
    std::optional<std::size_t> BootAnswerPosition(const Text& rx) const;
    void Erasure();
    void Programming();
    void DropLateRecordAnswers();
    void EndingProgramming();

    bool ExpectedAnswerReceived();
    Text CommandFrame(const Text& format, const Text& answerPayload, bool logExpected);
    void ShowProgress();
    void Send(const Text& frame);
    std::uint32_t Now();
    std::uint32_t SinceStepStart();
    std::uint32_t SinceLastSend();

    ProcessContext& context_;
    ProcessSteps steps_;
    std::uint32_t unitAddress_ = 0;
    FrameState frame_;
    Text connectAnswer_;           // the acknowledgment that ended Connection establishment
    std::set<Text> recordAnswers_; // the received bytes that acknowledged records
    bool finished_ = false;
    std::uint32_t stepStart_ = 0;
    std::uint32_t lastSend_ = 0;
    std::uint32_t connectWaitMs_ = 0; // fast pacing: least time between connection frames
    int alternation_ = 0;
    int recordIndex_ = 0;
    bool lastRecord_ = false;
    bool running_ = false;
    bool identified_ = false;
    bool extended_ = false;
};

} // namespace tarnik
