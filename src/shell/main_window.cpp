// The main window's start-up and end, its states and menus, and the address and
// serial-number fields.
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

const Text kTerminateQuestion = "Terminate the program when programming?";
const Text kMaskValidationError = "Incorrect serial number for access controller.\r"
                                  "Enter correct address";
const Text kDefaultPort = "COM1";
const Text kAddressPanelPrefix = "Adres : ";

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
    view_.SetText(Control::MainWindow,
                  state_ == WindowState::Running ? applicationTitle_ : caption_);
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

} // namespace tarnik
