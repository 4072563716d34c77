#include "gui/tinfo.h"

#include <QFont>

namespace tarnik {

namespace {

QFont BoldPixelFont(int pixels) {
    QFont font;
    font.setPixelSize(pixels);
    font.setBold(true);
    return font;
}

} // namespace

TInfo::TInfo(QWidget* owner)
    : QWidget(owner,
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      owner_(owner) {
    setObjectName("TInfo");
    setWindowTitle("Info");
    setFixedSize(kClientWidth, kClientHeight);

    LabTx1 = new QLabel(this);
    LabTx1->setObjectName("LabTx1");
    LabTx1->setFont(BoldPixelFont(13));
    LabTx1->setGeometry(12, 8, kClientWidth - 24, 20);

    LabGrot = new QLabel(this);
    LabGrot->setObjectName("InfoLabGrot");
    LabGrot->setFont(BoldPixelFont(19));
    LabGrot->setStyleSheet("color: red;");
    LabGrot->setAlignment(Qt::AlignCenter);
    LabGrot->setGeometry(kClientWidth / 2 - 15, 30, 30, 26);
}

void TInfo::ShowCentred() {
    if (owner_) {
        const QRect frame = owner_->frameGeometry();
        move(frame.center() - QPoint(width() / 2, height() / 2));
    }
    show();
    raise();
}

} // namespace tarnik
