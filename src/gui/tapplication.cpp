#include "gui/tapplication.h"

namespace tarnik {

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (!handler_) throw;
        handler_(error);
    }
    return false;
}

} // namespace tarnik
