#pragma once
// TForm1: the desktop main window. It draws what the main-window logic decides and hands
// every user event to it.
#include "shell/main_view.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <map>
#include <vector>

namespace tarnik {

class MainWindowLogic;
class TInfo;

class TForm1 final : public QMainWindow, public MainView {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 543;
    static constexpr int kClientHeight = 509;
    // Filter of the image dialog (Windows-1250, as every text of the program).
    static constexpr const char* kImageFilter = "Program Kontrolera Dost\xEApu(*.bin)";

    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    void SetLogic(MainWindowLogic* logic) { logic_ = logic; }
    // The serial ports offered by the Communication menu (the system's listing by default).
    void SetPortLister(std::function<std::vector<PortChoice>()> lister) {
        portLister_ = std::move(lister);
    }

    // MainView
    void SetText(Control control, const Text& text) override;
    void SetVisible(Control control, bool visible) override;
    void SetEnabled(Control control, bool enabled) override;
    void SetChecked(Control control, bool checked) override;
    void SetApplicationTitle(const Text& title) override;
    void SetStatusPanel(int panel, const Text& text) override;
    void SetInfoTxColour(StatusColour colour) override;
    void SetPBarMax(int max) override;
    void SetPBarPosition(int position) override;
    void SetWindowPosition(int left, int top) override;
    void SetInfoWindowVisible(bool visible) override;
    void AppendLogLine(const Text& line) override;
    void RemoveOldestLogLines(int count) override;
    void ClearLog() override;
    void ShowMessage(const Text& text) override;
    bool AskYesNo(const Text& text, bool defaultNo) override;
    std::optional<std::string> ChooseImageFile(const std::string& initialFolder) override;
    void SetTimer1Enabled(bool enabled) override;
    void TerminateApplication() override;

    // Controls, named as the window names them (tests reach them through these too).
    QToolButton* LDBut;
    QToolButton* ProgBut;
    QToolButton* StopBut;
    QMenu* TPlik;
    QAction* Otwrz1;
    QAction* Wyjcie1;
    QMenu* Start1;
    QAction* Start2;
    QAction* FastPacing; // checkable: the stored "fast" setting
    QMenu* KomPop;
    QLabel* LTx;
    QLabel* TxAdrLabel;
    QLineEdit* AdrTx;
    QLabel* TxNrSerial;
    QLineEdit* EdNrSerial;
    QPushButton* ButRdSerial;
    QCheckBox* ChBoxSerialInc;
    QCheckBox* BoxVer;
    QPushButton* Button2;
    QLabel* LabGrot;
    QLabel* InfoTx;
    QProgressBar* PBar;
    QPlainTextEdit* Memo1;
    QLabel* BarPanels[3];
    QTimer* Timer1;
    TInfo* Info;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildControls();
    void BuildStatusBar();
    void ConnectEvents();
    void RebuildPortMenu();
    QWidget* Widget(Control control) const;
    QAction* Action(Control control) const;
    bool FilterKey(QLineEdit* edit, QKeyEvent* key, char (MainWindowLogic::*filter)(char) const);

    MainWindowLogic* logic_ = nullptr;
    std::function<std::vector<PortChoice>()> portLister_;
    QWidget* panel_ = nullptr;
};

} // namespace tarnik
