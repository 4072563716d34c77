#pragma once
// A window for a programmer run without one: every display request is dropped, the state a
// programmer reads is plain fields, and message processing runs the given pump. Test and
// benchmark windows derive from it and record only what they look at.
#include "programmers/process_view.h"
#include "tools/message_pump.h"

namespace tarnik::sim {

class QuietProcessView : public ProcessView {
public:
    explicit QuietProcessView(MessagePump& pump) : pump_(pump) {}

    void LogLine(const Text&) override {}
    void SetInfoTx(const Text&) override {}
    void SetInfoTxColour(StatusColour) override {}
    void SetPBarPosition(int) override {}
    void SetPBarVisible(bool) override {}
    void SetLabGrot(const Text&) override {}
    int SpinnerCounter() const override { return spinner; }
    void SetSpinnerCounter(int value) override { spinner = value; }
    void SetApplicationTitle(const Text&) override {}
    bool BoxVerChecked() const override { return boxVer; }
    Text EdNrSerialText() const override { return edNrSerial; }
    int UnitType() const override { return unitType; }
    std::uint32_t BootAddress() const override { return bootAddress; }
    bool AskYesNo(const Text&, bool) override { return answerYes; }
    void ProcessMessages() override { pump_.processMessages(); }

    int unitType = 0;
    bool boxVer = true;
    Text edNrSerial;
    std::uint32_t bootAddress = 0;
    bool answerYes = false;
    int spinner = 0;

protected:
    MessagePump& pump() { return pump_; }

private:
    MessagePump& pump_;
};

} // namespace tarnik::sim
