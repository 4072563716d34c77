#pragma once
// Texts between the core (Windows-1250 bytes, system file names in UTF-8) and Qt.
#include "tools/text.h"

#include <QString>

namespace tarnik {

QString FromCoreText(const Text& text);
// Characters without a Windows-1250 byte become '?'.
Text ToCoreText(const QString& text);

} // namespace tarnik
