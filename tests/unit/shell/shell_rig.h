#pragma once
// A recording view, an in-memory settings store and the main-window logic wired to a
// simulated port on a virtual clock, for the shell tests.
#include "image/image_writer.h"
#include "shell/main_window.h"
#include "sim/loopback.h"
#include "support/temp_dir.h"

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnik::testing {

class MemorySettings final : public SettingsStore {
public:
    Text ReadSetting(const Text& name) override {
        const auto it = values.find(name);
        return it == values.end() ? Text() : it->second;
    }
    void WriteSetting(const Text& name, const Text& value) override {
        values[name] = value;
        writes.push_back(name);
    }
    bool Has(const Text& name) const { return values.count(name) != 0; }
    std::map<Text, Text> values;
    std::vector<Text> writes;
};

class RecordingView final : public MainView {
public:
    void SetText(Control c, const Text& text) override { texts[c] = text; }
    void SetVisible(Control c, bool v) override { visible[c] = v; }
    void SetEnabled(Control c, bool e) override { enabled[c] = e; }
    void SetChecked(Control c, bool v) override { checked[c] = v; }
    void SetApplicationTitle(const Text& title) override { appTitle = title; }
    void SetStatusPanel(int panel, const Text& text) override { panels.at(panel) = text; }
    void SetInfoTxColour(StatusColour c) override { infoColour = c; }
    void SetPBarMax(int max) override { pbarMax = max; }
    void SetPBarPosition(int position) override { pbarPosition = position; }
    void SetWindowPosition(int l, int t) override { left = l, top = t; }
    void SetInfoWindowVisible(bool v) override {
        infoWindowVisible = v;
        if (v) ++infoWindowShown;
    }
    void AppendLogLine(const Text& line) override { log.push_back(line); }
    void RemoveOldestLogLines(int count) override {
        removedLines += count;
        log.erase(log.begin(), log.begin() + std::min<std::ptrdiff_t>(count, log.size()));
    }
    void ClearLog() override { log.clear(); }
    void ShowMessage(const Text& text) override { messages.push_back(text); }
    bool AskYesNo(const Text& text, bool) override {
        questions.push_back(text);
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::string> ChooseImageFile(const std::string& folder) override {
        dialogFolders.push_back(folder);
        return chosenFile;
    }
    void SetTimer1Enabled(bool e) override { timer1 = e; }
    void TerminateApplication() override { ++terminated; }
    void PortOpenFailed(const PortOpenFailure& failure) override {
        portFailures.push_back(failure);
    }
    void ImageLoadFailed(const ImageLoadFailure& failure) override {
        loadFailures.push_back(failure);
    }
    void ProcessEnded(const ProcessOutcome& outcome) override { outcomes.push_back(outcome); }

    Text Get(Control c) const { return texts.count(c) ? texts.at(c) : Text(); }
    bool IsVisible(Control c) const { return visible.count(c) && visible.at(c); }
    bool IsEnabled(Control c) const { return enabled.count(c) && enabled.at(c); }
    bool HasLogLine(const Text& line) const {
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    std::map<Control, Text> texts;
    std::map<Control, bool> visible, enabled, checked;
    Text appTitle;
    std::array<Text, 3> panels;
    StatusColour infoColour = StatusColour::Black;
    int pbarMax = 0, pbarPosition = 0;
    int left = -1, top = -1;
    bool infoWindowVisible = false;
    int infoWindowShown = 0;
    std::vector<Text> log;
    int removedLines = 0;
    std::vector<Text> messages, questions;
    std::deque<bool> answers;
    std::vector<std::string> dialogFolders;
    std::optional<std::string> chosenFile;
    bool timer1 = false;
    int terminated = 0;
    std::vector<PortOpenFailure> portFailures;
    std::vector<ImageLoadFailure> loadFailures;
    std::vector<ProcessOutcome> outcomes;
};

// A programmer that runs a test's script instead of talking to a unit.
// It ends with the outcome the test gives it.
class ScriptedProgrammer final : public Programmer {
public:
    ScriptedProgrammer(std::function<void()> run, bool& stopped, const ProcessOutcome& outcome)
        : run_(std::move(run)), stopped_(stopped), outcome_(outcome) {}
    ProcessOutcome Run() override {
        if (run_) run_();
        return outcome_;
    }
    void Stop() override { stopped_ = true; }

private:
    std::function<void()> run_;
    bool& stopped_;
    const ProcessOutcome& outcome_;
};

struct ShellRig {
    ShellRig() {
        pump.AddPort(&port);
        settings.values["port"] = "/dev/tarnik-test-port";
    }

    // Replaces the programmers with a scripted one; created units are recorded.
    void UseScriptedProgrammer(std::function<void()> run) {
        programmerRun = std::move(run);
        scripted = true;
    }

    MainWindowLogic& Logic() {
        if (!logic) {
            ShellServices services{view, settings,
                                   port, clock,
                                   pump, [](std::int64_t s) { return "date:" + std::to_string(s); },
                                   {}};
            if (scripted)
                services.programmers = [this](ProcessContext&, const UnitTypeRow& unit,
                                              std::uint32_t address) {
                    createdFor.push_back(unit.number);
                    addresses.push_back(address);
                    return std::make_unique<ScriptedProgrammer>(programmerRun, stopped,
                                                                scriptedOutcome);
                };
            logic = std::make_unique<MainWindowLogic>(services);
        }
        return *logic;
    }

    // FormCreate with the given arguments, then FormShow.
    MainWindowLogic& Start(const std::vector<std::string>& args = {}) {
        Logic().FormCreate(args, "/opt/tarnik/bin/tarnik");
        logic->FormShow();
        return *logic;
    }

    std::string WriteImage(const std::string& name, const ImageSpec& spec) {
        const std::string path = (dir / name).string();
        WriteImageFile(path, BuildImage(spec));
        return path;
    }

    static ImageSpec Spec(int unitType, int recordCount = 3) {
        ImageSpec spec;
        spec.unitType = unitType;
        spec.version = "1.05";
        spec.dateSeconds = 1700000000;
        spec.fileKey = 0x1234;
        for (int i = 0; i < recordCount; ++i) {
            ImageRecordSpec record;
            record.address = static_cast<std::uint16_t>(0x8000 + 16 * i);
            record.data = Text(16, static_cast<char>(i + 1));
            record.key = static_cast<std::uint16_t>(0x0101 * (i + 1));
            spec.records.push_back(record);
        }
        return spec;
    }

    TempDir dir;
    RecordingView view;
    MemorySettings settings;
    sim::VirtualClock clock;
    sim::SimulatedPort port{clock, nullptr};
    sim::LoopbackPump pump;
    bool scripted = false;
    std::function<void()> programmerRun;
    bool stopped = false;
    ProcessOutcome scriptedOutcome{ProcessOutcome::Kind::Failed, 5376 + 13};
    std::vector<int> createdFor;
    std::vector<std::uint32_t> addresses;
    std::unique_ptr<MainWindowLogic> logic;
};

} // namespace tarnik::testing
