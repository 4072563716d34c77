// tarnik: the desktop window. Creates the window, the link to the serial port and the
// logic, runs the message loop, stores the window position and ends with the exit status.
#include "gui/date_format.h"
#include "gui/qt_message_pump.h"
#include "gui/tapplication.h"
#include "gui/tform1.h"
#include "serial/tcomm64.h"
#include "shell/main_window.h"
#include "tools/clock.h"
#include "tools/settings_store.h"

#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    tarnik::TApplication app(argc, argv);
    tarnik::TApplication::setQuitOnLastWindowClosed(true);

    tarnik::QtMessagePump pump;
    tarnik::SteadyClock clock;
    const auto settings = tarnik::MakePlatformSettingsStore();
    tarnik::TComm64 comm(pump);
    tarnik::TForm1 form;
    tarnik::MainWindowLogic logic(
        {form, *settings, comm, clock, pump, tarnik::FormatImageDateQt, {}});
    form.SetLogic(&logic);
    // A setting that could not be stored is said in the log, once the handler that wrote it
    // has returned (the log line processes messages), and on stderr.
    settings->OnWriteFailure([&form, &logic](const tarnik::Text& name, const std::string& why) {
        const std::string line = "The setting \"" + name + "\" was not stored: " + why;
        std::fprintf(stderr, "tarnik: %s\n", line.c_str());
        QTimer::singleShot(0, &form, [&logic, line] { logic.LogLine(line); });
    });
    app.SetExceptionHandler([&logic](const std::exception& error) { logic.ShowException(error); });

    const std::vector<std::string> args(argv + 1, argv + argc);
    // A settings value that cannot be read must not end the program before its window shows.
    logic.RunGuarded(
        [&] { logic.FormCreate(args, QCoreApplication::applicationFilePath().toStdString()); });
    form.show();
    logic.RunGuarded([&] { logic.FormShow(); });
    tarnik::TApplication::exec();

    logic.StoreWindowPosition(form.x(), form.y());
    app.SetExceptionHandler({});
    form.SetLogic(nullptr);
    return logic.ProgramExitCode();
}
