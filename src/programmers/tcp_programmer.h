#pragma once
// TTCP_WR: the programmer of the network modules (unit types 4, 9 and 15). The model code
// chooses how the unit is brought into its bootloader: type 4 (model code 0) is identified by
// its application at 19200 baud and asked before programming when its version is known;
// types 9 and 15 (model codes 2 and 4) answer a text handshake. The bootloader always speaks
// at 57600 baud, so the port is closed, reconfigured and reopened on the way. Then boot
// identification, erasure, the records and the end of programming. The step state belongs to
// the object.
#include "programmers/bootloader_frames.h"
#include "programmers/image_version.h"
#include "programmers/process_view.h"
#include "programmers/step_programmer.h"
#include "serial/comm_port.h"
#include "tools/hexcodec.h"
#include "tools/log_sink.h"
#include "tools/text.h"

#include <cstdint>
#include <optional>
#include <set>

namespace tarnik {

class TTCP_WR final : public StepProgrammer {
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
    void Send(const Text& frame);
    void ResetOwnStepState() override;

    std::uint32_t unitAddress_ = 0;
    FrameState frame_;
    Text connectAnswer_;           // the acknowledgment that ended Connection establishment
    std::set<Text> recordAnswers_; // the received bytes that acknowledged records
    bool finished_ = false;
    std::uint32_t connectWaitMs_ = 0; // fast pacing: least time between connection frames
    int alternation_ = 0;
    bool lastRecord_ = false;
    bool running_ = false;
    bool identified_ = false;
    bool extended_ = false;
};

} // namespace tarnik
