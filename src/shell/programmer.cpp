#include "shell/programmer.h"

#include "programmers/audio_programmer.h"
#include "programmers/s19_programmer.h"

namespace tarnik {

namespace {

class S19Programmer final : public Programmer {
public:
    S19Programmer(ProcessContext& context, int unitType, std::uint32_t unitAddress)
        : programmer_(context, unitAddress), unitType_(unitType) {}
    void Run() override { programmer_.StartProcess(unitType_); }
    void Stop() override { programmer_.StopProcess(); }

private:
    TS19_WR programmer_;
    int unitType_;
};

class AudioProgrammer final : public Programmer {
public:
    AudioProgrammer(ProcessContext& context, std::uint32_t unitAddress)
        : programmer_(context, unitAddress) {}
    void Run() override { programmer_.StartProcess(); }
    void Stop() override { programmer_.StopProcess(); }

private:
    TVAUDIO_WR programmer_;
};

// Stands in for a unit family whose programmer this build does not carry: it says so in the
// log and ends without sending anything to the unit.
class MissingProgrammer final : public Programmer {
public:
    MissingProgrammer(ProcessView& view, Text family) : view_(view), family_(std::move(family)) {}
    void Run() override {
        view_.LogLine("The programmer of the " + family_ +
                      " is not available in this build; nothing was sent to the unit.");
    }
    void Stop() override {}

private:
    ProcessView& view_;
    Text family_;
};

} // namespace

std::unique_ptr<Programmer> MakeProgrammer(ProcessContext& context, const UnitTypeInfo& unit,
                                           std::uint32_t unitAddress) {
    switch (unit.family) {
    case ProgrammerFamily::S19:
        return std::make_unique<S19Programmer>(context, unit.type, unitAddress);
    case ProgrammerFamily::NetworkModule:
        return std::make_unique<MissingProgrammer>(context.view, "network modules");
    case ProgrammerFamily::Audio:
        return std::make_unique<AudioProgrammer>(context, unitAddress);
    }
    return nullptr;
}

} // namespace tarnik
