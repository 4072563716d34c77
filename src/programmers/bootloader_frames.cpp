#include "programmers/bootloader_frames.h"

#include "image/unit_types.h"

#include "tools/hexcodec.h"
#include "tools/scrambler.h"

#include <array>

namespace tarnik {

namespace {

// The payload of a scrambled command starts after EE EE, the address and the key (1-based).
constexpr int kPayloadStart = 6;

constexpr std::array<char, 16> kUpperDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                            '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
constexpr std::array<char, 16> kLowerDigits{'0', '1', '2', '3', '4', '5', '6', '7',
                                            '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

Text ByteHex(std::uint8_t value, const std::array<char, 16>& digits) {
    return Text{digits[value >> 4], digits[value & 0x0F]};
}

} // namespace

PlainMarker PlainMarkerForUnitType(int unitType) {
    const UnitTypeRow* unit = FindUnitType(unitType);
    const std::uint8_t marker = unit != nullptr ? unit->plainMarker : 0xFF;
    return {ByteHex(marker, kUpperDigits) + ByteHex(marker, kUpperDigits), Text(2, AsChar(marker))};
}

Text AddressHexLower(std::uint32_t address) {
    return ByteHex(static_cast<std::uint8_t>(address & 0xFF), kLowerDigits);
}

Text AddressHexUpper(std::uint32_t address) {
    return ByteHex(static_cast<std::uint8_t>(address & 0xFF), kUpperDigits);
}

Text KeyHex(std::uint16_t key) {
    return ByteHex(static_cast<std::uint8_t>(key >> 8), kUpperDigits) +
           ByteHex(static_cast<std::uint8_t>(key & 0xFF), kUpperDigits);
}

Text FillFrameFormat(const Text& format, std::uint32_t address, const Text& filler1,
                     const Text& filler2) {
    static const Text kAddressField = "%0.2x";
    static const Text kTextField = "%s";
    const Text* fillers[] = {&filler1, &filler2};
    std::size_t nextFiller = 0;
    Text result;
    for (std::size_t i = 0; i < format.size();) {
        if (format.compare(i, kAddressField.size(), kAddressField) == 0) {
            result += AddressHexLower(address);
            i += kAddressField.size();
        } else if (format.compare(i, kTextField.size(), kTextField) == 0) {
            if (nextFiller < std::size(fillers)) result += *fillers[nextFiller++];
            i += kTextField.size();
        } else {
            result.push_back(format[i++]);
        }
    }
    return result;
}

Text ScrambledAnswer(std::uint32_t address, const Text& payload, std::uint16_t key) {
    Text scrambled;
    ScrambleText(payload, 1, scrambled, key);
    return Text("\xEE\xEE", 2) + AsChar(static_cast<std::uint8_t>(address & 0xFF)) + scrambled;
}

BuiltFrame BuildCommandFrame(FrameState& state, KeyGenerator& keys, std::uint32_t address,
                             const Text& format, const Text& answerPayload) {
    if (state.Built()) return {state.cachedFrame, false};
    const std::uint16_t key = keys.NextKey();
    const Text plain = HexToBytes(FillFrameFormat(format, address, KeyHex(key)), false);
    Text frame;
    const std::uint16_t continued = ScrambleText(plain, kPayloadStart, frame, key);
    state.frameKey = continued;
    state.cachedFrame = frame;
    state.expectedAnswer = ScrambledAnswer(address, answerPayload, continued);
    return {frame, true};
}

BuiltFrame BuildRecordFrame(FrameState& state, std::uint32_t address, std::uint16_t recordKey,
                            const Text& recordText, const Text& answerPayload) {
    if (state.Built()) return {state.cachedFrame, false};
    state.frameKey = recordKey;
    state.cachedFrame =
        HexToBytes("EEEE" + AddressHexUpper(address) + KeyHex(recordKey), false) + recordText;
    state.expectedAnswer = ScrambledAnswer(address, answerPayload, recordKey);
    return {state.cachedFrame, true};
}

Text BuildEraseFrame(FrameState& state, KeyGenerator& keys, std::uint32_t address, int block) {
    const Text& format = block == 1 ? frame_format::kEraseBlock1 : frame_format::kEraseBlock2;
    const std::uint16_t key = keys.NextKey();
    const Text plain = HexToBytes(FillFrameFormat(format, address, KeyHex(key)), false);
    Text frame;
    state.frameKey = ScrambleText(plain, kPayloadStart, frame, key);
    return frame;
}

std::optional<std::uint8_t> ReadEraseStatus(Text& rxText, FrameState& state) {
    const std::size_t p = rxText.find("\xEE\xEE");
    const std::size_t statusAt = p + 3;
    if (p == Text::npos || rxText.size() < 4 || statusAt >= rxText.size()) return std::nullopt;

    const auto key = static_cast<std::uint16_t>(state.frameKey);
    Text plain;
    UnscrambleText(rxText.substr(statusAt, 1), 1, plain, key);
    rxText.erase(0, statusAt + 1);

    const std::uint8_t status = ByteAt(plain, 0);
    if (status == 1 || status == 2) {
        Text ignored;
        state.frameKey = ScrambleText(plain, 1, ignored, key);
    }
    return status;
}

Text BuildPlainFrame(const Text& format, const Text& prefixHex, std::uint32_t address) {
    return HexToBytes(FillFrameFormat(format, address, prefixHex), true);
}

Text ExpectedAnswerLogLine(const Text& expectedAnswer) {
    return "wOczek= " + BytesToHexList(expectedAnswer);
}

bool AnswerReceived(const Text& rxText, const FrameState& state) {
    // Before the step's frame exists there is nothing to acknowledge: the placeholder "xxxxx"
    // is five ordinary bytes that line noise can carry.
    return state.Built() && rxText.find(state.expectedAnswer) != Text::npos;
}

int PercentHalfEven(int index, int count) {
    if (count <= 0) return 0;
    const long long numerator = static_cast<long long>(index) * 100;
    long long quotient = numerator / count;
    const long long twiceRemainder = (numerator % count) * 2;
    if (twiceRemainder > count || (twiceRemainder == count && quotient % 2 != 0)) ++quotient;
    return static_cast<int>(quotient);
}

} // namespace tarnik
