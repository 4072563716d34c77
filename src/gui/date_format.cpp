#include "gui/date_format.h"

#include "gui/text_codec.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

namespace tarnik {

Text FormatImageDateQt(std::int64_t seconds) {
    const QDateTime instant = QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
    return ToCoreText(QLocale::system().toString(instant, QLocale::ShortFormat));
}

} // namespace tarnik
