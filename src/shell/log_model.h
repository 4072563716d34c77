#pragma once
// The lines of the log as the window's memo holds them, with the trimming rule: once the
// text (every line followed by a line break) is longer than 34000 characters, the 51
// oldest lines go.
#include "tools/text.h"

#include <cstddef>
#include <deque>

namespace tarnik {

class LogModel {
public:
    static constexpr std::size_t kMaxTextLength = 34000;
    static constexpr int kLinesDropped = 51;
    static constexpr std::size_t kLineBreakLength = 2; // CR LF, as the memo counts them

    void Append(const Text& line);
    // Applies the trimming rule; returns how many lines were removed (0 or up to 51).
    int Trim();
    void Clear();

    const std::deque<Text>& Lines() const { return lines_; }
    std::size_t TextLength() const { return length_; }

private:
    std::deque<Text> lines_;
    std::size_t length_ = 0;
};

} // namespace tarnik
