#pragma once
// The audio verification unit (type 5): byte frames of its own, a fixed command sequence
// (identify, connect, identify, erase, programming with one command per record, end,
// verification with one command per record, end, start of the application), and a short
// answer with a status byte to every frame.
#include "sim/unit_model.h"

#include <map>
#include <set>

namespace tarnik::sim {

class AudioUnit final : public UnitModel {
public:
    explicit AudioUnit(const UnitOptions& options);

protected:
    Parse ParseOne() override;
    void CompareWithImage(RecordEntry& entry, const ReceivedRecord& received,
                          const TLDane& expected) const override;

private:
    struct Command {
        std::uint8_t code;
        Text data;
        std::uint16_t keptKey;
    };

    void OnCommand(const Command& command);
    // Moves the command sequence on; false when the command is out of order.
    bool Advance(std::uint8_t code, bool& repeat);
    void OnErase(const Command& command);
    // An erasure that takes the whole busy time and answers the frame that started it.
    void OnLongErase(const Command& command);
    void OnRecord(const Command& command, bool repeat, bool verification);
    void CheckPassComplete(bool verification);
    void AnswerStatus(const Command& command, std::uint8_t status, std::uint32_t delayMs = 0);

    int stage_ = -1;
    bool eraseStarted_ = false;
    std::uint32_t eraseDoneMs_ = 0;
    // Kept keys of the erase frames of the last erasure: the one that started it and those
    // that came while it ran. Any other erase frame starts another erasure.
    std::set<std::uint16_t> eraseKeys_;
    bool verificationFailed_ = false;
    std::map<int, Text> programmed_; // record index -> data as programmed
};

} // namespace tarnik::sim
