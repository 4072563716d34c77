#include "cli/station_console.h"

#include "programmers/bootloader_frames.h"

#include <algorithm>

namespace tarnik::cli {

namespace {
constexpr int kBoardBarWidth = 10;
} // namespace

int ProgressPercent(int done, int max) {
    return PercentHalfEven(std::clamp(done, 0, std::max(max, 0)), max);
}

int ProgressTenth(int done, int max) {
    return ProgressPercent(done, max) / 10;
}

const char* ProgressPassWord(ProgressPass pass) {
    return pass == ProgressPass::Verification ? "verification" : "programming";
}

std::string PlainProgressLine(ProgressPass pass, int done, int max) {
    return "Progress: " + std::string(ProgressPassWord(pass)) + " " +
           std::to_string(ProgressTenth(done, max) * 10) + " % (" + std::to_string(done) + "/" +
           std::to_string(max) + " records)";
}

StationConsole::StationConsole(std::FILE* err, bool terminal, std::vector<std::string> labels)
    : err_(err), terminal_(terminal) {
    for (std::string& label : labels)
        slots_.push_back({std::move(label)});
}

void StationConsole::EndProgressLine() {
    if (!lineOpen_) return;
    lineOpen_ = false;
    std::fputc('\n', err_);
    std::fflush(err_);
}

void StationConsole::Print(std::FILE* stream, const std::string& line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    EndProgressLine();
    std::fputs(line.c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

void StationConsole::Progress(std::size_t slot, ProgressPass pass, int done, int max) {
    if (slot >= slots_.size() || max <= 0) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    Slot& s = slots_[slot];
    s.done = std::clamp(done, 0, max);
    s.max = max;
    if (pass != s.pass) s.lastTenth = -1;
    s.pass = pass;
    if (terminal_) {
        DrawBoard();
        return;
    }
    const int tenth = ProgressTenth(s.done, max);
    if (tenth == s.lastTenth) return;
    s.lastTenth = tenth;
    std::fprintf(err_, "[%s] %s\n", s.label.c_str(), PlainProgressLine(pass, s.done, max).c_str());
    std::fflush(err_);
}

void StationConsole::DrawBoard() {
    std::string board = "\r";
    for (const Slot& s : slots_) {
        const int filled = s.max > 0 ? s.done * kBoardBarWidth / s.max : 0;
        const int percent = ProgressPercent(s.done, s.max);
        board += "[" + s.label + " " + ProgressPassWord(s.pass) + " " +
                 std::string(static_cast<std::size_t>(filled), '#') +
                 std::string(static_cast<std::size_t>(kBoardBarWidth - filled), ' ') + " " +
                 std::to_string(percent) + "%] ";
    }
    std::fputs(board.c_str(), err_);
    std::fflush(err_);
    lineOpen_ = true;
}

void StationConsole::Finish() {
    const std::lock_guard<std::mutex> lock(mutex_);
    EndProgressLine();
}

} // namespace tarnik::cli
