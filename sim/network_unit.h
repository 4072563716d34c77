#pragma once
// A network module (unit types 4, 9 and 15). Its application answers the plain identify
// query and the restart command (type 4, at 19200 baud) or a text handshake ("ISE" for
// type 9 at 4800 baud, "IST" for type 15); its bootloader listens at 57600 baud and answers
// the connect command, the boot identification, the erase command, the records (12, or 01
// for the last one) and the end of programming.
#include "sim/unit_model.h"

#include <optional>
#include <vector>

namespace tarnik::sim {

class NetworkUnit final : public UnitModel {
public:
    explicit NetworkUnit(const UnitOptions& options);

protected:
    Parse ParseOne() override;
    UnitLine ListeningLine() const override;
    bool LineExcused(const LineSettings& line) const override;
    bool SwitchExpected(const LineSettings& line) const override;
    void CompareWithImage(RecordEntry& entry, const ReceivedRecord& received,
                          const TLDane& expected) const override;

private:
    enum class Command { Connect, BootIdentification, Erase, EndProgramming };

    Parse ParseHandshake(std::size_t position, bool ist);
    Parse ParsePlain();
    Parse ParseScrambled();
    Parse TakeCommand(Command command, std::size_t payloadLength);
    Parse TakeRecord(std::uint16_t key);
    bool LooksLikeRecord(std::uint16_t key, std::uint8_t firstByte) const;
    bool InRecordPhase() const { return erased_ && !Report().complete; }
    bool FrameAfterEnd(bool repeatedEnd);

    void OnIdentify();
    void OnRestart();
    void OnCommand(Command command, std::uint16_t continuedKey);
    void OnBootIdentification(std::uint16_t key);
    void OnErase(std::uint16_t key);
    void OnEndProgramming(std::uint16_t key);
    void OnRecord(const Frame& frame, std::uint16_t key, const Text& plain);

    bool bootloader_;
    bool contacted_ = false;             // the host has reached the bootloader
    bool hostAtBootloaderSpeed_ = false; // the bootloader has understood a command of the host
    bool handshakeAnswered_ = false;
    std::optional<std::uint32_t> restartFrameMs_; // arrival of the restart command
    bool foreignTypeReported_ = false;
    bool bootIdentified_ = false;
    bool erased_ = false;
};

} // namespace tarnik::sim
