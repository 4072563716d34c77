#include "gui/text_codec.h"

#include "tools/cp1250.h"

#include <QHash>

namespace tarnik {

QString FromCoreText(const Text& text) {
    return QString::fromStdString(DisplayUtf8(text));
}

Text ToCoreText(const QString& text) {
    static const QHash<char32_t, char> kBytes = [] {
        QHash<char32_t, char> bytes;
        for (int b = 0x80; b <= 0xFF; ++b) {
            const char32_t cp = Cp1250ToCodePoint(static_cast<unsigned char>(b));
            if (cp != U'\uFFFD') bytes.insert(cp, static_cast<char>(b));
        }
        return bytes;
    }();
    Text out;
    for (char32_t cp : text.toUcs4()) {
        if (cp < 0x80)
            out += static_cast<char>(cp);
        else
            out += kBytes.value(cp, '?');
    }
    return out;
}

} // namespace tarnik
