#pragma once
// A unit of the main family (every type but 4, 5, 9 and 15): its application answers the
// plain identify and serial queries and reboots into the bootloader on request; the
// bootloader answers the scrambled commands and takes the records.
#include "sim/unit_model.h"

#include <vector>

namespace tarnik::sim {

class MainFamilyUnit final : public UnitModel {
public:
    explicit MainFamilyUnit(const UnitOptions& options);

protected:
    Parse ParseOne() override;
    void CompareWithImage(RecordEntry& entry, const ReceivedRecord& received,
                          const TLDane& expected) const override;

private:
    enum class Mode { Application, Rebooting, Bootloader };
    enum class Command { Connect, Erase1, Erase2, StartProgramming, EndProgramming, StartApp };

    std::uint8_t Marker() const { return Options().unitType == 3 ? 0xDD : 0xFF; }
    bool InBootloader();
    bool InRecordPhase() const;
    bool FrameAfterEnd();
    Parse ParsePlain();
    Parse ParseScrambled();
    Parse TakeCommand(Command command, std::size_t payloadLength);
    Parse TakeRecord(std::uint16_t key, bool verification);
    bool LooksLikeRecord(std::uint16_t key, std::uint8_t firstByte) const;

    void OnPlain(const Frame& frame);
    void OnIdentify();
    void OnBootloaderRequest();
    void OnCommand(Command command, std::uint16_t continuedKey);
    void OnErase(int block, std::uint16_t continuedKey);
    void OnStartProgramming(std::uint16_t continuedKey);
    void OnEndProgramming(std::uint16_t continuedKey);
    void OnStartApplication();
    static ReceivedRecord Received(RecordText pass, const Frame& frame, std::uint16_t key,
                                   const Text& plain);
    void OnRecord(const Frame& frame, std::uint16_t key, const Text& plain);
    void OnVerification(const Frame& frame, std::uint16_t key, const Text& plain);

    Mode mode_;
    std::uint32_t bootReadyMs_ = 0;
    bool foreignTypeReported_ = false;
    bool connected_ = false;
    bool block1Erased_ = false;
    bool block2Erased_ = false;
    bool programmingOpen_ = false;
    bool programmingClosed_ = false;
    bool verificationFailed_ = false;
    bool started_ = false;
    std::vector<Text> programmed_; // descrambled records as programmed
};

} // namespace tarnik::sim
