#include "cli/station_console.h"

#include <algorithm>

namespace tarnik::cli {

namespace {
constexpr int kBoardBarWidth = 10;
} // namespace

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

void StationConsole::Progress(std::size_t slot, int done, int max) {
    if (slot >= slots_.size() || max <= 0) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    Slot& s = slots_[slot];
    s.done = std::clamp(done, 0, max);
    s.max = max;
    if (terminal_) {
        DrawBoard();
        return;
    }
    const int tenth = s.done * 10 / max;
    if (tenth == s.lastTenth) return;
    s.lastTenth = tenth;
    std::fprintf(err_, "[%s] Progress: %d %% (%d/%d records)\n", s.label.c_str(), tenth * 10,
                 s.done, max);
    std::fflush(err_);
}

void StationConsole::DrawBoard() {
    std::string board = "\r";
    for (const Slot& s : slots_) {
        const int filled = s.max > 0 ? s.done * kBoardBarWidth / s.max : 0;
        const int percent = s.max > 0 ? s.done * 100 / s.max : 0;
        board += "[" + s.label + " " + std::string(static_cast<std::size_t>(filled), '#') +
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
