#pragma once
// Frames of the bootloader protocol, shared by the programmers of the main family and of
// the network modules.
//
// Scrambled frames: EE EE, address, 16-bit key (high byte first), payload scrambled with
// that key. Their answers: EE EE, address, answer payload scrambled with the key state
// after the frame (command frames) or with the record's own key (record frames).
// Plain frames: marker (FF FF, or DD DD for the bus converter), address, length, command,
// sum byte; not scrambled.
#include "programmers/process_view.h"
#include "tools/text.h"

#include <cstdint>
#include <optional>

namespace tarnik {

// Answer placeholder until a frame has been built in a step; the answer checks pass it by.
inline const Text kNoAnswerYet = "xxxxx";

// Frame formats: %0.2x is the address low byte, each %s the next filler text.
namespace frame_format {
inline const Text kConnect = "EEEE%0.2x%s7B3D19";
inline const Text kEraseBlock1 = "EEEE%0.2x%s01";
inline const Text kEraseBlock2 = "EEEE%0.2x%s02";
inline const Text kStartProgramming = "EEEE%0.2x%s12";
inline const Text kEndProgramming = "EEEE%0.2x%s454E";
inline const Text kStartApplication = "EEEE%0.2x%s10";
inline const Text kIdentifyQuery = "%s%0.2x0280";
inline const Text kBootloaderRequest = "%s%0.2x0204";
inline const Text kBootloaderRequestType0 = "FFFF020E";
inline const Text kSerialQuery = "%s%0.2x0205";
} // namespace frame_format

// Answer payloads (before scrambling).
namespace answer_payload {
inline const Text kConnect = "\x19\x3D\x7B";
inline const Text kStartProgramming = "\x12";
inline const Text kEndProgramming = "EN";
inline const Text kRecordProgrammed = Text("\x4F\x01", 2);
inline const Text kRecordVerified = Text("\x13\x00", 2);
} // namespace answer_payload

// Plain commands in the replies.
constexpr std::uint8_t kIdentifyReply = 0x80;
constexpr std::uint8_t kSerialReply = 0x05;

// Per-step frame state of a process: the key of the built frame (-1 while none was built
// since the last reset), the frame itself for resending, and the answer that acknowledges it.
struct FrameState {
    std::int32_t frameKey = -1;
    Text cachedFrame;
    Text expectedAnswer = kNoAnswerYet;

    void Reset() {
        frameKey = -1;
        cachedFrame.clear();
        expectedAnswer = kNoAnswerYet;
    }
    bool Built() const { return frameKey >= 0; }
};

struct BuiltFrame {
    Text frame;
    bool isNew = false;
};

// The plain-frame prefix ("FFFF" or "DDDD") and the reply marker it stands for.
struct PlainMarker {
    Text prefixHex;
    Text marker;
};
PlainMarker PlainMarkerForUnitType(int unitType);

// The address as it goes into a frame: its low byte, always two hex digits.
Text AddressHexLower(std::uint32_t address);
Text AddressHexUpper(std::uint32_t address);
// Four upper-case hex digits of a 16-bit key.
Text KeyHex(std::uint16_t key);

// Fills a frame format: %0.2x with the address, each %s with the next of the fillers.
Text FillFrameFormat(const Text& format, std::uint32_t address, const Text& filler1 = {},
                     const Text& filler2 = {});

// EE EE, address low byte, and the answer payload scrambled with the given key.
Text ScrambledAnswer(std::uint32_t address, const Text& payload, std::uint16_t key);

// Builds the step's command frame once (new key, payload scrambled from its sixth byte) and
// hands out the same bytes until the state is reset.
BuiltFrame BuildCommandFrame(FrameState& state, KeyGenerator& keys, std::uint32_t address,
                             const Text& format, const Text& answerPayload);

// Record frames carry the record's key and its already scrambled text.
BuiltFrame BuildRecordFrame(FrameState& state, std::uint32_t address, std::uint16_t recordKey,
                            const Text& recordText, const Text& answerPayload);

// A fresh erase command for block 1 or 2 at every send; the frame key becomes the key
// state after the frame. Erase frames are not cached and set no expected answer.
Text BuildEraseFrame(FrameState& state, KeyGenerator& keys, std::uint32_t address, int block);

// Takes the next erase status out of the received text: the byte after the first EE EE
// and the address, descrambled with the frame key. Statuses 1 and 2 (erasing) advance the
// frame key, so the following status is read with the continued chain.
std::optional<std::uint8_t> ReadEraseStatus(Text& rxText, FrameState& state);

// Plain frame: the format filled with the prefix and the address, with its sum byte.
Text BuildPlainFrame(const Text& format, const Text& prefixHex, std::uint32_t address);

// The trace line of an expected answer.
Text ExpectedAnswerLogLine(const Text& expectedAnswer);

// Whether the expected answer of the frame built in this step is somewhere in the received
// text (never before a frame has been built).
bool AnswerReceived(const Text& rxText, const FrameState& state);

// index / count x 100, rounded to the nearest integer with halves to even.
int PercentHalfEven(int index, int count);

} // namespace tarnik
