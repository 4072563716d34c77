#include "gui/tform1.h"

#include "gui/text_codec.h"
#include "gui/tinfo.h"
#include "serial/port_list.h"
#include "shell/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFont>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolBar>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>

namespace tarnik {

namespace {

constexpr int kAdrTxMaxLength = 2;
constexpr int kToolButtonWidth = 39;
constexpr int kToolButtonHeight = 41;
constexpr int kToolImageSize = 32;
constexpr int kTopPanelHeight = 136;
constexpr int kMargin = 8;
constexpr int kFullWidth = TForm1::kClientWidth - 2 * kMargin;

std::vector<PortChoice> SystemPorts() {
    std::vector<PortChoice> ports;
    for (const PortInfo& port : ListSerialPorts())
        ports.push_back({port.name, port.description});
    return ports;
}

// Message texts separate their lines with a carriage return.
QString MessageText(const Text& text) {
    QString shown = FromCoreText(text);
    shown.replace("\r\n", "\n");
    shown.replace('\r', '\n');
    return shown;
}

QFont BoldFont(const QString& family, int points) {
    QFont font(family);
    font.setPointSize(points);
    font.setBold(true);
    return font;
}

// The address field shows its text in upper case whatever way it arrives (typed keys are
// filtered before this; pasted or dropped text is converted here).
class UpperCaseValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

template <typename W> W* Placed(W* widget, const char* name, int x, int y, int w, int h) {
    widget->setObjectName(name);
    widget->setGeometry(x, y, w, h);
    // Hidden controls keep their place, so showing one never moves the others.
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
    return widget;
}

} // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent), portLister_(SystemPorts) {
    setObjectName("Form1");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    BuildMenus();
    BuildToolBar();
    BuildControls();
    BuildStatusBar();
    Info = new TInfo(this);
    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setSingleShot(true);
    Timer1->setInterval(static_cast<int>(MainWindowLogic::kTimer1IntervalMs));
    ConnectEvents();
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

TForm1::~TForm1() = default;

void TForm1::BuildMenus() {
    TPlik = menuBar()->addMenu("File");
    TPlik->setObjectName("TPlik");
    Otwrz1 = TPlik->addAction("Open");
    Otwrz1->setObjectName("Otwrz1");
    TPlik->addSeparator()->setObjectName("N1");
    Wyjcie1 = TPlik->addAction("Exit");
    Wyjcie1->setObjectName("Wyjcie1");
    Start1 = menuBar()->addMenu("Start");
    Start1->setObjectName("Start1");
    Start2 = Start1->addAction("Start");
    Start2->setObjectName("Start2");
    Start1->addSeparator();
    FastPacing = Start1->addAction("Fast pacing");
    FastPacing->setObjectName("FastPacing");
    FastPacing->setCheckable(true);
    KomPop = menuBar()->addMenu("Communication");
    KomPop->setObjectName("KomPop");
    KomPop->setToolTipsVisible(true);
}

void TForm1::BuildToolBar() {
    QToolBar* bar = addToolBar("ToolBar1");
    bar->setObjectName("ToolBar1");
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(kToolImageSize, kToolImageSize));
    bar->setContextMenuPolicy(Qt::PreventContextMenu);
    const auto addButton = [&](const char* name, QStyle::StandardPixmap icon, const QString& tip) {
        auto* button = new QToolButton(bar);
        button->setObjectName(name);
        button->setIcon(style()->standardIcon(icon));
        button->setToolTip(tip);
        button->setAutoRaise(true);
        button->setFixedSize(kToolButtonWidth, kToolButtonHeight);
        bar->addWidget(button);
        return button;
    };
    LDBut = addButton("LDBut", QStyle::SP_DialogOpenButton, "Open");
    ProgBut = addButton("ProgBut", QStyle::SP_MediaPlay, "Start");
    StopBut = addButton("StopBut", QStyle::SP_BrowserStop, "STOP");
    StopBut->setText("STOP");
    ProgBut->setEnabled(false);
    StopBut->setEnabled(false);
}

void TForm1::BuildControls() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    panel_ = new QWidget(central);
    panel_->setFixedHeight(kTopPanelHeight);
    layout->addWidget(panel_);

    LTx = Placed(new QLabel(panel_), "LTx", kMargin, 6, kFullWidth, 18);
    TxAdrLabel = Placed(new QLabel("Devices address", panel_), "TxAdrLabel", kMargin, 33, 104, 18);
    AdrTx = Placed(new QLineEdit("00", panel_), "AdrTx", 114, 30, 36, 24);
    AdrTx->setMaxLength(kAdrTxMaxLength);
    AdrTx->setValidator(new UpperCaseValidator(AdrTx));
    AdrTx->setFont(BoldFont(AdrTx->font().family(), AdrTx->font().pointSize()));
    AdrTx->setAlignment(Qt::AlignCenter);
    TxNrSerial = Placed(new QLabel("Nr seryjny", panel_), "TxNrSerial", 176, 33, 72, 18);
    EdNrSerial = Placed(new QLineEdit(panel_), "EdNrSerial", 250, 30, 96, 24);
    EdNrSerial->setInputMask(">NNNNNNNN;_");
    EdNrSerial->setMaxLength(8);
    ButRdSerial = Placed(new QPushButton("Czytaj", panel_), "ButRdSerial", 352, 29, 70, 26);
    Button2 = Placed(new QPushButton("CLR", panel_), "Button2", 465, 29, 70, 26);
    BoxVer = Placed(new QCheckBox("Verification", panel_), "BoxVer", kMargin, 62, 130, 20);
    ChBoxSerialInc =
        Placed(new QCheckBox("Inkrementuj", panel_), "ChBoxSerialInc", 250, 62, 120, 20);
    LabGrot = Placed(new QLabel(panel_), "LabGrot", 430, 60, 24, 24);
    LabGrot->setFont(BoldFont(LabGrot->font().family(), 12));
    InfoTx = Placed(new QLabel(panel_), "InfoTx", kMargin, 88, kFullWidth, 22);
    InfoTx->setFont(BoldFont("Arial", 10));
    PBar = Placed(new QProgressBar(panel_), "PBar", kMargin, 114, kFullWidth, 16);
    PBar->setTextVisible(false);

    for (QWidget* hidden : std::initializer_list<QWidget*>{TxAdrLabel, AdrTx, TxNrSerial,
                                                           EdNrSerial, ButRdSerial, PBar})
        hidden->hide();

    Memo1 = new QPlainTextEdit(central);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont courier("Courier");
    courier.setStyleHint(QFont::TypeWriter);
    courier.setPixelSize(11);
    Memo1->setFont(courier);
    layout->addWidget(Memo1, 1);
    setCentralWidget(central);
}

void TForm1::BuildStatusBar() {
    // Panel 1 takes what panels 0 and 2 leave, so the address panel is never cut off.
    static constexpr int kMinWidths[3] = {50, 300, 80};
    for (int i = 0; i < 3; ++i) {
        BarPanels[i] = new QLabel(this);
        BarPanels[i]->setObjectName(QString("BarPanel%1").arg(i));
        BarPanels[i]->setMinimumWidth(kMinWidths[i]);
        statusBar()->addWidget(BarPanels[i], i == 1 ? 1 : 0);
    }
    BarPanels[1]->setMinimumWidth(1);
    statusBar()->setSizeGripEnabled(false);
}

void TForm1::ConnectEvents() {
    connect(LDBut, &QToolButton::clicked, this, [this] { logic_->Otwrz1Click(); });
    connect(Otwrz1, &QAction::triggered, this, [this] { logic_->Otwrz1Click(); });
    connect(Wyjcie1, &QAction::triggered, this, [this] { logic_->Wyjcie1Click(); });
    connect(ProgBut, &QToolButton::clicked, this, [this] { logic_->ProgButClick(); });
    connect(Start2, &QAction::triggered, this, [this] { logic_->ProgButClick(); });
    connect(StopBut, &QToolButton::clicked, this, [this] { logic_->StopButClick(true); });
    connect(Button2, &QPushButton::clicked, this, [this] { logic_->Button2Click(); });
    connect(ButRdSerial, &QPushButton::clicked, this, [this] { logic_->ButRdSerialClick(); });
    connect(BoxVer, &QCheckBox::clicked, this, [this](bool on) { logic_->BoxVerClick(on); });
    connect(FastPacing, &QAction::triggered, this,
            [this](bool on) { logic_->FastPacingClick(on); });
    // The entry shows the choice the logic holds (read from the settings at start-up).
    connect(Start1, &QMenu::aboutToShow, this,
            [this] { FastPacing->setChecked(logic_->CurrentPacing().fast); });
    connect(ChBoxSerialInc, &QCheckBox::clicked, this,
            [this](bool on) { logic_->ChBoxSerialIncClick(on); });
    connect(AdrTx, &QLineEdit::textChanged, this, [this](const QString& text) {
        // A longer remembered address, shown in full, gives way to the usual limit once the
        // user has shortened it.
        if (text.size() <= kAdrTxMaxLength) AdrTx->setMaxLength(kAdrTxMaxLength);
        logic_->AdrTxChange(ToCoreText(text));
    });
    connect(EdNrSerial, &QLineEdit::textEdited, this,
            [this](const QString& text) { logic_->EdNrSerialChange(ToCoreText(text)); });
    connect(Timer1, &QTimer::timeout, this, [this] { logic_->Timer1Timer(); });
    connect(KomPop, &QMenu::aboutToShow, this, [this] { RebuildPortMenu(); });
    AdrTx->installEventFilter(this);
    EdNrSerial->installEventFilter(this);
}

void TForm1::RebuildPortMenu() {
    KomPop->clear();
    for (const PortMenuEntry& entry : logic_->PortMenu(portLister_())) {
        QString caption = FromCoreText(entry.name);
        caption.replace("&", "&&");
        QAction* action = KomPop->addAction(caption);
        action->setCheckable(true);
        action->setChecked(entry.checked);
        action->setToolTip(FromCoreText(entry.description));
        const Text name = entry.name;
        connect(action, &QAction::triggered, this, [this, name] { logic_->SelectPort(name); });
    }
}

bool TForm1::FilterKey(QLineEdit* edit, QKeyEvent* key,
                       char (MainWindowLogic::*filter)(char) const) {
    const QString typed = key->text();
    if (typed.size() != 1 || typed[0].unicode() < 0x20 || typed[0].unicode() > 0x7E)
        return typed.size() == 1 && typed[0].unicode() >= 0x80; // other letters never pass
    const char original = static_cast<char>(typed[0].unicode());
    const char accepted = (logic_->*filter)(original);
    if (accepted == '\0') return true;
    if (accepted != original) {
        edit->insert(QString(QChar(accepted)));
        return true;
    }
    return false;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (logic_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == AdrTx) return FilterKey(AdrTx, key, &MainWindowLogic::AdrTxKeyPress);
        if (watched == EdNrSerial)
            return FilterKey(EdNrSerial, key, &MainWindowLogic::EdNrSerialKeyPress);
    }
    if (logic_ && watched == EdNrSerial && event->type() == QEvent::FocusOut) {
        if (!logic_->EdNrSerialExit())
            QTimer::singleShot(0, EdNrSerial, [this] { EdNrSerial->setFocus(); });
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!logic_ || logic_->FormClose())
        event->accept();
    else
        event->ignore();
}

// ---------------------------------------------------------------------------------------
// MainView

QWidget* TForm1::Widget(Control control) const {
    switch (control) {
    case Control::MainWindow:
        return const_cast<TForm1*>(this);
    case Control::LDBut:
        return LDBut;
    case Control::ProgBut:
        return ProgBut;
    case Control::StopBut:
        return StopBut;
    case Control::LTx:
        return LTx;
    case Control::TxAdrLabel:
        return TxAdrLabel;
    case Control::AdrTx:
        return AdrTx;
    case Control::TxNrSerial:
        return TxNrSerial;
    case Control::EdNrSerial:
        return EdNrSerial;
    case Control::ButRdSerial:
        return ButRdSerial;
    case Control::ChBoxSerialInc:
        return ChBoxSerialInc;
    case Control::BoxVer:
        return BoxVer;
    case Control::Button2:
        return Button2;
    case Control::Memo1:
        return Memo1;
    case Control::LabGrot:
        return LabGrot;
    case Control::InfoTx:
        return InfoTx;
    case Control::PBar:
        return PBar;
    case Control::InfoLabTx1:
        return Info->LabTx1;
    case Control::InfoLabGrot:
        return Info->LabGrot;
    default:
        return nullptr;
    }
}

QAction* TForm1::Action(Control control) const {
    switch (control) {
    case Control::FileMenu:
        return TPlik->menuAction();
    case Control::OpenItem:
        return Otwrz1;
    case Control::ExitItem:
        return Wyjcie1;
    case Control::StartMenu:
        return Start1->menuAction();
    case Control::StartItem:
        return Start2;
    case Control::CommMenu:
        return KomPop->menuAction();
    default:
        return nullptr;
    }
}

void TForm1::SetText(Control control, const Text& text) {
    const QString shown = FromCoreText(text);
    if (control == Control::MainWindow) {
        setWindowTitle(shown);
        return;
    }
    if (QAction* action = Action(control)) {
        action->setText(shown);
        return;
    }
    QWidget* widget = Widget(control);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(shown);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // The logic runs its own change handling; the edit's signals stay quiet.
        const QSignalBlocker quiet(edit);
        // The limit binds typing only: a wider address written outside the program is shown
        // as it is stored.
        if (edit == AdrTx) edit->setMaxLength(std::max<int>(kAdrTxMaxLength, shown.size()));
        edit->setText(shown);
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(shown);
    }
}

void TForm1::SetVisible(Control control, bool visible) {
    if (QAction* action = Action(control)) {
        action->setVisible(visible);
    } else if (QWidget* widget = Widget(control); widget && widget != this) {
        widget->setVisible(visible);
    }
}

void TForm1::SetEnabled(Control control, bool enabled) {
    if (QAction* action = Action(control)) {
        action->setEnabled(enabled);
    } else if (QWidget* widget = Widget(control); widget && widget != this) {
        widget->setEnabled(enabled);
    }
}

void TForm1::SetChecked(Control control, bool checked) {
    if (auto* box = qobject_cast<QCheckBox*>(Widget(control))) {
        const QSignalBlocker quiet(box);
        box->setChecked(checked);
    }
}

void TForm1::SetApplicationTitle(const Text& title) {
    // The text of the window's taskbar entry, as the application title is on Windows.
    setWindowIconText(FromCoreText(title));
}

void TForm1::SetStatusPanel(int panel, const Text& text) {
    if (panel >= 0 && panel < 3) BarPanels[panel]->setText(FromCoreText(text));
}

void TForm1::SetInfoTxColour(StatusColour colour) {
    InfoTx->setStyleSheet(colour == StatusColour::Red ? "color: red;" : "color: black;");
}

void TForm1::SetPBarMax(int max) {
    PBar->setMinimum(0);
    PBar->setMaximum(max);
}

void TForm1::SetPBarPosition(int position) {
    PBar->setValue(position);
}

void TForm1::SetWindowPosition(int left, int top) {
    move(left, top);
}

void TForm1::SetInfoWindowVisible(bool visible) {
    if (visible)
        Info->ShowCentred();
    else
        Info->hide();
}

void TForm1::AppendLogLine(const Text& line) {
    Memo1->appendPlainText(FromCoreText(line));
}

void TForm1::RemoveOldestLogLines(int count) {
    QTextCursor cursor(Memo1->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, count);
    cursor.removeSelectedText();
}

void TForm1::ClearLog() {
    Memo1->clear();
}

void TForm1::ShowMessage(const Text& text) {
    QMessageBox box(QMessageBox::NoIcon, "Note", MessageText(text), QMessageBox::Ok, this);
    box.exec();
}

bool TForm1::AskYesNo(const Text& text, bool defaultNo) {
    QMessageBox box(QMessageBox::Information, "Note", MessageText(text),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(defaultNo ? QMessageBox::No : QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> TForm1::ChooseImageFile(const std::string& initialFolder) {
    QFileDialog dialog(this);
    dialog.setObjectName("OpenFile");
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(FromCoreText(kImageFilter));
    dialog.setDefaultSuffix("bin");
    if (!initialFolder.empty()) dialog.setDirectory(QString::fromStdString(initialFolder));
    dialog.selectFile("*.bin");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

void TForm1::SetTimer1Enabled(bool enabled) {
    if (enabled)
        Timer1->start();
    else
        Timer1->stop();
}

void TForm1::TerminateApplication() {
    QCoreApplication::quit();
}

} // namespace tarnik
