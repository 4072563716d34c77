#pragma once
// The main window's logic without a toolkit: start-up and settings, the command line, the
// loading of images and the window set-up per unit type, the address and serial-number
// fields, and the control of a programming process. A front end forwards its events here
// and renders what the logic decides through MainView. One job a file: main_window.cpp
// (start-up, states, menus, fields), image_load.cpp (an image and the set-up for its unit
// type) and process_control.cpp (Start, STOP, the unattended run, the programmers' view).
#include "image/image_file.h"
#include "image/unit_types.h"
#include "programmers/process_view.h"
#include "serial/comm_port.h"
#include "serial/tfustaw.h"
#include "shell/log_model.h"
#include "shell/main_view.h"
#include "shell/programmer.h"
#include "tools/clock.h"
#include "tools/message_pump.h"
#include "tools/settings_store.h"
#include "tools/text.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnik {

enum class WindowState : std::uint8_t { Idle = 0, Ready = 1, Running = 3 };

// What the logic works with; everything is owned by the caller and outlives the logic.
struct ShellServices {
    MainView& view;
    SettingsStore& settings;
    CommPort& port;
    Clock& clock;
    MessagePump& pump;
    // The compilation date of an image in the system's date and time format.
    std::function<Text(std::int64_t seconds)> formatDate;
    // The programmer of a process; MakeProgrammer when empty.
    ProgrammerFactory programmers;
};

class MainWindowLogic final : public ProcessView {
public:
    static constexpr std::uint32_t kTimer1IntervalMs = 1000;
    static constexpr std::uint32_t kCloseSettleMs = 100;
    static constexpr std::uint32_t kStopSettleMs = 500;
    static constexpr int kDefaultWindowPosition = 10;

    explicit MainWindowLogic(ShellServices services);
    ~MainWindowLogic() override;
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // Start-up and end.
    void FormCreate(const std::vector<std::string>& args, const std::string& executablePath);
    void FormShow();
    // Runs a handler (FormCreate and FormShow too) the way the application runs every event:
    // an error it raises is shown through ShowException. False when one was.
    bool RunGuarded(const std::function<void()>& handler);
    // True when the window may close (asks first while a process runs, then stops it).
    bool FormClose();
    void StoreWindowPosition(int left, int top);

    // Commands.
    void Otwrz1Click();
    void Wyjcie1Click();
    void Button2Click();
    void ProgButClick();
    // fromButton: the STOP button (asks first); false: the window is closing.
    void StopButClick(bool fromButton);
    void Timer1Timer();

    // Communication menu: one entry per port present now; checked are the entries whose name
    // equals the port name (ignoring case) once an image has loaded at start-up, or the entry
    // chosen last.
    std::vector<PortMenuEntry> PortMenu(const std::vector<PortChoice>& present) const;
    void SelectPort(const Text& caption);
    // Uses a port for this run only (the command line's --port): nothing is stored.
    void OverridePort(const Text& name);

    // Address and serial-number fields.
    char AdrTxKeyPress(char key) const;
    void AdrTxChange(const Text& text);
    char EdNrSerialKeyPress(char key) const;
    // A change made by the user in the serial-number field.
    void EdNrSerialChange(const Text& text);
    // The serial-number field loses the focus; false (after the message) when it must keep
    // it because an edit left the number incomplete.
    bool EdNrSerialExit();
    void ButRdSerialClick();
    void BoxVerClick(bool checked);
    void ChBoxSerialIncClick(bool checked);
    // Fast pacing of the main-family and network-module programmers: the stored "fast"
    // setting, changed (and stored) by the window's menu entry; the command line may switch
    // it on for one run without storing it.
    void FastPacingClick(bool checked);
    void SetPacing(const Pacing& pacing) { pacing_ = pacing; }
    const Pacing& CurrentPacing() const { return pacing_; }

    // Services of the window.
    bool LoadImage(const std::string& fileName);
    void SetWindowState(WindowState state);
    void SetVerifyBox(bool checked);
    void SetUnitAddress(const Text& text, bool show);
    void ShowException(const std::exception& error);
    void ShowMaskValidationError();

    // ProcessView: what the programmers see of the window.
    void LogLine(const Text& line) override;
    void SetInfoTx(const Text& caption) override;
    void SetInfoTxColour(StatusColour colour) override;
    void SetPBarPosition(int position) override;
    void SetPBarVisible(bool visible) override;
    void SetLabGrot(const Text& text) override;
    int SpinnerCounter() const override { return spinnerCounter_; }
    void SetSpinnerCounter(int value) override { spinnerCounter_ = value; }
    void SetApplicationTitle(const Text& title) override;
    bool BoxVerChecked() const override { return boxVerChecked_; }
    Text EdNrSerialText() const override { return edNrSerial_; }
    int UnitType() const override { return unitType_; }
    std::uint32_t BootAddress() const override { return unitAddress_ & 0xFF; }
    bool AskYesNo(const Text& text, bool defaultNo) override;
    void ProcessMessages() override;
    void StepChanged(const StepReport& report) override { view_.StepChanged(report); }

    // State, for front ends and tests.
    WindowState State() const { return state_; }
    bool Running() const { return state_ == WindowState::Running; }
    const Text& PortName() const { return portName_; }
    // Why the port could not be opened at the last Start (None when it opened).
    OpenFailure LastPortFailure() const { return services_.port.LastOpenFailure(); }
    const std::string& ImageFileName() const { return imageFile_; }
    const std::string& DialogFolder() const { return dialogFolder_; }
    std::uint32_t UnitAddress() const { return unitAddress_; }
    const Text& AdrTxText() const { return adrTxText_; }
    bool SerialIncChecked() const { return serialIncChecked_; }
    bool AutoStart() const { return autoStart_; }
    bool ParseRequest() const { return parseRequest_; }
    bool SerialChanged() const { return serialChanged_; }
    int ExitStatus() const { return exitStatus_; }
    void SetExitStatus(int status) { exitStatus_ = status; }
    const RecordList& Records() const { return records_; }
    const ImageHeader& Image() const { return image_; }
    const LogModel& Log() const { return log_; }
    TFUstaw& Link() { return link_; }
    // The address the loaded image's unit type always uses (as the status bar shows it) when
    // its window has no address field; nothing when the technician sets the address.
    std::optional<Text> FixedAddress() const;
    // How the last Start ended; nothing before the first.
    const std::optional<ProcessOutcome>& LastOutcome() const { return lastOutcome_; }
    // The code the program ends with. Where the whole exit status reaches the caller
    // (Windows) it is that status; where only its low byte does, an unattended run ends with
    // the code of its outcome, which a failure can never share with a success.
    int ProgramExitCode() const;

private:
    Text ReadSetting(const Text& name) { return services_.settings.ReadSetting(name); }
    void WriteSetting(const Text& name, const Text& value) {
        services_.settings.WriteSetting(name, value);
    }
    void SetCaption(const Text& caption);
    void ShowWindowTitle();
    void ApplyCommandLine(const std::vector<std::string>& args);
    void RestoreWindowPosition();

    // How a load ended: an abandoned load (the compilation date is no number) is reported
    // like an error of a handler, so the command that asked for it changes nothing more.
    enum class LoadOutcome { Loaded, Failed, Abandoned };
    LoadOutcome LoadImageOutcome(const std::string& fileName);
    bool SetUpForUnitType();
    void SetAddressAtLoad(const UnitTypeRow& unit);
    void ShowControls(std::initializer_list<Control> controls);
    void SetAdrTxText(const Text& text);
    void SetEdNrSerialText(const Text& text);
    void SerialTextChanged(const Text& text);
    bool ReadRecords(const std::string& fileName);
    Text LTxText(const ImageHeader& header) const;

    ProcessOutcome StartProcess();
    ProcessOutcome NothingRan(const Text& reason) const;
    bool ProbePort();
    bool OpenPortFor(const UnitTypeRow& unit);
    ProcessOutcome PortError();
    ProcessOutcome EndStartBeforeProgrammer();
    ProcessOutcome RunProgrammer(const UnitTypeRow& unit);
    void EndProcess(const ProcessOutcome& outcome);
    void ReportLoadFailure(const Text& message, bool messageShown);

    ShellServices services_;
    MainView& view_;
    TFUstaw link_;
    KeyGenerator keys_;
    LogModel log_;
    RecordList records_;
    ImageHeader image_;
    std::unique_ptr<Programmer> programmer_;

    WindowState state_ = WindowState::Idle;
    Text caption_;
    Text applicationTitle_;
    Text portName_;
    bool portChecked_ = false;
    std::optional<Text> chosenEntry_;
    std::string imageFile_;
    std::string dialogFolder_;
    int unitType_ = 0;
    std::uint32_t unitAddress_ = 0;
    Text adrTxText_ = "00";
    bool insideAdrTxChange_ = false;
    Text edNrSerial_;
    bool serialEdited_ = false;
    bool boxVerChecked_ = true;
    Pacing pacing_;
    bool serialIncChecked_ = false;
    bool autoStart_ = false;
    bool parseRequest_ = false;
    bool serialChanged_ = false;
    bool insideStart_ = false;
    bool stopPending_ = false;
    bool unattendedRun_ = false;
    std::optional<ProcessOutcome> lastOutcome_;
    Text lastLoadFailure_;
    int spinnerCounter_ = 0;
    int exitStatus_ = 0;
};

} // namespace tarnik
