#pragma once
// What the main-window logic asks of a front end: the desktop window draws it, the command
// line prints it, the tests record it. The logic decides; the view only renders and asks.
#include "programmers/process_outcome.h"
#include "programmers/process_view.h"
#include "serial/comm_port.h"
#include "tools/text.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnik {

// The controls of the main window (and of the information window) that the logic drives.
enum class Control {
    MainWindow,     // window caption
    LDBut,          // tool button: open an image
    ProgBut,        // tool button: start
    StopBut,        // tool button: stop
    FileMenu,       // TPlik
    OpenItem,       // Otwrz1
    ExitItem,       // Wyjcie1
    StartMenu,      // Start1
    StartItem,      // Start2
    CommMenu,       // KomPop
    LTx,            // version line of the loaded image
    TxAdrLabel,     // "Devices address"
    AdrTx,          // unit address in hex
    TxNrSerial,     // "Nr seryjny"
    EdNrSerial,     // serial number
    ButRdSerial,    // "Czytaj"
    ChBoxSerialInc, // "Inkrementuj"
    BoxVer,         // "Verification"
    Button2,        // "CLR"
    Memo1,          // the log
    LabGrot,        // spinner of the network-module programmer
    InfoTx,         // process status line
    PBar,           // progress bar
    InfoLabTx1,     // message of the information window TInfo
    InfoLabGrot,    // spinner of the information window TInfo
};

// One entry of the Communication menu.
struct PortMenuEntry {
    Text name;
    Text description; // shown as the entry's tooltip; may be empty
    bool checked = false;
};

// A serial device as the port listing reports it.
struct PortChoice {
    Text name;
    Text description;
};

// The port of a Start could not be opened.
struct PortOpenFailure {
    Text port;
    OpenFailure failure = OpenFailure::Other;
    std::string systemText; // the system's own words, when it gave any
};

// An image could not be loaded. messageShown: the window has already shown the message in a
// message box; otherwise it showed it only in its caption or status bar.
struct ImageLoadFailure {
    Text message;
    bool messageShown = false;
};

class MainView {
public:
    virtual ~MainView() = default;

    // Texts are Windows-1250 bytes; the front end converts them for display.
    virtual void SetText(Control control, const Text& text) = 0;
    virtual void SetVisible(Control control, bool visible) = 0;
    virtual void SetEnabled(Control control, bool enabled) = 0;
    // Check boxes BoxVer and ChBoxSerialInc; never runs their click handlers.
    virtual void SetChecked(Control control, bool checked) = 0;

    virtual void SetApplicationTitle(const Text& title) = 0;
    virtual void SetStatusPanel(int panel, const Text& text) = 0;
    virtual void SetInfoTxColour(StatusColour colour) = 0;
    virtual void SetPBarMax(int max) = 0;
    virtual void SetPBarPosition(int position) = 0;
    virtual void SetWindowPosition(int left, int top) = 0;
    // The information window TInfo, shown on top while an image is read.
    virtual void SetInfoWindowVisible(bool visible) = 0;

    // The log Memo1: the logic keeps the model and trims it; the view mirrors it.
    virtual void AppendLogLine(const Text& line) = 0;
    virtual void RemoveOldestLogLines(int count) = 0;
    virtual void ClearLog() = 0;

    // Plain message box.
    virtual void ShowMessage(const Text& text) = 0;
    // Yes/No message box captioned "Note" with an information icon; true for Yes.
    virtual bool AskYesNo(const Text& text, bool defaultNo) = 0;
    // File-open dialog for images; nothing when the user cancels.
    virtual std::optional<std::string> ChooseImageFile(const std::string& initialFolder) = 0;

    // One-shot timer Timer1 (1000 ms); when it fires the front end calls Timer1Timer.
    virtual void SetTimer1Enabled(bool enabled) = 0;
    // Ends the message loop; the program then ends with the exit status.
    virtual void TerminateApplication() = 0;

    // Typed reports of what happened, beside the texts and controls above (which stay as the
    // window shows them): a front end that acts on an event decides from these values.
    virtual void PortOpenFailed(const PortOpenFailure& /*failure*/) {}
    virtual void ImageLoadFailed(const ImageLoadFailure& /*failure*/) {}
    virtual void StepChanged(const StepReport& /*report*/) {}
    // Every Start ends with one, whether or not a process ran.
    virtual void ProcessEnded(const ProcessOutcome& /*outcome*/) {}
};

} // namespace tarnik
