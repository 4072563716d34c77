#include "shell/main_window.h"

#include "shell/address_entry.h"
#include "shell/command_line.h"
#include "tools/hexcodec.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <limits>
#include <stdexcept>

namespace tarnik {

namespace {

const Text kPortOpeningError = "Process status: Port opening error";
const Text kInterruptedStatus = "Process status: Interrupting process";
const Text kNoData = "No data to be programmed";
const Text kInterruptQuestion = "Interrupt programming the unit?";
const Text kTerminateQuestion = "Terminate the program when programming?";
const Text kAnalysingData = "Data are being analyzed";
const Text kMaskValidationError = "Incorrect serial number for access controller.\r"
                                  "Enter correct address";
const Text kDefaultPort = "COM1";
const Text kAddressPanelPrefix = "Adres : ";
constexpr std::size_t kSerialDigits = 8;

bool FileExists(const std::string& name) {
    std::error_code error;
    return !name.empty() && std::filesystem::is_regular_file(name, error);
}

bool EqualIgnoringCase(const Text& a, const Text& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

int PositionSetting(const Text& value, int fallback) {
    const auto number = ParseDecimal(value);
    if (!number || *number < std::numeric_limits<int>::min() ||
        *number > std::numeric_limits<int>::max())
        return fallback;
    return static_cast<int>(*number);
}

const char* SpinnerText(int counter) {
    static const char* const kSpinner[] = {"/", "-", "\\"};
    return kSpinner[counter % 3];
}

} // namespace

MainWindowLogic::MainWindowLogic(ShellServices services)
    : services_(std::move(services)), view_(services_.view),
      link_(services_.port, services_.pump, services_.clock, *this) {
    if (!services_.formatDate) services_.formatDate = FormatImageDate;
    if (!services_.programmers) services_.programmers = MakeProgrammer;
}

MainWindowLogic::~MainWindowLogic() = default;

// ---------------------------------------------------------------------------------------
// Start-up and end

void MainWindowLogic::FormCreate(const std::vector<std::string>& args,
                                 const std::string& executablePath) {
    view_.SetVisible(Control::Button2, true);
    view_.SetVisible(Control::Memo1, true);
    SetApplicationTitle(kApplicationTitle);
    view_.SetText(Control::FileMenu, "File");
    view_.SetText(Control::OpenItem, "Open");
    view_.SetText(Control::ExitItem, "Exit");
    view_.SetText(Control::StartMenu, "Start");
    view_.SetText(Control::BoxVer, "Verification");
    view_.SetText(Control::CommMenu, "Communication");
    parseRequest_ = false;
    serialChanged_ = false;
    RestoreWindowPosition();
    view_.SetText(Control::TxAdrLabel, "Devices address");
    SetVerifyBox(ReadSetting("vrf") != "0");
    pacing_.fast = ReadSetting("fast") == "1";
    WriteSetting("pth", executablePath);
    portName_ = ReadSetting("port");
    if (portName_.empty()) portName_ = kDefaultPort;
    imageFile_ = ReadSetting("fl");
    autoStart_ = false;
    ApplyCommandLine(args);
    SetWindowState(WindowState::Idle);
    view_.SetStatusPanel(0, portName_);
    records_.clear();
    link_.FormCreate();
}

void MainWindowLogic::RestoreWindowPosition() {
    const int left = PositionSetting(ReadSetting("pozL"), kDefaultWindowPosition);
    const int top = PositionSetting(ReadSetting("pozH"), kDefaultWindowPosition);
    view_.SetWindowPosition(left, top);
}

void MainWindowLogic::ApplyCommandLine(const std::vector<std::string>& args) {
    const CommandLine line = ParseCommandLine(args, FileExists);
    if (line.imageFile) {
        imageFile_ = *line.imageFile;
        autoStart_ = true;
    }
    if (line.portName) portName_ = *line.portName;
    if (line.verify) SetVerifyBox(*line.verify);
}

void MainWindowLogic::FormShow() {
    SetCaption(kApplicationTitle);
    if (!LoadImage(imageFile_)) return;
    view_.SetStatusPanel(1, imageFile_);
    SetWindowState(WindowState::Ready);
    portChecked_ = true;
    chosenEntry_.reset();
    if (autoStart_) view_.SetTimer1Enabled(true);
}

bool MainWindowLogic::FormClose() {
    if (state_ != WindowState::Running) return true;
    if (!view_.AskYesNo(kTerminateQuestion, false)) return false;
    StopButClick(false);
    return true;
}

void MainWindowLogic::StoreWindowPosition(int left, int top) {
    WriteSetting("pozL", std::to_string(left));
    WriteSetting("pozH", std::to_string(top));
}

void MainWindowLogic::Wyjcie1Click() {
    view_.TerminateApplication();
}

void MainWindowLogic::Button2Click() {
    log_.Clear();
    view_.ClearLog();
}

void MainWindowLogic::SetCaption(const Text& caption) {
    caption_ = caption;
    if (state_ != WindowState::Running) view_.SetText(Control::MainWindow, caption);
}

// The application title carries the percentage done, but only the window title is seen on
// every desktop: a running process shows the application title there, any other state the
// caption.
void MainWindowLogic::ShowWindowTitle() {
    view_.SetText(Control::MainWindow, state_ == WindowState::Running ? applicationTitle_ : caption_);
}

// ---------------------------------------------------------------------------------------
// Window state, port menu, check boxes

void MainWindowLogic::SetWindowState(WindowState state) {
    // The serial-number read button follows the states too: a read must never run beside a
    // process.
    static constexpr Control kGoverned[] = {
        Control::LDBut,     Control::ProgBut,  Control::StopBut, Control::FileMenu,
        Control::StartMenu, Control::CommMenu, Control::AdrTx,   Control::ButRdSerial};
    for (Control control : kGoverned)
        view_.SetEnabled(control, false);
    switch (state) {
    case WindowState::Idle:
        for (Control c : {Control::LDBut, Control::FileMenu, Control::CommMenu, Control::AdrTx,
                          Control::ButRdSerial})
            view_.SetEnabled(c, true);
        break;
    case WindowState::Ready:
        for (Control c : {Control::LDBut, Control::ProgBut, Control::FileMenu, Control::StartMenu,
                          Control::CommMenu, Control::AdrTx, Control::ButRdSerial})
            view_.SetEnabled(c, true);
        break;
    case WindowState::Running:
        view_.SetEnabled(Control::StopBut, true);
        break;
    }
    const bool wasRunning = state_ == WindowState::Running;
    state_ = state;
    if (wasRunning != (state == WindowState::Running)) ShowWindowTitle();
}

std::vector<PortMenuEntry> MainWindowLogic::PortMenu(const std::vector<PortChoice>& present) const {
    // Only the listed ports are offered; a port that is not listed shows in status panel 0.
    std::vector<PortMenuEntry> entries;
    for (const PortChoice& port : present) {
        if (port.name.empty()) continue;
        const bool checked =
            portChecked_ &&
            (chosenEntry_ ? port.name == *chosenEntry_ : EqualIgnoringCase(port.name, portName_));
        entries.push_back({port.name, port.description, checked});
    }
    return entries;
}

void MainWindowLogic::SelectPort(const Text& caption) {
    Text name = caption;
    std::erase(name, '&');
    WriteSetting("port", name);
    view_.SetStatusPanel(0, name);
    portName_ = name;
    portChecked_ = true;
    // The entry chosen is the one checked, whatever its caption holds.
    chosenEntry_ = caption;
}

void MainWindowLogic::OverridePort(const Text& name) {
    portName_ = name;
    view_.SetStatusPanel(0, name);
}

void MainWindowLogic::SetVerifyBox(bool checked) {
    boxVerChecked_ = checked;
    view_.SetChecked(Control::BoxVer, checked);
}

void MainWindowLogic::BoxVerClick(bool checked) {
    boxVerChecked_ = checked;
    WriteSetting("vrf", checked ? "1" : "0");
}

void MainWindowLogic::FastPacingClick(bool checked) {
    pacing_.fast = checked;
    WriteSetting("fast", checked ? "1" : "0");
}

void MainWindowLogic::ChBoxSerialIncClick(bool checked) {
    serialIncChecked_ = checked;
}

// ---------------------------------------------------------------------------------------
// Address and serial number

void MainWindowLogic::SetUnitAddress(const Text& text, bool show) {
    const AddressText address = NormaliseAddress(text);
    const UnitTypeRow& unit = *FindUnitType(unitType_);
    if (unit.KeepsNoAddress()) {
        unitAddress_ = 0;
        return;
    }
    const Text name(unit.AddressStoreSetting());
    if (!name.empty()) WriteSetting(name, address.text);
    unitAddress_ = address.value;
    view_.SetStatusPanel(2, kAddressPanelPrefix + address.text);
    if (show) SetAdrTxText(address.text);
}

std::optional<Text> MainWindowLogic::FixedAddress() const {
    const UnitTypeRow& unit = *FindUnitType(unitType_);
    if (unit.ShowsAddressField()) return std::nullopt;
    // A type that uses another type's remembered address takes it as stored.
    if (unit.address == AddressRule::Shared) return adrTxText_;
    return NormaliseAddress(IntToHexEven(unitAddress_)).text;
}

void MainWindowLogic::SetAdrTxText(const Text& text) {
    adrTxText_ = text;
    view_.SetText(Control::AdrTx, text);
}

char MainWindowLogic::AdrTxKeyPress(char key) const {
    return FilterAddressKey(key);
}

void MainWindowLogic::AdrTxChange(const Text& text) {
    if (insideAdrTxChange_) return;
    insideAdrTxChange_ = true;
    adrTxText_ = text;
    SetUnitAddress(text, false);
    insideAdrTxChange_ = false;
}

char MainWindowLogic::EdNrSerialKeyPress(char key) const {
    return FilterSerialKey(key);
}

void MainWindowLogic::EdNrSerialChange(const Text& text) {
    serialEdited_ = true;
    SerialTextChanged(text);
}

void MainWindowLogic::SerialTextChanged(const Text& text) {
    edNrSerial_ = text;
    serialChanged_ = text.size() == kSerialDigits;
}

void MainWindowLogic::SetEdNrSerialText(const Text& text) {
    view_.SetText(Control::EdNrSerial, text);
    SerialTextChanged(text);
}

bool MainWindowLogic::EdNrSerialExit() {
    const bool edited = serialEdited_;
    serialEdited_ = false;
    // An empty field is the normal "no serial number" state; a partly typed one is an error.
    if (!edited || edNrSerial_.empty() || edNrSerial_.size() == kSerialDigits) return true;
    ShowMaskValidationError();
    return false;
}

void MainWindowLogic::ButRdSerialClick() {
    if (state_ == WindowState::Running) return;
    SetEdNrSerialText(ReadSerialFromImage(kSerialRecordAddress, imageFile_, *this));
}

void MainWindowLogic::ShowException(const std::exception& error) {
    view_.ShowMessage(error.what());
}

bool MainWindowLogic::RunGuarded(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::exception& error) {
        ShowException(error);
        return false;
    }
}

void MainWindowLogic::ShowMaskValidationError() {
    view_.ShowMessage(kMaskValidationError);
}

// ---------------------------------------------------------------------------------------
// Loading an image

void MainWindowLogic::Otwrz1Click() {
    const auto chosen = view_.ChooseImageFile(dialogFolder_);
    if (!chosen) return;
    switch (LoadImageOutcome(*chosen)) {
    case LoadOutcome::Loaded:
        imageFile_ = *chosen;
        view_.SetStatusPanel(1, imageFile_);
        WriteSetting("fl", imageFile_);
        SetWindowState(WindowState::Ready);
        break;
    case LoadOutcome::Failed:
        SetWindowState(WindowState::Idle);
        break;
    case LoadOutcome::Abandoned:
        break;
    }
}

bool MainWindowLogic::LoadImage(const std::string& fileName) {
    return LoadImageOutcome(fileName) == LoadOutcome::Loaded;
}

MainWindowLogic::LoadOutcome MainWindowLogic::LoadImageOutcome(const std::string& fileName) {
    view_.SetVisible(Control::TxAdrLabel, false);
    view_.SetVisible(Control::AdrTx, false);
    services_.pump.processMessages();
    dialogFolder_ = std::filesystem::path(fileName).parent_path().string();

    const ImageLoadResult head = ReadImageHeader(fileName);
    if (head.status == ImageLoadStatus::FileOpenError) {
        view_.SetStatusPanel(1, head.message);
        ReportLoadFailure(head.message, false);
        return LoadOutcome::Failed;
    }
    if (head.status == ImageLoadStatus::HeaderNotCorrect || !head.header) {
        view_.ShowMessage(head.message);
        ReportLoadFailure(head.message, true);
        return LoadOutcome::Failed;
    }
    image_ = *head.header;
    if (head.status == ImageLoadStatus::DateNotNumber) {
        ShowException(std::runtime_error(head.message));
        ReportLoadFailure(head.message, true);
        return LoadOutcome::Abandoned;
    }
    view_.SetText(Control::LTx, LTxText(image_));
    unitType_ = image_.unitType;
    for (Control c :
         {Control::TxNrSerial, Control::EdNrSerial, Control::ChBoxSerialInc, Control::ButRdSerial})
        view_.SetVisible(c, false);
    if (!SetUpForUnitType()) return LoadOutcome::Failed;
    if (!parseRequest_ && !serialChanged_) return LoadOutcome::Loaded;
    return ReadRecords(fileName) ? LoadOutcome::Loaded : LoadOutcome::Failed;
}

Text MainWindowLogic::LTxText(const ImageHeader& header) const {
    return "Version :" + header.version +
           "     Compilation date : " + services_.formatDate(header.dateSeconds);
}

void MainWindowLogic::ShowControls(std::initializer_list<Control> controls) {
    for (Control c : controls)
        view_.SetVisible(c, true);
}

bool MainWindowLogic::SetUpForUnitType() {
    const UnitTypeRow* unit = FindUnitType(unitType_);
    if (unit == nullptr) {
        SetCaption(kUnknownUnitTypeCaption);
        ReportLoadFailure(kUnknownUnitTypeCaption, false);
        return false;
    }
    if (!unit->keepsCaption) SetCaption(UnitTypeTitle(unitType_));
    if (unit->ShowsAddressField()) ShowControls({Control::TxAdrLabel, Control::AdrTx});
    if (unit->serialControls == SerialControls::All)
        ShowControls({Control::TxNrSerial, Control::EdNrSerial, Control::ChBoxSerialInc,
                      Control::ButRdSerial});
    if (unit->serialControls == SerialControls::WithoutLabel)
        ShowControls({Control::EdNrSerial, Control::ButRdSerial, Control::ChBoxSerialInc});
    SetAddressAtLoad(*unit);
    view_.SetVisible(Control::BoxVer, !unit->IsNetworkModule());
    return true;
}

void MainWindowLogic::SetAddressAtLoad(const UnitTypeRow& unit) {
    const Text remembered = ReadSetting(Text(unit.addressSetting));
    switch (unit.address) {
    case AddressRule::Entered:
    case AddressRule::Shared:
        SetUnitAddress(remembered, true);
        break;
    case AddressRule::FixedStored:
        SetUnitAddress(remembered, true);
        // The unit always works at address 0, which is stored as its remembered one.
        SetAdrTxText("00");
        AdrTxChange("00");
        break;
    case AddressRule::Kept:
        break;
    case AddressRule::None:
    case AddressRule::Fixed:
        SetUnitAddress("00", true);
        break;
    }
}

bool MainWindowLogic::ReadRecords(const std::string& fileName) {
    records_.clear();
    parseRequest_ = false;
    view_.SetText(Control::InfoLabTx1, kAnalysingData);
    view_.SetInfoWindowVisible(true);
    const Text serial = edNrSerial_;
    const ImageLoadResult result =
        LoadImageRecords(fileName, serial, records_, *this, [this](int counter) {
            services_.pump.processMessages();
            view_.SetText(Control::InfoLabGrot, SpinnerText(counter));
        });
    view_.SetInfoWindowVisible(false);
    serialChanged_ = false;
    if (result.ok()) return true;
    view_.ShowMessage(result.message);
    ReportLoadFailure(result.message, true);
    return false;
}

void MainWindowLogic::ReportLoadFailure(const Text& message, bool messageShown) {
    lastLoadFailure_ = message;
    view_.ImageLoadFailed({message, messageShown});
}

// ---------------------------------------------------------------------------------------
// Programming process

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
