#pragma once
// The application object: an error that escapes an event handler is shown in a message box
// by the installed handler (ShowException) instead of ending the program.
#include <QApplication>

#include <exception>
#include <functional>

namespace tarnik {

class TApplication final : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    void SetExceptionHandler(std::function<void(const std::exception&)> handler) {
        handler_ = std::move(handler);
    }
    bool notify(QObject* receiver, QEvent* event) override;

private:
    std::function<void(const std::exception&)> handler_;
};

} // namespace tarnik
