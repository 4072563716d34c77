#include "shell/log_model.h"

namespace tarnik {

void LogModel::Append(const Text& line) {
    lines_.push_back(line);
    length_ += line.size() + kLineBreakLength;
}

int LogModel::Trim() {
    if (length_ <= kMaxTextLength) return 0;
    int removed = 0;
    while (removed < kLinesDropped && !lines_.empty()) {
        length_ -= lines_.front().size() + kLineBreakLength;
        lines_.pop_front();
        ++removed;
    }
    return removed;
}

void LogModel::Clear() {
    lines_.clear();
    length_ = 0;
}

} // namespace tarnik
