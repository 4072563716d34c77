#include "cli/terminal_view.h"

#include "cli/station_console.h"
#include "image/image_file.h"
#include "serial/port_list.h"
#include "tools/cp1250.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace tarnik::cli {

namespace {

constexpr int kBarWidth = 30;

bool IsTraceLine(const Text& line) {
    return line.rfind("TX: ", 0) == 0 || line.rfind("RX:", 0) == 0;
}

// Message boxes break their lines with a carriage return.
std::string OneLine(const std::string& text) {
    std::string r = text;
    std::replace(r.begin(), r.end(), '\r', ' ');
    std::replace(r.begin(), r.end(), '\n', ' ');
    return r;
}

} // namespace

std::string PortFailureText(const std::string& port, OpenFailure failure,
                            const std::string& systemText) {
    // A port given as C=N is a COM name: say which device that meant here.
    const std::string device = SystemPortPath(port);
    const bool renamed = device != port && device != "/dev/" + port;
    const std::string head = "cannot open port " + port + (renamed ? " (" + device + ")" : "");
    // The system's own words come last, after the advice the kind of failure calls for.
    const std::string said = systemText.empty() ? "" : "; system error: " + systemText;
    switch (failure) {
    case OpenFailure::Missing:
        return head + ": no such device (is the adapter plugged in?)" + said;
    case OpenFailure::InUse:
        return head + ": it is in use by another program" + said;
    case OpenFailure::PermissionDenied:
#ifdef _WIN32
        return head + ": permission denied" + said;
#else
        return head +
               ": permission denied (add the user to the dialout group: "
               "sudo usermod -aG dialout $USER, then log in again)" +
               said;
#endif
    case OpenFailure::NotATerminal:
        return head + ": not a serial device" + said;
    case OpenFailure::None:
    case OpenFailure::Other:
        break;
    }
    return systemText.empty() ? head : head + ": " + systemText;
}

TerminalView::TerminalView(TerminalSettings settings) : settings_(std::move(settings)) {}

void TerminalView::PrintLine(std::FILE* stream, const std::string& utf8) {
    if (settings_.console) {
        settings_.console->Print(stream, settings_.prefix + utf8);
        return;
    }
    FinishProgress();
    std::fputs(utf8.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void TerminalView::SetText(Control control, const Text& text) {
    if (control != Control::InfoTx || text == status_) return;
    status_ = text;
    if (settings_.watcher) settings_.watcher->Status(settings_.slot, DisplayUtf8(text));
    if (text.empty()) return;
    PrintLine(settings_.out, DisplayUtf8(text));
}

void TerminalView::PortOpenFailed(const PortOpenFailure& failure) {
    PrintLine(settings_.err,
              "tarnik-cli: " + PortFailureText(failure.port, failure.failure, failure.systemText));
}

void TerminalView::ImageLoadFailed(const ImageLoadFailure& failure) {
    // A message box has been printed already; a caption or the status bar has not.
    if (!failure.messageShown)
        PrintLine(settings_.err, "tarnik-cli: " + DisplayUtf8(failure.message));
}

void TerminalView::StepChanged(const StepReport& report) {
    if (settings_.watcher) settings_.watcher->Step(settings_.slot, DisplayUtf8(report.name));
}

void TerminalView::SetVisible(Control control, bool visible) {
    if (control != Control::PBar) return;
    pbarVisible_ = visible;
    if (!visible) FinishProgress();
}

void TerminalView::SetPBarMax(int max) {
    pbarMax_ = max;
    lastPercentStep_ = -1;
    pass_ = ProgressPass::Programming;
}

void TerminalView::SetPBarPosition(int position) {
    if (position < pbarPosition_ && pbarMax_ > 0) {
        pass_ = ProgressPass::Verification;
        lastPercentStep_ = -1;
    }
    pbarPosition_ = position;
    pbarHighest_ = std::max(pbarHighest_, position);
    if (settings_.watcher) settings_.watcher->Progress(settings_.slot, position, pbarMax_);
    if (pbarVisible_ && pbarMax_ > 0) DrawProgress();
}

void TerminalView::DrawProgress() {
    const int done = std::clamp(pbarPosition_, 0, pbarMax_);
    if (settings_.console) {
        settings_.console->Progress(settings_.slot, pass_, done, pbarMax_);
        return;
    }
    if (settings_.progressBar) {
        const int filled = done * kBarWidth / pbarMax_;
        std::fprintf(settings_.err, "\r%-12s [%s%s] %3d %%  %d/%d records", ProgressPassWord(pass_),
                     std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(kBarWidth - filled), ' ').c_str(),
                     ProgressPercent(done, pbarMax_), done, pbarMax_);
        std::fflush(settings_.err);
        progressLineOpen_ = true;
        return;
    }
    // Without a terminal: one plain line per tenth of the way.
    const int step = ProgressTenth(done, pbarMax_);
    if (step == lastPercentStep_) return;
    lastPercentStep_ = step;
    std::fprintf(settings_.err, "%s\n", PlainProgressLine(pass_, done, pbarMax_).c_str());
    std::fflush(settings_.err);
}

void TerminalView::CompleteProgress() {
    if (pbarMax_ <= 0 || pbarPosition_ >= pbarMax_) return;
    pbarPosition_ = pbarMax_;
    pbarHighest_ = pbarMax_;
    DrawProgress();
    FinishProgress();
}

void TerminalView::FinishProgress() {
    if (!progressLineOpen_) return;
    progressLineOpen_ = false;
    std::fputc('\n', settings_.err);
    std::fflush(settings_.err);
}

void TerminalView::AppendLogLine(const Text& line) {
    if (!settings_.trace && IsTraceLine(line)) return;
    PrintLine(settings_.out, DisplayUtf8(line));
}

void TerminalView::ShowMessage(const Text& text) {
    PrintLine(settings_.err, "Note: " + OneLine(DisplayUtf8(text)));
}

bool TerminalView::AskYesNo(const Text& text, bool defaultNo) {
    const std::string question = "Note: " + OneLine(DisplayUtf8(text));
    if (settings_.yes) {
        PrintLine(settings_.err, question + " [answered Yes by --yes]");
        return true;
    }
    if (!settings_.interactive) {
        PrintLine(settings_.err, question + " [answered No: no terminal to ask]");
        return false;
    }
    FinishProgress();
    std::fprintf(settings_.err, "%s %s ", question.c_str(), defaultNo ? "[y/N]" : "[Y/n]");
    std::fflush(settings_.err);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, settings_.in)) return false;
    const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(answer[0])));
    if (c == 'y') return true;
    if (c == 'n') return false;
    return !defaultNo;
}

} // namespace tarnik::cli
