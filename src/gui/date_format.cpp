#include "gui/date_format.h"

#include "gui/text_codec.h"

#include <QDateTime>
#include <QTimeZone>

namespace tarnik {

namespace {

// A time format without its time-zone field ("t" outside quoted text): the instant is not
// converted, so naming a zone would be wrong.
QString WithoutTimeZone(const QString& format) {
    QString kept;
    bool quoted = false;
    for (QChar c : format) {
        if (c == u'\'') quoted = !quoted;
        if (!quoted && c == u't') continue;
        kept += c;
    }
    kept.remove(QStringLiteral("()")); // a zone some locales put in brackets
    return kept.trimmed();
}

} // namespace

Text FormatImageDateIn(const QLocale& locale, std::int64_t seconds) {
    // The short time format of most locales drops the seconds; the image's date is shown to
    // the second, so the long time format is used.
    const QString format = locale.dateFormat(QLocale::ShortFormat) + ' ' +
                           WithoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    const QDateTime instant = QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc());
    return ToCoreText(locale.toString(instant, format));
}

Text FormatImageDateQt(std::int64_t seconds) {
    return FormatImageDateIn(QLocale::system(), seconds);
}

} // namespace tarnik
