#pragma once
// What a programmer sees of the main window and of the program while a process runs.
#include "image/image_file.h"
#include "programmers/pacing.h"
#include "serial/tfustaw.h"
#include "tools/clock.h"
#include "tools/log_sink.h"
#include "tools/text.h"

#include <cstdint>
#include <random>

namespace tarnik {

enum class StatusColour { Black, Red };

// The spinner's character for a count of turns: "/", "-", "\\" in turn.
inline const char* SpinnerText(int counter) {
    static const char* const kSpinner[] = {"/", "-", "\\"};
    return kSpinner[((counter % 3) + 3) % 3];
}

// One change of a process's step, as a value: the step taken and the name its status line
// shows (on the error step, the name of the step that failed).
struct StepReport {
    int step = 0;
    Text name;
    bool error = false;
};

class ProcessView : public LogSink {
public:
    // Status line InfoTx.
    virtual void SetInfoTx(const Text& caption) = 0;
    virtual void SetInfoTxColour(StatusColour colour) = 0;
    // Progress bar PBar (its maximum is the record count, set before the process).
    virtual void SetPBarPosition(int position) = 0;
    virtual void SetPBarVisible(bool visible) = 0;
    // Spinner label LabGrot and its counter.
    virtual void SetLabGrot(const Text& text) = 0;
    virtual int SpinnerCounter() const = 0;
    virtual void SetSpinnerCounter(int value) = 0;
    // Application title (the programmers show the percentage done in it).
    virtual void SetApplicationTitle(const Text& title) = 0;
    // State read when needed: verification check box, serial number field, unit type of
    // the loaded image, unit address (BootAddress).
    virtual bool BoxVerChecked() const = 0;
    virtual Text EdNrSerialText() const = 0;
    virtual int UnitType() const = 0;
    virtual std::uint32_t BootAddress() const = 0;
    // Yes/No message box captioned "Note"; true for Yes.
    virtual bool AskYesNo(const Text& text, bool defaultNo) = 0;
    // Lets the window (or the command line) process pending messages.
    virtual void ProcessMessages() = 0;
    // Every reported step change, after its log and status lines.
    virtual void StepChanged(const StepReport& /*report*/) {}
};

// Frame keys: a fresh key 0..65534 per built frame, from a generator seeded at Start.
class KeyGenerator {
public:
    explicit KeyGenerator(std::uint32_t seed = 1) : engine_(seed) {}
    void Seed(std::uint32_t seed) { engine_.seed(seed); }
    std::uint16_t NextKey() {
        return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(0, 0xFFFE)(engine_));
    }

private:
    std::mt19937 engine_;
};

// Everything a process works with; owned by the process control, passed to the programmer.
struct ProcessContext {
    ProcessView& view;
    TFUstaw& link;
    Clock& clock;
    const RecordList& records;
    KeyGenerator& keys;
    int& exitStatus;
    const ImageHeader& image; // version and date of the loaded image
    Pacing pacing{};          // standard pacing unless fast pacing was chosen
};

} // namespace tarnik
