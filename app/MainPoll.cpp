// TForm_Main: the poll cycle. One request is in flight at a time; the end of
// each transaction decides the next one: a poll, or the single command whose
// button is down. What the user wants done lives only in the down state of
// toggle buttons, read when a request is composed.
#include "Main.h"

#include "DeviceRecords.h"
#include "LocalDate.h"
#include "MB.h"
#include "SpeedButton.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

// Every request starts this long after it is composed.
constexpr std::uint16_t kStartDelayMs = 20;

void PutBytes(TMB& mb, const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t b : bytes)
        mb.MBPutByte(b);
}

// The command's number, a cleared transmit buffer, its data, and the start.
void StartCommand(TMB& mb, kv::TDeviceCommand command, const std::vector<std::uint8_t>& data = {}) {
    mb.setMBMasterCommandToSlave(command);
    mb.MBTXBufferClear();
    PutBytes(mb, data);
    mb.MBStartQuery(kStartDelayMs);
}

} // namespace

void TForm_Main::SetupPollCycle() {
    LocalDate = kv::DateAskedOncePerSecond([] { return QDate::currentDate(); }, [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    });
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
    namespace m = kv::maint;
    const struct {
        const TSpeedButton* button;
        std::uint8_t bit;
    } actions[] = {
        {SpeedButton_Rof2Wire, m::Rof2Wire},
        {SpeedButton_ResetOf2Wire, m::ResetOf2Wire},
        {SpeedButton_Pot0, m::Pot0},
        {SpeedButton_Reset, m::Reset},
        {SpeedButton_FRAMTorlesReset, m::FRAMClear},
        {SpeedButton_Pot100, m::Pot100},
        {SpeedButton_HomersekletMinMaxTorlese, m::TempMinMaxClear},
        {SpeedButton_PotDefault, m::PotDefault},
    };
    std::uint8_t bits = 0;
    for (const auto& a : actions)
        if (a.button->Down())
            bits |= a.bit;
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
    kv::PollRequest request;
    request.PWMForceValue = PollPWMValue();
    request.MaintenanceBits = MaintenanceBits();
    // One reading of the date, so that year, month and day belong together.
    const QDate today = LocalDate ? LocalDate() : QDate::currentDate();
    request.Year = static_cast<std::uint16_t>(std::clamp(today.year(), 0, 0xFFFF));
    request.Month = static_cast<std::uint8_t>(today.month());
    request.Day = static_cast<std::uint8_t>(today.day());
    request.FETControl = PollFETControl();
    StartCommand(*MB1, kv::cmdPoll, request.Encode());
}

void TForm_Main::SendWriteInputCalibration() {
    // Values never measured, or ones no device can measure with, would
    // replace the device's calibration: the press is released unsent.
    if (!InputCalibrationComputed || !kv::incal::UnwritableFields(InputCalibrationToWrite).empty()) {
        SpeedButton_WriteCalibrationToKV->setDown(false);
        StartPoll();
        return;
    }
    StartCommand(*MB1, kv::cmdWriteInputCalibration, InputCalibrationToWrite.Encode());
}

void TForm_Main::SendWriteOutputCalibration() {
    if (!OutputCalibrationComputed) {
        SpeedButton_WriteOutputCalibrationToKV->setDown(false);
        StartPoll();
        return;
    }
    // The record carries the low 16 bits of each value.
    kv::OutputCalibrationRecord record;
    record.PWMForIL = static_cast<std::uint16_t>(PWMForIL);
    record.PWMForIH = static_cast<std::uint16_t>(PWMForIH);
    record.PWMForUL = static_cast<std::uint16_t>(PWMForUL);
    record.PWMForUH = static_cast<std::uint16_t>(PWMForUH);
    StartCommand(*MB1, kv::cmdWriteOutputCalibration, record.Encode());
}

void TForm_Main::SendWriteSettings() {
    StartCommand(*MB1, kv::cmdWriteSettings, SettingsFromControls().Encode());
}

void TForm_Main::SendReadSettings() {
    StartCommand(*MB1, kv::cmdReadSettings);
}

void TForm_Main::SendReadFactoryDefaults() {
    StartCommand(*MB1, kv::cmdReadFactoryDefaults);
}

void TForm_Main::MB1MBPortOpenedOrClosed(bool MBbPortOpen) {
    if (MBbPortOpen)
        StartPoll();
}

void TForm_Main::MB1MBMasterEndOfEvent(TMBStatus MBStatus, const QString& MBStatusString) {
    (void)MBStatusString; // the link panel shows it
    // An answer that arrives while the next request still waits for its start
    // answers an earlier request; the request goes out as composed.
    if (MB1->MBQueryPending())
        return;
    const std::uint8_t command = MB1->MBMasterCommandToSlave();
    // An answer whose length belongs to another command is the late answer
    // to an earlier request: the command counts as not done, as after any
    // failure; its own answer, when it comes, meets the same check.
    const bool ok = MBStatus == stOK && kv::AnswerLengthFits(command, MB1->MBReceivedDataNumber());

    if (command == kv::cmdPoll) {
        // The device's pages are shown only while it answers.
        for (QWidget* w : {static_cast<QWidget*>(PageControl1), static_cast<QWidget*>(GroupBox_SystemData),
                           static_cast<QWidget*>(GroupBox_Status), static_cast<QWidget*>(GroupBox_FileOperations),
                           static_cast<QWidget*>(GroupBox_ReadWriteDevice)})
            w->setVisible(ok);
        if (!ok) {
            if (MB1->MBPortOpen())
                StartPoll();
            return;
        }
        DecodePollAnswer();
        if (!MB1->MBPortOpen())
            return;
        // One pending command instead of the next poll, in this priority.
        const struct {
            const TSpeedButton* button;
            void (TForm_Main::*send)();
        } pending[] = {
            {SpeedButton_WriteCalibrationToKV, &TForm_Main::SendWriteInputCalibration},
            {SpeedButton_WriteOutputCalibrationToKV, &TForm_Main::SendWriteOutputCalibration},
            {SpeedButton_ReadSettingsFromInstrument, &TForm_Main::SendReadSettings},
            {SpeedButton_WriteSettingsToInstrument, &TForm_Main::SendWriteSettings},
            {SpeedButton_ReadFactoryDefaultsFromInstrument, &TForm_Main::SendReadFactoryDefaults},
        };
        for (const auto& p : pending)
            if (p.button->Down()) {
                (this->*p.send)();
                return;
            }
        StartPoll();
        return;
    }

    // A command's success releases its button; a failure leaves it down, so
    // the command goes out again after the next good poll.
    if (ok) {
        switch (command) {
        case kv::cmdWriteInputCalibration:
            SpeedButton_WriteCalibrationToKV->setDown(false);
            break;
        case kv::cmdWriteOutputCalibration:
            SpeedButton_WriteOutputCalibrationToKV->setDown(false);
            break;
        case kv::cmdWriteSettings:
            // Read back what the device stored.
            SpeedButton_WriteSettingsToInstrument->setDown(false);
            SpeedButton_ReadSettingsFromInstrument->setDown(true);
            break;
        case kv::cmdReadFactoryDefaults:
        case kv::cmdReadSettings:
            SpeedButton_ReadSettingsFromInstrument->setDown(false);
            SpeedButton_ReadFactoryDefaultsFromInstrument->setDown(false);
            ApplySettingsAnswer();
            break;
        default:
            break;
        }
    }
    // Every command is followed by a poll.
    if (MB1->MBPortOpen())
        StartPoll();
}
