// The main window's control of a programming process: Start, STOP, the unattended run, and
// the window as the programmers see it.
#include "shell/main_window.h"

#include "shell/address_entry.h"

namespace tarnik {

namespace {

const Text kPortOpeningError = "Process status: Port opening error";
const Text kInterruptedStatus = "Process status: Interrupting process";
const Text kNoData = "No data to be programmed";
const Text kInterruptQuestion = "Interrupt programming the unit?";

} // namespace

void MainWindowLogic::ProgButClick() {
    // The load below processes messages; a second Start must not begin inside it.
    if (insideStart_ || state_ == WindowState::Running) return;
    insideStart_ = true;
    keys_.Seed(services_.clock.TickMs());
    spinnerCounter_ = 0;
    lastOutcome_ = StartProcess();
    insideStart_ = false;
    stopPending_ = false;
    view_.ProcessEnded(*lastOutcome_);
}

ProcessOutcome MainWindowLogic::StartProcess() {
    if (stopPending_) return EndStartBeforeProgrammer();
    if (!ProbePort()) return PortError();
    parseRequest_ = true;
    lastLoadFailure_.clear();
    // A load that fails has said why.
    if (!LoadImage(imageFile_)) return NothingRan(lastLoadFailure_);
    if (stopPending_) return EndStartBeforeProgrammer();
    SetInfoTx("");
    SetInfoTxColour(StatusColour::Black);
    SetWindowState(WindowState::Running);
    view_.SetPBarPosition(0);
    if (records_.empty()) {
        view_.ShowMessage(kNoData);
        SetWindowState(WindowState::Ready);
        return NothingRan(kNoData);
    }
    view_.SetPBarMax(static_cast<int>(records_.size()));
    SetPBarVisible(true);
    const UnitTypeRow& unit = *FindUnitType(unitType_);
    if (!OpenPortFor(unit)) return PortError();
    const ProcessOutcome outcome = RunProgrammer(unit);
    EndProcess(outcome);
    return outcome;
}

ProcessOutcome MainWindowLogic::NothingRan(const Text& reason) const {
    ProcessOutcome outcome;
    outcome.exitStatus = exitStatus_;
    outcome.reason = reason;
    return outcome;
}

ProcessOutcome MainWindowLogic::EndStartBeforeProgrammer() {
    // Nothing was sent to the unit: no programmer step ran, so the exit status stays as the
    // Start found it.
    records_.clear();
    SetInfoTx(kInterruptedStatus);
    SetInfoTxColour(StatusColour::Black);
    ProcessOutcome outcome = NothingRan({});
    outcome.kind = ProcessOutcome::Kind::Interrupted;
    return outcome;
}

bool MainWindowLogic::ProbePort() {
    CommPort& port = services_.port;
    port.SetBaudRate(cbr38400);
    port.SetParity(paNone);
    port.SetStopbits(sb1_0);
    port.SetDeviceName(portName_);
    port.Open();
    if (!port.IsOpen()) return false;
    port.Close();
    return true;
}

bool MainWindowLogic::OpenPortFor(const UnitTypeRow& unit) {
    CommPort& port = services_.port;
    SetCaption(UnitTypeTitle(unit.number));
    port.SetBaudRate(unit.baud);
    port.SetParity(unit.parity);
    port.SetStopbits(unit.stopbits);
    port.Open();
    if (unit.pauseMs > 0) services_.clock.SleepMs(unit.pauseMs);
    return port.IsOpen();
}

ProcessOutcome MainWindowLogic::PortError() {
    SetInfoTx(kPortOpeningError);
    SetInfoTxColour(StatusColour::Red);
    SetWindowState(WindowState::Ready);
    const CommPort& port = services_.port;
    const PortOpenFailure failure{port.DeviceName(), port.LastOpenFailure(),
                                  port.LastOpenErrorText()};
    view_.PortOpenFailed(failure);
    return NothingRan(kPortOpeningError);
}

ProcessOutcome MainWindowLogic::RunProgrammer(const UnitTypeRow& unit) {
    ProcessContext context{*this, link_,       services_.clock, records_,
                           keys_, exitStatus_, image_,          pacing_};
    try {
        programmer_ = services_.programmers(context, unit, BootAddress());
        if (programmer_) return programmer_->Run();
        return NothingRan({});
    } catch (const std::exception& error) {
        ShowException(error);
        ProcessOutcome outcome = NothingRan(error.what());
        outcome.kind = ProcessOutcome::Kind::Failed;
        return outcome;
    }
}

void MainWindowLogic::EndProcess(const ProcessOutcome& outcome) {
    services_.port.Close();
    services_.clock.SleepMs(kCloseSettleMs);
    records_.clear();
    SetPBarVisible(false);
    programmer_.reset();
    SetWindowState(WindowState::Ready);
    if (serialIncChecked_ && outcome.Succeeded()) SetEdNrSerialText(NextSerial(edNrSerial_));
}

void MainWindowLogic::StopButClick(bool fromButton) {
    if (fromButton && !view_.AskYesNo(kInterruptQuestion, false)) return;
    // A stop that comes before the programmer exists (the command line's interrupt during
    // the image load) keeps the Start from reaching the unit at all.
    if (programmer_)
        programmer_->Stop();
    else
        stopPending_ = true;
    services_.clock.SleepMs(kStopSettleMs);
}

void MainWindowLogic::Timer1Timer() {
    exitStatus_ = -1;
    view_.SetTimer1Enabled(false);
    unattendedRun_ = true;
    ProgButClick();
    view_.TerminateApplication();
}

int MainWindowLogic::ProgramExitCode() const {
#ifdef _WIN32
    return exitStatus_;
#else
    if (unattendedRun_ && lastOutcome_) return OutcomeExitCode(lastOutcome_->kind);
    return exitStatus_;
#endif
}

// ---------------------------------------------------------------------------------------
// What the programmers see

void MainWindowLogic::LogLine(const Text& line) {
    log_.Append(line);
    view_.AppendLogLine(line);
    services_.pump.processMessages();
    if (const int removed = log_.Trim(); removed > 0) view_.RemoveOldestLogLines(removed);
}

void MainWindowLogic::SetInfoTx(const Text& caption) {
    view_.SetText(Control::InfoTx, caption);
}

void MainWindowLogic::SetInfoTxColour(StatusColour colour) {
    view_.SetInfoTxColour(colour);
}

void MainWindowLogic::SetPBarPosition(int position) {
    view_.SetPBarPosition(position);
}

void MainWindowLogic::SetPBarVisible(bool visible) {
    view_.SetVisible(Control::PBar, visible);
}

void MainWindowLogic::SetLabGrot(const Text& text) {
    view_.SetText(Control::LabGrot, text);
}

void MainWindowLogic::SetApplicationTitle(const Text& title) {
    applicationTitle_ = title;
    view_.SetApplicationTitle(title);
    if (state_ == WindowState::Running) ShowWindowTitle();
}

bool MainWindowLogic::AskYesNo(const Text& text, bool defaultNo) {
    return view_.AskYesNo(text, defaultNo);
}

void MainWindowLogic::ProcessMessages() {
    services_.pump.processMessages();
}

} // namespace tarnik
