#include "gui/date_format.h"
#include "gui/text_codec.h"
#include "gui/tinfo.h"
#include "gui_rig.h"
#include "image/unit_types.h"

#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace tarnik::testing {
namespace {

TEST(GuiWindow, OpensWithItsCaptionsAndIdleState) {
    GuiRig rig;
    rig.Start();
    TForm1& form = *rig.form;
    EXPECT_EQ(form.windowTitle(), "Tarnik v2.01A_EN  ");
    EXPECT_EQ(form.width(), TForm1::kClientWidth);
    EXPECT_EQ(form.TPlik->title(), "File");
    EXPECT_EQ(form.Otwrz1->text(), "Open");
    EXPECT_EQ(form.Wyjcie1->text(), "Exit");
    EXPECT_EQ(form.Start1->title(), "Start");
    EXPECT_EQ(form.KomPop->title(), "Communication");
    EXPECT_EQ(form.BoxVer->text(), "Verification");
    EXPECT_EQ(form.TxAdrLabel->text(), "Devices address");
    EXPECT_EQ(form.Button2->text(), "CLR");
    EXPECT_TRUE(form.BoxVer->isChecked());

    EXPECT_TRUE(form.LDBut->isEnabled());
    EXPECT_FALSE(form.ProgBut->isEnabled());
    EXPECT_FALSE(form.StopBut->isEnabled());
    EXPECT_TRUE(form.TPlik->menuAction()->isEnabled());
    EXPECT_FALSE(form.Start1->menuAction()->isEnabled());
    EXPECT_TRUE(form.KomPop->menuAction()->isEnabled());
    EXPECT_FALSE(form.AdrTx->isVisible());
    EXPECT_TRUE(form.ChBoxSerialInc->isVisible());
    EXPECT_FALSE(form.PBar->isVisible());
    EXPECT_EQ(form.BarPanels[0]->text(), "/dev/tarnik-gui-test-port");
    EXPECT_EQ(form.BarPanels[1]->text(), "File opening error ");
}

TEST(GuiWindow, LoadingAnImageSetsTheWindowUp) {
    GuiRig rig;
    rig.settings->WriteSetting("adr_exp", "7");
    const std::string image = rig.WriteImage("exp.bin", 1, 2);
    rig.Start({"C=5", "P=" + image});
    TForm1& form = *rig.form;
    EXPECT_EQ(form.windowTitle(), QString::fromStdString(UnitTypeTitle(1)));
    EXPECT_EQ(form.LTx->text(), "Version :1.05     Compilation date : 1.1.2024");
    EXPECT_TRUE(form.AdrTx->isVisible());
    EXPECT_TRUE(form.TxAdrLabel->isVisible());
    EXPECT_EQ(form.AdrTx->text(), "07");
    EXPECT_EQ(form.BarPanels[2]->text(), "Adres : 07");
    EXPECT_EQ(form.BarPanels[1]->text(), QString::fromStdString(image));
    EXPECT_EQ(form.BarPanels[0]->text(), "COM5");
    EXPECT_TRUE(form.ProgBut->isEnabled());
    EXPECT_TRUE(form.Start1->menuAction()->isEnabled());
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_TRUE(form.Timer1->isSingleShot());
    EXPECT_EQ(form.Timer1->interval(), 1000);
    form.Timer1->stop();

    // Typing into the address field: letters become upper case, other keys are dropped.
    form.AdrTx->selectAll();
    QTest::keyClicks(form.AdrTx, "ag");
    EXPECT_EQ(form.AdrTx->text(), "A");
    EXPECT_EQ(rig.logic->UnitAddress(), 0x0Au);
    EXPECT_EQ(rig.settings->ReadSetting("adr_exp"), "0A");
}

TEST(GuiWindow, AddressFieldShowsAWideStoredAddressAndUpperCasesPastedText) {
    GuiRig rig;
    rig.settings->WriteSetting("adr_bIRed", "1a7");
    rig.Start({"P=" + rig.WriteImage("bar.bin", 8, 1)});
    TForm1& form = *rig.form;
    form.Timer1->stop();
    EXPECT_EQ(form.AdrTx->text(), "1A7");
    EXPECT_EQ(form.BarPanels[2]->text(), "Adres : 1a7");

    // Once shortened by the user, the field takes two characters again.
    form.AdrTx->setFocus();
    form.AdrTx->end(false);
    QTest::keyClick(form.AdrTx, Qt::Key_Backspace);
    EXPECT_EQ(form.AdrTx->text(), "1A");
    QTest::keyClicks(form.AdrTx, "5");
    EXPECT_EQ(form.AdrTx->text(), "1A");

    // Pasted text is shown in upper case, as typed text is.
    form.AdrTx->selectAll();
    form.AdrTx->insert("3f");
    EXPECT_EQ(form.AdrTx->text(), "3F");
    EXPECT_EQ(rig.logic->UnitAddress(), 0x3Fu);
    EXPECT_EQ(rig.settings->ReadSetting("adr_bIRed"), "3F");
}

TEST(GuiWindow, ImageDateIsShownToTheSecondWithoutTimeZone) {
    EXPECT_EQ(FormatImageDateIn(QLocale("pl_PL"), 1700000007), "14.11.2023 22:13:27");
    EXPECT_EQ(FormatImageDateIn(QLocale("en_US"), 1700000007), "11/14/23 10:13:27 PM");
    EXPECT_EQ(FormatImageDateIn(QLocale::c(), 1700000007), "14 Nov 2023 22:13:27");
}

TEST(GuiWindow, AccessControllerShowsTheSerialFields) {
    GuiRig rig;
    rig.Start({"P=" + rig.WriteImage("kkd.bin", 2, 1)});
    TForm1& form = *rig.form;
    form.Timer1->stop();
    for (QWidget* w :
         {static_cast<QWidget*>(form.TxNrSerial), static_cast<QWidget*>(form.EdNrSerial),
          static_cast<QWidget*>(form.ButRdSerial), static_cast<QWidget*>(form.ChBoxSerialInc)})
        EXPECT_TRUE(w->isVisible()) << w->objectName().toStdString();
    form.EdNrSerial->setFocus();
    form.EdNrSerial->setCursorPosition(0);
    QTest::keyClicks(form.EdNrSerial, "12abzz34cd");
    EXPECT_EQ(form.EdNrSerial->text(), "12AB34CD");
    EXPECT_EQ(rig.logic->EdNrSerialText(), "12AB34CD");
    EXPECT_TRUE(rig.logic->SerialChanged());
}

TEST(GuiWindow, LeavingAnIncompleteSerialNumberShowsTheMaskError) {
    GuiRig rig;
    rig.Start({"P=" + rig.WriteImage("kkd.bin", 2, 1)});
    TForm1& form = *rig.form;
    form.Timer1->stop();
    form.activateWindow();
    QApplication::setActiveWindow(&form);
    form.EdNrSerial->setFocus();
    form.EdNrSerial->setCursorPosition(0);
    QTest::keyClicks(form.EdNrSerial, "12a");
    QString text;
    AnswerNextMessageBox(QMessageBox::Ok, &text);
    form.AdrTx->setFocus();
    for (int i = 0; i < 100 && text.isEmpty(); ++i)
        QTest::qWait(10);
    EXPECT_EQ(text, "Incorrect serial number for access controller.\nEnter correct address");
    EXPECT_FALSE(rig.logic->SerialChanged());
}

TEST(GuiWindow, MessageBoxesAreCaptionedNote) {
    GuiRig rig;
    rig.Start({"P=" + rig.WriteImage("empty.bin", 6, 0)});
    rig.form->Timer1->stop();
    QString text, caption;
    AnswerNextMessageBox(QMessageBox::Ok, &text, &caption);
    rig.form->ProgBut->click();
    EXPECT_EQ(text, "No data to be programmed");
    EXPECT_EQ(caption, "Note");
    EXPECT_TRUE(rig.form->ProgBut->isEnabled());
}

TEST(GuiWindow, StopAsksAndReachesTheProgrammer) {
    bool sawStop = false;
    int questions = 0;
    GuiRig rig([&](ProcessContext&, const UnitTypeRow&, std::uint32_t) {
        return std::make_unique<GuiProgrammer>([&](bool& stopped) {
            // First answer No, then Yes.
            QString question;
            AnswerNextMessageBox(QMessageBox::No, &question);
            QTimer::singleShot(0, [&] { rig.form->StopBut->click(); });
            for (int i = 0; i < 50 && question.isEmpty(); ++i)
                QTest::qWait(5);
            questions += question == "Interrupt programming the unit?";
            EXPECT_FALSE(stopped);
            EXPECT_TRUE(rig.form->StopBut->isEnabled());
            EXPECT_FALSE(rig.form->ProgBut->isEnabled());
            EXPECT_FALSE(rig.form->ButRdSerial->isEnabled());
            question.clear();
            AnswerNextMessageBox(QMessageBox::Yes, &question);
            QTimer::singleShot(0, [&] { rig.form->StopBut->click(); });
            for (int i = 0; i < 50 && !stopped; ++i)
                QTest::qWait(5);
            questions += question == "Interrupt programming the unit?";
            sawStop = stopped;
        });
    });
    rig.Start({"P=" + rig.WriteImage("siren.bin", 6, 2)});
    rig.form->Timer1->stop();
    rig.form->ProgBut->click();
    EXPECT_EQ(questions, 2);
    EXPECT_TRUE(sawStop);
    EXPECT_TRUE(rig.form->ProgBut->isEnabled());
    EXPECT_FALSE(rig.form->StopBut->isEnabled());
}

TEST(GuiWindow, CommunicationMenuListsExactlyThePortsPresent) {
    GuiRig rig;
    rig.ports = {{"/dev/ttyUSB0", "FT232R USB UART"}, {"/dev/tarnik-gui-test-port", ""}};
    rig.Start({"P=" + rig.WriteImage("a.bin", 7, 1)});
    rig.form->Timer1->stop();
    emit rig.form->KomPop->aboutToShow();
    QList<QAction*> entries = rig.form->KomPop->actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]->toolTip(), "FT232R USB UART");
    EXPECT_FALSE(entries[0]->isChecked());
    EXPECT_TRUE(entries[1]->isChecked());

    entries[0]->trigger();
    EXPECT_EQ(rig.settings->ReadSetting("port"), "/dev/ttyUSB0");
    EXPECT_EQ(rig.form->BarPanels[0]->text(), "/dev/ttyUSB0");

    emit rig.form->KomPop->aboutToShow();
    entries = rig.form->KomPop->actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_TRUE(entries[0]->isChecked());
    EXPECT_FALSE(entries[1]->isChecked());

    rig.ports.clear(); // the adapter was unplugged: no entry is made up for it
    emit rig.form->KomPop->aboutToShow();
    EXPECT_TRUE(rig.form->KomPop->actions().isEmpty());
    EXPECT_EQ(rig.form->BarPanels[0]->text(), "/dev/ttyUSB0");
}

TEST(GuiWindow, LogShowsPolishTextsAndDropsItsOldestLines) {
    GuiRig rig;
    rig.Start();
    rig.logic->LogLine("--B\xB3"
                       "ad rozpoznania dev");
    EXPECT_EQ(rig.form->Memo1->toPlainText(), QString::fromUtf8("--Bład rozpoznania dev"));
    for (int i = 0; i < 400; ++i)
        rig.logic->LogLine(Text(98, 'x'));
    EXPECT_EQ(rig.form->Memo1->document()->blockCount(),
              static_cast<int>(rig.logic->Log().Lines().size()));
    rig.form->Button2->click();
    EXPECT_TRUE(rig.form->Memo1->toPlainText().isEmpty());
}

TEST(GuiWindow, ImageDialogFilterShowsThePolishLetter) {
    EXPECT_EQ(FromCoreText(TForm1::kImageFilter),
              QString::fromUtf8("Program Kontrolera Dostępu(*.bin)"));
}

TEST(GuiWindow, InformationWindow) {
    GuiRig rig;
    rig.Start();
    TInfo& info = *rig.form->Info;
    EXPECT_EQ(info.windowTitle(), "Info");
    EXPECT_EQ(info.width(), 276);
    EXPECT_EQ(info.height(), 60);
    EXPECT_TRUE(info.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(info.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST(GuiWindow, ClosingDuringAProcessAsksFirst) {
    bool closedWhileRunning = true;
    GuiRig* current = nullptr;
    GuiRig rig([&](ProcessContext&, const UnitTypeRow&, std::uint32_t) {
        return std::make_unique<GuiProgrammer>([&](bool& stopped) {
            AnswerNextMessageBox(QMessageBox::No);
            closedWhileRunning = current->form->close();
            EXPECT_FALSE(stopped);
            AnswerNextMessageBox(QMessageBox::Yes);
            EXPECT_TRUE(current->form->close());
            EXPECT_TRUE(stopped);
        });
    });
    current = &rig;
    rig.Start({"P=" + rig.WriteImage("c.bin", 10, 1)});
    rig.form->Timer1->stop();
    rig.form->ProgBut->click();
    EXPECT_FALSE(closedWhileRunning);
}

class ThrowingObject final : public QObject {
public:
    bool event(QEvent*) override { throw std::runtime_error("'12x' is not a valid integer value"); }
};

TEST(GuiWindow, ErrorsOfEventHandlersAreShownByTheLogic) {
    GuiRig rig;
    rig.Start();
    App().SetExceptionHandler([&](const std::exception& e) { rig.logic->ShowException(e); });
    QString text;
    AnswerNextMessageBox(QMessageBox::Ok, &text);
    ThrowingObject object;
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&object, &event);
    App().SetExceptionHandler({});
    EXPECT_EQ(text, "'12x' is not a valid integer value");
}

} // namespace
} // namespace tarnik::testing
