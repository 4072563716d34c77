#pragma once
// TS19_WR: the programmer of the main unit family (every unit type except 4, 5, 9 and 15).
// One object runs one process: identification, connection to the bootloader, erasure of
// both memory blocks, programming record by record, optional verification and the start of
// the application. The step state belongs to the object, so two processes (or a serial
// number lookup beside a running process) never share it.
#include "programmers/bootloader_frames.h"
#include "programmers/process_view.h"
#include "programmers/step_programmer.h"
#include "tools/text.h"

#include <cstdint>
#include <optional>

namespace tarnik {

class TS19_WR final : public StepProgrammer {
public:
    enum Step : std::uint8_t {
        kNone = 0,
        kSleep = 1,
        kIdentification = 2,
        kNotUsed = 3,
        kConnection = 4,
        kBooting = 5,
        kSerialQuery = 6,
        kEraseError = 7,
        kEraseBlock1 = 8,
        kBlock1Erased = 9,
        kEraseBlock2 = 10,
        kBlock2Erased = 11,
        kStartProgramming = 12,
        kProgramming = 13,
        kProgrammingDoneType2 = 14,
        kEndOfProgramming = 15,
        kEndingProgramming = 16,
        kEndingProcess = 17,
        kVerification = 18,
        kWrongUnit = 19,
        kStartApplication = 20,
        kError = 21,
        kInterrupting = 22,
    };
    static constexpr int kErrorExitOffset = tarnik::kErrorExitOffset;

    TS19_WR(ProcessContext& context, std::uint32_t unitAddress);
    TS19_WR(const TS19_WR&) = delete;
    TS19_WR& operator=(const TS19_WR&) = delete;

    // Runs the whole process for the unit type; returns when it has ended. Does nothing on
    // an object whose process has already run.
    void StartProcess(int unitType);
    // Interrupts the running process; its poll loop ends at the next dispatch.
    void StopProcess();

    // Serial number (eight hex digits) of the record at the wanted address in an image
    // file, empty when there is none; logs one line per record.
    Text ReadSerialFromImage(std::uint16_t wantedAddress, const std::string& fileName);

    const Text& UnitSerial() const { return unitSerial_; }
    bool Identified() const { return identified_; }
    static const Text& StepName(int step);

private:
    void RunProcess(int unitType);
    void Dispatch();
    void PollLoop(std::uint32_t sleepMs);
    void FastPollLoop();
    // Fast pacing: whether the current step can be dispatched before the poll wait is over.
    bool ReadyToAct(bool newBytes);
    bool AnswerComplete();

    void Identification();
    void ConnectionEstablishment();
    void SerialQuery();
    void EraseBlock(int block);
    void SendCommandAwaitAnswer(const Text& format, const std::optional<Text>& answerPayload,
                                int nextStep);
    void Programming();
    void Verification();

    // Shared parts of the handlers.
    bool ExpectedAnswerReceived() const;
    Text ConnectFrame();
    const TLDane* CurrentRecord() const;
    Text RecordFrame(const Text& recordText, const Text& answerPayload);
    void ResetOwnStepState() override;

    std::uint32_t unitAddress_;
    int unitType_ = 0;
    PlainMarker plain_;

    FrameState frame_;
    Text stepOutput_;
    bool finished_ = false;
    bool identified_ = false;
    int alternation_ = 0;
    int recognitionErrors_ = 0;
    Text unitSerial_;
};

} // namespace tarnik
