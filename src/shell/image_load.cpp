// The main window's loading of an image and its set-up for the image's unit type.
#include "shell/main_window.h"

#include <filesystem>
#include <stdexcept>

namespace tarnik {

namespace {

const Text kAnalysingData = "Data are being analyzed";

} // namespace

void MainWindowLogic::Otwrz1Click() {
    const auto chosen = view_.ChooseImageFile(dialogFolder_);
    if (!chosen) return;
    switch (LoadImageOutcome(*chosen)) {
    case LoadOutcome::Loaded:
        imageFile_ = *chosen;
        view_.SetStatusPanel(1, imageFile_);
        WriteSetting("fl", imageFile_);
        SetWindowState(WindowState::Ready);
        break;
    case LoadOutcome::Failed:
        SetWindowState(WindowState::Idle);
        break;
    case LoadOutcome::Abandoned:
        break;
    }
}

bool MainWindowLogic::LoadImage(const std::string& fileName) {
    return LoadImageOutcome(fileName) == LoadOutcome::Loaded;
}

MainWindowLogic::LoadOutcome MainWindowLogic::LoadImageOutcome(const std::string& fileName) {
    view_.SetVisible(Control::TxAdrLabel, false);
    view_.SetVisible(Control::AdrTx, false);
    services_.pump.processMessages();
    dialogFolder_ = std::filesystem::path(fileName).parent_path().string();

    const ImageLoadResult head = ReadImageHeader(fileName);
    if (head.status == ImageLoadStatus::FileOpenError) {
        view_.SetStatusPanel(1, head.message);
        ReportLoadFailure(head.message, false);
        return LoadOutcome::Failed;
    }
    if (head.status == ImageLoadStatus::HeaderNotCorrect || !head.header) {
        view_.ShowMessage(head.message);
        ReportLoadFailure(head.message, true);
        return LoadOutcome::Failed;
    }
    image_ = *head.header;
    if (head.status == ImageLoadStatus::DateNotNumber) {
        ShowException(std::runtime_error(head.message));
        ReportLoadFailure(head.message, true);
        return LoadOutcome::Abandoned;
    }
    view_.SetText(Control::LTx, LTxText(image_));
    unitType_ = image_.unitType;
    for (Control c :
         {Control::TxNrSerial, Control::EdNrSerial, Control::ChBoxSerialInc, Control::ButRdSerial})
        view_.SetVisible(c, false);
    if (!SetUpForUnitType()) return LoadOutcome::Failed;
    if (!parseRequest_ && !serialChanged_) return LoadOutcome::Loaded;
    return ReadRecords(fileName) ? LoadOutcome::Loaded : LoadOutcome::Failed;
}

Text MainWindowLogic::LTxText(const ImageHeader& header) const {
    return "Version :" + header.version +
           "     Compilation date : " + services_.formatDate(header.dateSeconds);
}

void MainWindowLogic::ShowControls(std::initializer_list<Control> controls) {
    for (Control c : controls)
        view_.SetVisible(c, true);
}

bool MainWindowLogic::SetUpForUnitType() {
    const UnitTypeRow* unit = FindUnitType(unitType_);
    if (unit == nullptr) {
        SetCaption(kUnknownUnitTypeCaption);
        ReportLoadFailure(kUnknownUnitTypeCaption, false);
        return false;
    }
    if (!unit->keepsCaption) SetCaption(UnitTypeTitle(unitType_));
    if (unit->ShowsAddressField()) ShowControls({Control::TxAdrLabel, Control::AdrTx});
    if (unit->serialControls == SerialControls::All)
        ShowControls({Control::TxNrSerial, Control::EdNrSerial, Control::ChBoxSerialInc,
                      Control::ButRdSerial});
    if (unit->serialControls == SerialControls::WithoutLabel)
        ShowControls({Control::EdNrSerial, Control::ButRdSerial, Control::ChBoxSerialInc});
    SetAddressAtLoad(*unit);
    view_.SetVisible(Control::BoxVer, !unit->IsNetworkModule());
    return true;
}

void MainWindowLogic::SetAddressAtLoad(const UnitTypeRow& unit) {
    const Text remembered = ReadSetting(Text(unit.addressSetting));
    switch (unit.address) {
    case AddressRule::Entered:
    case AddressRule::Shared:
        SetUnitAddress(remembered, true);
        break;
    case AddressRule::FixedStored:
        SetUnitAddress(remembered, true);
        // The unit always works at address 0, which is stored as its remembered one.
        SetAdrTxText("00");
        AdrTxChange("00");
        break;
    case AddressRule::Kept:
        break;
    case AddressRule::None:
    case AddressRule::Fixed:
        SetUnitAddress("00", true);
        break;
    }
}

bool MainWindowLogic::ReadRecords(const std::string& fileName) {
    records_.clear();
    parseRequest_ = false;
    view_.SetText(Control::InfoLabTx1, kAnalysingData);
    view_.SetInfoWindowVisible(true);
    const Text serial = edNrSerial_;
    const ImageLoadResult result =
        LoadImageRecords(fileName, serial, records_, *this, [this](int counter) {
            services_.pump.processMessages();
            view_.SetText(Control::InfoLabGrot, SpinnerText(counter));
        });
    view_.SetInfoWindowVisible(false);
    serialChanged_ = false;
    if (result.ok()) return true;
    view_.ShowMessage(result.message);
    ReportLoadFailure(result.message, true);
    return false;
}

void MainWindowLogic::ReportLoadFailure(const Text& message, bool messageShown) {
    lastLoadFailure_ = message;
    view_.ImageLoadFailed({message, messageShown});
}

} // namespace tarnik
