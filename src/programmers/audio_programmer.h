#pragma once
// TVAUDIO_WR: the programmer of the audio verification unit (unit type 5). A fixed sequence
// of commands in a byte frame of its own: identification, connection, erasure, programming
// with one command per record, verification with one command per record, and the start of
// the application. Every command is answered with a short frame that carries a status byte.
#include "programmers/process_view.h"
#include "programmers/step_programmer.h"
#include "tools/text.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarnik {

// Frames of the audio verification unit.
//
// Command: EE EE, scrambled body bytes 0 and 1, the key (high byte first), scrambled body
// bytes 2 to the end. Body: [count + 7, address, 0x08, command, count data bytes, check], the
// check byte being 0xFF XOR every byte before it; the body is scrambled as one run from its
// first byte. All count + 9 bytes go on the wire.
// Answer: EE EE and the body [6, address, 0x08, command, status, check], scrambled from its
// first byte with the key state reached after the command's body.
namespace audio_frame {

constexpr std::uint8_t kMarkerByte = 0xEE;
constexpr std::uint8_t kKind = 0x08;
constexpr std::size_t kOverhead = 9;      // marker, length, address, key, kind, command, check
constexpr std::size_t kAnswerSize = 8;    // marker and the six-byte body
constexpr std::size_t kMaxData = 255 - 7; // the length byte counts the data and 7 bytes more

struct Composed {
    int length = 0;            // bytes composed into the block
    std::uint16_t keptKey = 0; // the key the answer is scrambled with
};

// Composes the frame into block from its first byte. data holds at most kMaxData bytes.
Composed Compose(Block& block, std::uint8_t address, std::uint8_t command,
                 std::span<const std::uint8_t> data, std::uint16_t key);

// The status of a complete answer at the start of bytes (kAnswerSize bytes from the marker),
// when it descrambles under keptKey to an answer for this address and command with a right
// check byte.
std::optional<std::uint8_t> StatusOf(std::span<const std::uint8_t> bytes, std::uint16_t keptKey,
                                     std::uint8_t address, std::uint8_t command);

} // namespace audio_frame

class TVAUDIO_WR final : public StepProgrammer {
public:
    enum Step : std::uint8_t {
        kNone = 0,
        kSleep = 1,
        kIdentification = 2,
        kIdentifyInBootloader = 3,
        kConnection = 4,
        kBooting = 5,
        kEraseError = 6,
        kErase = 7,
        kErased = 8,
        kStartProgramming = 9,
        kProgramming = 10,
        kEndOfProgramming = 11,
        kEndingProgramming = 12,
        kEndingProcess = 13,
        kStartVerification = 14,
        kVerification = 15,
        kEndVerification = 16,
        kWrongUnit = 17,
        kStartApplication = 18,
        kError = 19,
        kInterrupting = 20,
    };

    TVAUDIO_WR(ProcessContext& context, std::uint32_t unitAddress);
    TVAUDIO_WR(const TVAUDIO_WR&) = delete;
    TVAUDIO_WR& operator=(const TVAUDIO_WR&) = delete;

    // Runs the whole process; returns when it has ended. Does nothing on an object whose
    // process has already run.
    void StartProcess();
    // Interrupts the running process; its poll loop ends at the next dispatch.
    void StopProcess();

    int RecordIndex() const { return recordIndex_; }
    bool Running() const { return running_; }
    bool Done() const { return done_; }
    static const Text& StepName(int step);

private:
    void RunProcess();
    void Dispatch();
    // Takes an answer, times the step out, and composes a new frame once the resend interval
    // has passed (the poll loop sends the last one again meanwhile); true when the unit
    // accepted the command (the step then moves to next, when one is given).
    bool CommandStep(std::uint8_t command, std::span<const std::uint8_t> data,
                     std::uint32_t timeoutMs, std::uint32_t resendMs, std::optional<int> next);
    void RecordStep(std::uint8_t command, int next);
    void NextRecord();
    void ComposeFrame(std::uint8_t command, std::span<const std::uint8_t> data);
    // The status of an answer to a frame of this step (of this record in the record steps), if
    // one has come. Answers are consumed from the receive area once taken; answers that check
    // out under none of the kept keys (to the frames of an earlier step, or junk) are consumed
    // and ignored.
    std::optional<std::uint8_t> TakeAnswer(std::uint8_t command);
    std::optional<std::uint8_t> StatusUnderKeptKeys(std::span<const std::uint8_t> candidate,
                                                    std::uint8_t command) const;
    void DropReceived(int count);
    void ResetOwnStepState() override { keptKeys_.clear(); }

    std::uint32_t unitAddress_;
    bool finished_ = false;
    bool running_ = false;
    bool done_ = false;
    // The key kept for the answer of each frame composed since the step (or the record)
    // began: a unit may answer any of them, and late.
    std::vector<std::uint16_t> keptKeys_;
    std::uint32_t lastCompose_ = 0;
    Block sendBuffer_{};
    int sendLength_ = 0;
};

} // namespace tarnik
