// TForm_Main: the window's side of the poll cycle (device/PollCycle.h). The
// cycle composes the requests and dispatches the ends of transactions; the
// window gives it what the poll carries from the pages shown, keeps what is
// pending in the down state of its toggle buttons, and shows the typed
// records the cycle hands on.
#include "Main.h"

#include "DeviceRecords.h"
#include "LocalDate.h"
#include "MB.h"
#include "SpeedButton.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace {

// The maintenance buttons and the bits they stand for.
struct TMaintenanceButton {
    TSpeedButton* button;
    std::uint8_t bit;
};
std::array<TMaintenanceButton, 8> MaintenanceButtons(const TForm_Main& f) {
    namespace m = kv::maint;
    return {{
        {f.SpeedButton_Rof2Wire, m::Rof2Wire},
        {f.SpeedButton_ResetOf2Wire, m::ResetOf2Wire},
        {f.SpeedButton_Pot0, m::Pot0},
        {f.SpeedButton_Reset, m::Reset},
        {f.SpeedButton_FRAMTorlesReset, m::FRAMClear},
        {f.SpeedButton_Pot100, m::Pot100},
        {f.SpeedButton_HomersekletMinMaxTorlese, m::TempMinMaxClear},
        {f.SpeedButton_PotDefault, m::PotDefault},
    }};
}

class TWindowPollInputs final : public kv::TPollInputs {
public:
    explicit TWindowPollInputs(TForm_Main& f) : f_(f) {}
    std::uint16_t PollPWMValue() const override { return f_.PollPWMValue(); }
    std::uint8_t PollFETControl() const override { return f_.PollFETControl(); }
    QDate Today() const override { return f_.LocalDate ? f_.LocalDate() : QDate::currentDate(); }

private:
    TForm_Main& f_;
};

// Pending requests live only in the toggle buttons' down state.
class TWindowPending final : public kv::TPendingRequests {
public:
    explicit TWindowPending(TForm_Main& f) : f_(f) {}
    bool IsPending(kv::TPendingCommand c) const override { return Button(c)->Down(); }
    void SetPending(kv::TPendingCommand c, bool down) override { Button(c)->setDown(down); }
    std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand c) override {
        switch (c) {
        case kv::pendWriteInputCalibration: return f_.InputCalibrationWriteData();
        case kv::pendWriteOutputCalibration: return f_.OutputCalibrationWriteData();
        case kv::pendWriteSettings: return f_.SettingsFromControls().Encode();
        default: return std::vector<std::uint8_t>{};
        }
    }
    std::uint8_t MaintenanceBits() const override { return f_.MaintenanceBits(); }
    void ReleaseMaintenance(std::uint8_t bits) override {
        for (const auto& [button, bit] : MaintenanceButtons(f_))
            if (bits & bit)
                button->setDown(false);
    }

private:
    TSpeedButton* Button(kv::TPendingCommand c) const {
        switch (c) {
        case kv::pendWriteInputCalibration: return f_.SpeedButton_WriteCalibrationToKV;
        case kv::pendWriteOutputCalibration: return f_.SpeedButton_WriteOutputCalibrationToKV;
        case kv::pendReadSettings: return f_.SpeedButton_ReadSettingsFromInstrument;
        case kv::pendWriteSettings: return f_.SpeedButton_WriteSettingsToInstrument;
        case kv::pendReadFactoryDefaults: break;
        }
        return f_.SpeedButton_ReadFactoryDefaultsFromInstrument;
    }
    TForm_Main& f_;
};

} // namespace

void TForm_Main::SetupPollCycle() {
    LocalDate = kv::DateAskedOncePerSecond([] { return QDate::currentDate(); }, [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    });
    m_pollInputs = std::make_unique<TWindowPollInputs>(*this);
    m_pending = std::make_unique<TWindowPending>(*this);
    m_pollCycle = std::make_unique<kv::TPollCycle>(*MB1, *m_pollInputs, *m_pending);
    m_pollCycle->OnEnd = [this](const kv::TCommandEnd& end) {
        if (end.Command != kv::cmdPoll)
            return;
        // The device's pages are shown only while it answers.
        for (QWidget* w : {static_cast<QWidget*>(PageControl1), static_cast<QWidget*>(GroupBox_SystemData),
                           static_cast<QWidget*>(GroupBox_Status), static_cast<QWidget*>(GroupBox_FileOperations),
                           static_cast<QWidget*>(GroupBox_ReadWriteDevice)})
            w->setVisible(end.Done);
    };
    m_pollCycle->OnPollAnswer = [this](const kv::PollAnswer& a) { DecodePollAnswer(a); };
    m_pollCycle->OnSettingsRecord = [this](kv::TDeviceCommand, const kv::SettingsRecord& r) { ApplySettingsAnswer(r); };
    // A transmitter left forced would drive a wrong current in its loop
    // until someone polls it again: the port closes only after a poll that
    // ends the forcing.
    MB1->OnMBBeforeClose = [this] {
        if (!m_pollCycle->Forcing() && !m_pollCycle->EndingForcing())
            return true;
        m_pollCycle->EndForcing([this] { MB1->MBClose(); });
        return false;
    };
}

std::uint8_t TForm_Main::FETControlByte(bool w3, bool az, bool kelvin, bool i400uA, bool potFix, bool w3Alt) {
    std::uint8_t b = kv::fet::Force;
    if (w3)
        b |= kv::fet::ThreeW;
    if (az)
        b |= kv::fet::AZ;
    if (kelvin)
        b |= kv::fet::Kelvin;
    if (i400uA)
        b |= kv::fet::I400uA;
    if (potFix)
        b |= kv::fet::PotFix;
    if (w3Alt)
        b |= kv::fet::ThreeWAlt;
    return b;
}

std::uint8_t TForm_Main::MaintenanceBits() const {
    std::uint8_t bits = 0;
    for (const auto& [button, bit] : MaintenanceButtons(*this))
        if (button->Down())
            bits |= bit;
    return bits;
}

// The developer page is reachable only at the developer access level.
static bool DeveloperPageShows(const TForm_Main& f, const QWidget* page) {
    return f.DeveloperAccess && f.PageControl1->currentWidget() == f.TabSheet_DeveloperTool &&
           f.PageControl2->currentWidget() == page;
}

std::uint16_t TForm_Main::PollPWMValue() const {
    if (!DeveloperPageShows(*this, TabSheet_OutputCalibration))
        return 0;
    // The word carries the output's whole PWM range; a value outside it is
    // held at its end rather than wrapped to the other end of the scale.
    return static_cast<std::uint16_t>(std::clamp<std::int32_t>(PWMForceValue, 0, 0xFFFF));
}

std::uint8_t TForm_Main::PollFETControl() const {
    if (SwitchForcingActive())
        return FETControlByte(SpeedButton_3W->Down(), SpeedButton_Az->Down(), SpeedButton_Kelvin->Down(),
                              SpeedButton_I400uA->Down(), SpeedButton_PotR->Down(), SpeedButton_3WAlt->Down());
    if (!DeveloperPageShows(*this, TabSheet_InputCalibration))
        return 0;
    // The step's own configuration; 0 on step 23, where the device drives
    // its switches again.
    return kv::incal::kSteps[InputCalibrationStep()].FETControl;
}

void TForm_Main::StartPoll() {
    m_pollCycle->StartPoll();
}

std::optional<std::vector<std::uint8_t>> TForm_Main::InputCalibrationWriteData() const {
    // Values never measured, or ones no device can measure with, would
    // replace the device's calibration.
    if (!InputCalibrationComputed || !kv::incal::UnwritableFields(InputCalibrationToWrite).empty())
        return std::nullopt;
    return InputCalibrationToWrite.Encode();
}

std::optional<std::vector<std::uint8_t>> TForm_Main::OutputCalibrationWriteData() const {
    if (!OutputCalibrationComputed)
        return std::nullopt;
    // The record carries the low 16 bits of each value.
    kv::OutputCalibrationRecord record;
    record.PWMForIL = static_cast<std::uint16_t>(PWMForIL);
    record.PWMForIH = static_cast<std::uint16_t>(PWMForIH);
    record.PWMForUL = static_cast<std::uint16_t>(PWMForUL);
    record.PWMForUH = static_cast<std::uint16_t>(PWMForUH);
    return record.Encode();
}

void TForm_Main::MB1MBPortOpenedOrClosed(bool MBbPortOpen) {
    if (MBbPortOpen)
        StartPoll();
}

void TForm_Main::MB1MBMasterEndOfEvent(TMBStatus MBStatus, const QString& MBStatusString) {
    // The link panel shows the status text; the cycle keeps it for its end record.
    m_pollCycle->EndOfTransaction(MBStatus, MBStatusString.toStdString());
}
