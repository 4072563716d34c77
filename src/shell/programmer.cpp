#include "shell/programmer.h"

#include "programmers/audio_programmer.h"
#include "programmers/s19_programmer.h"
#include "programmers/tcp_programmer.h"

namespace tarnik {

namespace {

class S19Programmer final : public Programmer {
public:
    S19Programmer(ProcessContext& context, int unitType, std::uint32_t unitAddress)
        : programmer_(context, unitAddress), unitType_(unitType) {}
    ProcessOutcome Run() override {
        programmer_.StartProcess(unitType_);
        return programmer_.Outcome();
    }
    void Stop() override { programmer_.StopProcess(); }

private:
    TS19_WR programmer_;
    int unitType_;
};

class TcpProgrammer final : public Programmer {
public:
    TcpProgrammer(ProcessContext& context, int modelCode, std::uint32_t unitAddress)
        : programmer_(context) {
        programmer_.Configure(unitAddress, static_cast<std::uint8_t>(modelCode));
    }
    ProcessOutcome Run() override {
        programmer_.StartProcess();
        return programmer_.Outcome();
    }
    void Stop() override { programmer_.StopProcess(); }

private:
    TTCP_WR programmer_;
};

class AudioProgrammer final : public Programmer {
public:
    AudioProgrammer(ProcessContext& context, std::uint32_t unitAddress)
        : programmer_(context, unitAddress) {}
    ProcessOutcome Run() override {
        programmer_.StartProcess();
        return programmer_.Outcome();
    }
    void Stop() override { programmer_.StopProcess(); }

private:
    TVAUDIO_WR programmer_;
};

} // namespace

std::unique_ptr<Programmer> MakeProgrammer(ProcessContext& context, const UnitTypeRow& unit,
                                           std::uint32_t unitAddress) {
    switch (unit.family) {
    case ProgrammerFamily::S19:
        return std::make_unique<S19Programmer>(context, unit.number, unitAddress);
    case ProgrammerFamily::NetworkModule:
        return std::make_unique<TcpProgrammer>(context, unit.modelCode, unitAddress);
    case ProgrammerFamily::Audio:
        return std::make_unique<AudioProgrammer>(context, unitAddress);
    }
    return nullptr;
}

} // namespace tarnik
