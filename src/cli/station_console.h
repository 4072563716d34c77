#pragma once
// The terminal shared by the unit processes of a run with several ports. Every line is
// written whole under one lock, so lines of different units never mix. Progress is one
// slot per unit: on a terminal one redrawn line holds every unit's bar; otherwise each unit
// prints a plain line for each tenth of its records.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace tarnik::cli {

// The pass over the image's records that a progress line counts.
enum class ProgressPass { Programming, Verification };

// How far a pass got in whole percent, rounded as the window title is (to the nearest,
// halves to even), so the terminal and the title never disagree.
int ProgressPercent(int done, int max);

// The line printed for each tenth when no terminal redraws a bar:
// "Progress: programming 40 % (4/10 records)".
std::string PlainProgressLine(ProgressPass pass, int done, int max);

// The tenth a plain progress line stands for.
int ProgressTenth(int done, int max);

const char* ProgressPassWord(ProgressPass pass);

class StationConsole {
public:
    StationConsole(std::FILE* err, bool terminal, std::vector<std::string> labels);

    // Writes one line (a newline is added), ending the progress line first.
    void Print(std::FILE* stream, const std::string& line);
    void Progress(std::size_t slot, ProgressPass pass, int done, int max);
    // Ends the redrawn progress line before the run's closing output.
    void Finish();

private:
    struct Slot {
        std::string label;
        int done = 0;
        int max = 0;
        int lastTenth = -1;
        ProgressPass pass = ProgressPass::Programming;
    };

    void EndProgressLine();
    void DrawBoard();

    std::mutex mutex_;
    std::FILE* err_;
    bool terminal_;
    std::vector<Slot> slots_;
    bool lineOpen_ = false;
};

} // namespace tarnik::cli
