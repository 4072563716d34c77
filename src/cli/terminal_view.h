#pragma once
// The main window rendered on a terminal: log lines on stdout in UTF-8, status changes,
// message boxes on stderr, a progress bar on stderr, Yes/No questions answered by --yes,
// by the user at a terminal, or No.
#include "cli/station_console.h"
#include "cli/unit_watcher.h"
#include "serial/comm_port.h"
#include "shell/main_view.h"

#include <cstdio>
#include <optional>
#include <string>

namespace tarnik::cli {

struct TerminalSettings {
    bool trace = false;       // print the TX:/RX: lines too
    bool yes = false;         // answer Yes to every question
    bool interactive = false; // stdin is a terminal: ask the user
    bool progressBar = false; // stderr is a terminal: one redrawn progress line
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    std::FILE* in = stdin;
    // With several ports: every line goes through the shared console with this prefix
    // (for example "[ttyUSB1] "), and the progress into the console's slot.
    class StationConsole* console = nullptr;
    std::string prefix;
    std::size_t slot = 0;
    // Told the unit's step, status and progress (as this slot) when there is one.
    UnitWatcher* watcher = nullptr;
};

class TerminalView final : public MainView {
public:
    explicit TerminalView(TerminalSettings settings);

    void SetText(Control control, const Text& text) override;
    void SetVisible(Control control, bool visible) override;
    void SetEnabled(Control, bool) override {}
    void SetChecked(Control, bool) override {}
    void SetApplicationTitle(const Text&) override {}
    void SetStatusPanel(int, const Text&) override {}
    void SetInfoTxColour(StatusColour colour) override { red_ = colour == StatusColour::Red; }
    void SetPBarMax(int max) override;
    void SetPBarPosition(int position) override;
    void SetWindowPosition(int, int) override {}
    void SetInfoWindowVisible(bool) override {}
    void AppendLogLine(const Text& line) override;
    void RemoveOldestLogLines(int) override {}
    void ClearLog() override {}
    void ShowMessage(const Text& text) override;
    bool AskYesNo(const Text& text, bool defaultNo) override;
    std::optional<std::string> ChooseImageFile(const std::string&) override { return {}; }
    void SetTimer1Enabled(bool enabled) override { timer1_ = enabled; }
    void TerminateApplication() override { terminated_ = true; }
    void PortOpenFailed(const PortOpenFailure& failure) override;
    void ImageLoadFailed(const ImageLoadFailure& failure) override;
    void StepChanged(const StepReport& report) override;

    bool Timer1Enabled() const { return timer1_; }
    // The last status line shown (InfoTx), and how far the progress bar got.
    const Text& StatusText() const { return status_; }
    int ProgressPosition() const { return pbarHighest_; }
    int ProgressMax() const { return pbarMax_; }
    // Writes one line of the program's own on stream (with the unit's prefix).
    void Say(std::FILE* stream, const std::string& utf8) { PrintLine(stream, utf8); }
    // Ends the progress line before other output follows it.
    void FinishProgress();
    // After a successful process: the bar stands at the record being sent, so the last one
    // is shown done here, and the run's progress ends at 100 %.
    void CompleteProgress();

private:
    void PrintLine(std::FILE* stream, const std::string& utf8);
    void DrawProgress();

    TerminalSettings settings_;
    Text status_;
    bool red_ = false;
    int pbarMax_ = 0;
    int pbarPosition_ = 0;
    int pbarHighest_ = 0;
    bool pbarVisible_ = false;
    int lastPercentStep_ = -1;
    // The programmers count the records again from the start for the verification pass.
    ProgressPass pass_ = ProgressPass::Programming;
    bool progressLineOpen_ = false;
    bool timer1_ = false;
    bool terminated_ = false;
};

// A sentence that tells why a port could not be opened, with the remedy where there is one
// and the system's own words (CommPort::LastOpenErrorText) when there are any.
std::string PortFailureText(const std::string& port, OpenFailure failure,
                            const std::string& systemText = {});

} // namespace tarnik::cli
