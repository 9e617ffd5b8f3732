// TForm_Main: the status display. Every good poll answer (the poll cycle
// hands it on as a record) rewrites the texts, colours, marks and bars of the
// window and the values kept for the wizards.
#include "Main.h"

#include "DeviceRecords.h"
#include "MBarGraph.h"
#include "NumberPicture.h"
#include "Rounding.h"
#include "SettingsActions.h"
#include "SpeedButton.h"
#include "StatusTexts.h"

#include <QApplication>
#include <QPalette>

#include <cmath>
#include <string>

namespace {

QString Picture(double value, const char* picture) {
    return QString::fromStdString(kv::FormatPicture(value, picture));
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The display formats as the shared rules take them.
kv::DisplayFormats Formats(const TForm_Main& f) {
    return {f.SzamitottErtekFormat, f.SzamitottErtekUnit, f.FizikaiErtekFormat, f.FizikaiErtekUnit};
}

} // namespace

void TForm_Main::DecodePollAnswer(const kv::PollAnswer& a) {
    // Firmware version.
    Label_FormverVerzio->setText(Text(kv::FirmwareText(a)));

    // Raw converter channels.
    Label_ADCH0Present->setText(Picture(a.ADCH0Present, "# ### ##0"));
    Label_ADCH1Present->setText(Picture(a.ADCH1Present, "# ### ##0"));
    ADCH0Average = a.ADCH0Average;
    Label_ADCH0Average->setText(Picture(ADCH0Average, "# ### ##0"));
    MBarGraph_ADCH0->setMBGValue(ADCH0Average / kv::kADFullScale);
    ADCH1Average = a.ADCH1Average;
    Label_ADCH1Average->setText(Picture(ADCH1Average, "# ### ##0"));
    MBarGraph_ADCH1->setMBGValue(ADCH1Average / kv::kADFullScale);

    // Where the device took its working data from.
    Label_RAM1AdatForras->setText(Text(kv::DataSourceText(a.RAM1DataSource)));
    Label_RAM2AdatForras->setText(Text(kv::DataSourceText(a.RAM2DataSource)));

    // Converter over- and underflow.
    ADStatusFlags = a.ADStatusFlags;
    Label_ADCH0Underflow->setVisible(ADStatusFlags & kv::adstat::CH0Underflow);
    Label_ADCH0Overrflow->setVisible(ADStatusFlags & kv::adstat::CH0Overflow);
    Label_ADCH1Overrflow->setVisible(ADStatusFlags & kv::adstat::CH1Overflow);
    Label_ADCH1Underflow->setVisible(ADStatusFlags & kv::adstat::CH1Underflow);

    AuCH0 = a.AuCH0;
    Label_AuCH0->setText(Picture(AuCH0, "0"));

    // Device errors.
    ErrorFlags = a.ErrorFlags;
    Label_ErrorFRAM->setVisible(ErrorFlags & kv::errflag::FRAM);
    Label_ErrorADC->setVisible(ErrorFlags & kv::errflag::ADC);
    Label_ErrorOutputRange->setVisible(ErrorFlags & kv::errflag::OutputRange);
    Label_ErrorInputSignal->setVisible(ADStatusFlags & kv::adstat::InputOutOfRange);

    // The wire resistance can be stored only while the measured resistance
    // is a plausible one for wires (the cycle has withdrawn a pending store
    // otherwise).
    PhysicalValue = a.PhysicalValue;
    SpeedButton_Rof2Wire->setEnabled(kv::WireResistanceStorable(PhysicalValue));

    // Which board answers.
    PCBIdentityAddress = a.PCBIdentityAddress;
    Label_PCBIdentityAddress->setText(QString::number(PCBIdentityAddress));
    Label_KeszulekAltipus->setText(Text(kv::DeviceTypeText(a.PCBIdentityAddress)));

    Label_WorkingTime->setText(Text(kv::WorkingTimeText(a.WorkingTime)));

    Label_KalibralasDatuma->setText(Text(kv::CalibrationDateText(a)));

    // Internal temperature; it is also the cold junction's with internal
    // compensation.
    const int cjc = RadioGroup_CJC->ItemIndex();
    InternalTemperature = a.InternalTemperature;
    Label_MertHomerseklet->setText(Text(kv::InternalTemperatureText(InternalTemperature)));
    if (cjc == 0)
        Label_CJCTemp->setText(Text(*kv::CJCTemperatureText(a, cjc)));
    InternalTemperatureMin = a.InternalTemperatureMin;
    InternalTemperatureMax = a.InternalTemperatureMax;
    Label_MertHomersekletMin->setText(Picture(InternalTemperatureMin, "0.0"));
    Label_MertHomersekletMax->setText(Picture(InternalTemperatureMax, "0.0"));

    // Input switches: the marks always show what the device reports; the
    // buttons follow it too, unless the user is forcing them.
    const std::uint16_t sw = a.SwitchStates;
    Shape_3W->setVisible(sw & kv::sw::ThreeW);
    Shape_Az->setVisible(sw & kv::sw::AZ);
    Shape_Azn->setVisible(sw & kv::sw::AZNeg);
    Shape_Kelvin->setVisible(sw & kv::sw::Kelvin);
    Shape_KelvinNeg->setVisible(sw & kv::sw::KelvinNeg);
    Shape_I400uA1->setVisible(sw & kv::sw::I400uA);
    Shape_I400uA2->setVisible(sw & kv::sw::I400uA);
    Shape_I400uAn->setVisible(!(sw & kv::sw::I400uA));
    Shape_PotR->setVisible(sw & kv::sw::PotFix);
    Shape_3WAlt->setVisible(sw & kv::sw::ThreeWAlt);
    Shape_3WAltn->setVisible(sw & kv::sw::ThreeWAltNeg);
    if (!SwitchForcingActive()) {
        SpeedButton_I400uA->setDown(sw & kv::sw::I400uA);
        SpeedButton_3W->setDown(sw & kv::sw::ThreeW);
        SpeedButton_Az->setDown(sw & kv::sw::AZ);
        SpeedButton_Kelvin->setDown(sw & kv::sw::Kelvin);
        SpeedButton_PotR->setDown(sw & kv::sw::PotFix);
        SpeedButton_3WAlt->setDown(sw & kv::sw::ThreeWAlt);
    }

    // Calibration state.
    CalibrationFlags = a.CalibrationFlags;
    Image_InputCalibrationOK->setVisible(CalibrationFlags & kv::calflag::Input);
    Image_OutputCalibrationOK->setVisible(CalibrationFlags & kv::calflag::Output);
    Label_ErrorUncalibratedInput->setVisible(!(CalibrationFlags & kv::calflag::Input));
    Label_ErrorUncalibratedOutput->setVisible(!(CalibrationFlags & kv::calflag::Output));
    Label_ErrorUncalibratedPotentiometer->setVisible(!(CalibrationFlags & kv::calflag::Potentiometer));

    CalculatedValue = a.CalculatedValue;

    // Cold-junction temperature from an external sensor.
    CJCTemperature = a.CJCTemperature;
    if (cjc != 0)
        if (const auto text = kv::CJCTemperatureText(a, cjc))
            Label_CJCTemp->setText(Text(*text));

    // Stored wire resistance: of the sensor's wires, or with a thermocouple
    // of the external cold-junction sensor's wires.
    WireResistance = a.WireResistance;
    const kv::DisplayFormats formats = Formats(*this);
    if (const auto text = kv::WireResistanceText(a, RadioGroup_Mode->ItemIndex(), cjc, formats))
        Label_Rof2Wire->setText(Text(*text));

    Label_fRofPot0->setText(Text(kv::PotEndText(a.RofPot0, formats)));
    Label_fRofPot100->setText(Text(kv::PotEndText(a.RofPot100, formats)));

    Label_Cycles->setText(Picture(a.Cycles, "0"));
    Label_ADSamplesPs->setText(Picture(a.ADSamplesPs, "0"));

    StatusCode = a.StatusCode;
    ShowStatus(StatusCode);

    // With the whole answer in: the values that depend on its flags.
    ShowMeasuredValues(PhysicalValue);
    ShowOutputPercent(a.OutputLevel);
}

void TForm_Main::ShowMeasuredValues(double x) {
    // A value that cannot be formatted leaves its label as it was; the rest
    // of the answer is shown regardless.
    try {
        const kv::DisplayFormats formats = Formats(*this);
        const auto flags = static_cast<std::uint8_t>(CalibrationFlags);
        Label_FizikaiErtek->setText(Text(kv::PhysicalValueText(flags, x, formats)));
        Label_fSzamitottErtek->setText(Text(kv::CalculatedValueText(flags, CalculatedValue, formats)));
    } catch (...) {
    }
}

void TForm_Main::ShowOutputPercent(double x) {
    try {
        if (!(CalibrationFlags & kv::calflag::Input)) {
            Label_OutputPercent->setText(QStringLiteral("-----%"));
            ProgressBar1_OutputPercent->setValue(0);
            return;
        }
        const double percent = x * 100.0;
        // A level that is no number shows as no level, never as the last one.
        Label_OutputPercent->setText(Text(kv::OutputPercentText(CalibrationFlags, x)));
        if (!std::isfinite(percent)) {
            ProgressBar1_OutputPercent->setValue(ProgressBar1_OutputPercent->minimum());
            return;
        }
        // The bar's range bounds the position.
        const std::int64_t position = kv::RoundHalfEven(percent);
        const int lo = ProgressBar1_OutputPercent->minimum();
        const int hi = ProgressBar1_OutputPercent->maximum();
        ProgressBar1_OutputPercent->setValue(
            static_cast<int>(position < lo ? lo : (position > hi ? hi : position)));
    } catch (...) {
    }
}

void TForm_Main::ShowStatus(std::uint32_t code) {
    const std::optional<std::string> text = kv::StatusText(code);
    if (!text)
        return;
    const QPalette system = QApplication::palette();
    QPalette p = Label_Status->palette();
    if (code == kv::statusOK) {
        p.setColor(QPalette::Window, system.color(QPalette::Button));
        p.setColor(QPalette::WindowText, system.color(QPalette::WindowText));
    } else {
        p.setColor(QPalette::Window, QColor(255, 0, 0));
        p.setColor(QPalette::WindowText, QColor(255, 255, 255));
    }
    // Set at every poll, mostly to the colours it has: a new palette would be
    // resolved and sent to the label each time.
    if (p != Label_Status->palette() || !Label_Status->testAttribute(Qt::WA_SetPalette))
        Label_Status->setPalette(p);
    Label_Status->setText(Text(*text));
}
