#pragma once
// The desktop window over a simulated port, with its settings in a temporary folder.
#include "gui/qt_message_pump.h"
#include "gui/tapplication.h"
#include "gui/tform1.h"
#include "image/image_writer.h"
#include "serial/tcomm64.h"
#include "shell/main_window.h"
#include "sim/loopback.h"
#include "support/temp_dir.h"
#include "tools/settings_store.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <memory>

namespace tarnik::testing {

inline TApplication& App() {
    static int argc = 1;
    static char name[] = "tarnik-gui-test";
    static char* argv[] = {name, nullptr};
    static TApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        auto* created = new TApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        return created;
    }();
    return *app;
}

// Answers the next modal message box (waiting up to thirty seconds for it to appear, as a
// loaded machine may take a while to reach it) with the given button and remembers its text
// and caption.
inline void AnswerNextMessageBox(QMessageBox::StandardButton button, QString* text = nullptr,
                                 QString* caption = nullptr, int triesLeft = 3000) {
    QTimer::singleShot(10, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (triesLeft > 0) AnswerNextMessageBox(button, text, caption, triesLeft - 1);
            return;
        }
        if (text) *text = box->text();
        if (caption) *caption = box->windowTitle();
        box->button(button)->click();
    });
}

class GuiProgrammer final : public Programmer {
public:
    explicit GuiProgrammer(std::function<void(bool&)> run) : run_(std::move(run)) {}
    ProcessOutcome Run() override {
        run_(stopped_);
        return {stopped_ ? ProcessOutcome::Kind::Interrupted : ProcessOutcome::Kind::Succeeded,
                stopped_ ? 13 : 20};
    }
    void Stop() override { stopped_ = true; }

private:
    std::function<void(bool&)> run_;
    bool stopped_ = false;
};

// The window over a simulated port on a virtual clock, or (realPort) over the serial port
// component on the steady clock, for runs against the emulator on a pseudo-terminal.
struct GuiRig {
    explicit GuiRig(ProgrammerFactory programmers = {}, bool realPort = false) {
        App();
        settings = MakePlatformSettingsStore();
        settings->WriteSetting("port", "/dev/tarnik-gui-test-port");
        form = std::make_unique<TForm1>();
        form->SetPortLister([this] { return ports; });
        if (realPort) comm = std::make_unique<TComm64>(pump);
        CommPort& line = realPort ? static_cast<CommPort&>(*comm) : port;
        Clock& time = realPort ? static_cast<Clock&>(steady) : clock;
        logic = std::make_unique<MainWindowLogic>(
            ShellServices{*form, *settings, line, time, pump,
                          [](std::int64_t) { return Text("1.1.2024"); }, std::move(programmers)});
        form->SetLogic(logic.get());
    }
    ~GuiRig() { form->SetLogic(nullptr); }

    void Start(const std::vector<std::string>& args = {}) {
        logic->FormCreate(args, "/usr/bin/tarnik");
        form->show();
        logic->FormShow();
    }

    std::string WriteImage(const std::string& name, int unitType, int records) {
        ImageSpec spec;
        spec.unitType = unitType;
        spec.version = "1.05";
        spec.dateSeconds = 1700000000;
        for (int i = 0; i < records; ++i)
            spec.records.push_back({static_cast<std::uint16_t>(0x8000 + 32 * i), Text(32, 'x'),
                                    static_cast<std::uint16_t>(0x1111 * (i + 1))});
        const std::string path = (dir / name).string();
        WriteImageFile(path, BuildImage(spec));
        return path;
    }

    ScopedConfigHome config;
    TempDir dir;
    std::unique_ptr<SettingsStore> settings;
    sim::VirtualClock clock;
    sim::SimulatedPort port{clock, nullptr};
    QtMessagePump pump;
    SteadyClock steady;
    std::unique_ptr<TComm64> comm;
    std::vector<PortChoice> ports;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<MainWindowLogic> logic;
};

} // namespace tarnik::testing
