#pragma once
// TInfo: the small stay-on-top window shown while the records of an image are read.
#include <QLabel>
#include <QWidget>

namespace tarnik {

class TInfo final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 276;
    static constexpr int kClientHeight = 60;

    explicit TInfo(QWidget* owner);
    // Shows the window centred on its owner.
    void ShowCentred();

    QLabel* LabTx1;
    QLabel* LabGrot;

private:
    QWidget* owner_;
};

} // namespace tarnik
