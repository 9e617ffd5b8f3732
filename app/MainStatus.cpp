// TForm_Main: the status display. Every good poll answer rewrites the texts,
// colours, marks and bars of the window and the values kept for the wizards.
#include "Main.h"

#include "DeviceRecords.h"
#include "MB.h"
#include "MBarGraph.h"
#include "NumberPicture.h"
#include "Rounding.h"
#include "SpeedButton.h"

#include <QApplication>
#include <QPalette>

#include <cmath>
#include <string>

namespace {

// Full scale of the 24-bit signed converter counts.
constexpr double kADFullScale = 8388607.0;
// At and above this the device has no physical value to show.
constexpr double kPhysicalLimit = 1000000.0;

QString Picture(double value, const char* picture) {
    return QString::fromStdString(kv::FormatPicture(value, picture));
}

QString Picture(double value, const QString& picture) {
    return QString::fromStdString(kv::FormatPicture(value, picture.toStdString()));
}

QString DataSourceText(std::uint8_t source) {
    switch (source) {
    case 0: return QStringLiteral("RAM1");
    case 1: return QStringLiteral("RAM2");
    case 2: return QStringLiteral("FRAM1");
    case 3: return QStringLiteral("FRAM2");
    case 4: return QStringLiteral("Gyári");
    default: return QStringLiteral("???");
    }
}

QString DeviceTypeText(std::uint8_t pcbIdentity) {
    switch (pcbIdentity) {
    case 0: return QStringLiteral("KV7730");
    case 1: return QStringLiteral("KV5510");
    default: return QStringLiteral("???");
    }
}

// "1 nap, 2 óra, 3 perc, ": days and hours only when there are any; the
// minutes always, and every part ends in a comma and a blank.
QString WorkingTimeText(std::uint32_t minutes) {
    QString text;
    if (minutes >= 1440) {
        text += Picture(minutes / 1440, "0") + QStringLiteral(" nap, ");
        minutes %= 1440;
    }
    if (minutes >= 60) {
        text += Picture(minutes / 60, "0") + QStringLiteral(" óra, ");
        minutes %= 60;
    }
    text += Picture(minutes, "0") + QStringLiteral(" perc, ");
    return text;
}

QString DateText(std::uint16_t year, std::uint8_t month, std::uint8_t day) {
    return Picture(year, "0000") + QLatin1Char('-') + Picture(month, "00") + QLatin1Char('-') + Picture(day, "00");
}

// The temperature sentinels: -200 °C or below (or no number at all) means
// the device has no reading.
bool HasTemperature(double t) { return t > kv::kNoTemperature && std::isfinite(t); }

QString TemperatureText(double t) { return Picture(t, "0.0") + QStringLiteral(" °C"); }

const QString kNoTemperatureText = QStringLiteral("----- °C");

} // namespace

void TForm_Main::DecodePollAnswer() {
    // The answer is taken with the link's reads, as far as the device sent
    // it, and then laid out by the record's one definition, whose reads follow
    // the link's rule: a field cut off at the end reads as 0 as a whole.
    std::uint8_t bytes[kv::PollAnswer::Size];
    std::size_t received = 0;
    while (received < kv::PollAnswer::Size && MB1->MBMBRXDataBufferIndex() <= MB1->MBReceivedDataNumber())
        bytes[received++] = MB1->MBGetByte();
    const kv::PollAnswer a = kv::PollAnswer::Decode(std::span<const std::uint8_t>(bytes, received));

    // Firmware version.
    Label_FormverVerzio->setText(QLatin1Char('v') + DateText(a.FirmwareYear, a.FirmwareMonth, a.FirmwareDay));

    // Raw converter channels.
    Label_ADCH0Present->setText(Picture(a.ADCH0Present, "# ### ##0"));
    Label_ADCH1Present->setText(Picture(a.ADCH1Present, "# ### ##0"));
    ADCH0Average = a.ADCH0Average;
    Label_ADCH0Average->setText(Picture(ADCH0Average, "# ### ##0"));
    MBarGraph_ADCH0->setMBGValue(ADCH0Average / kADFullScale);
    ADCH1Average = a.ADCH1Average;
    Label_ADCH1Average->setText(Picture(ADCH1Average, "# ### ##0"));
    MBarGraph_ADCH1->setMBGValue(ADCH1Average / kADFullScale);

    // Where the device took its working data from.
    Label_RAM1AdatForras->setText(DataSourceText(a.RAM1DataSource));
    Label_RAM2AdatForras->setText(DataSourceText(a.RAM2DataSource));

    // Converter over- and underflow.
    ADStatusFlags = a.ADStatusFlags;
    Label_ADCH0Underflow->setVisible(ADStatusFlags & kv::adstat::CH0Underflow);
    Label_ADCH0Overrflow->setVisible(ADStatusFlags & kv::adstat::CH0Overflow);
    Label_ADCH1Overrflow->setVisible(ADStatusFlags & kv::adstat::CH1Overflow);
    Label_ADCH1Underflow->setVisible(ADStatusFlags & kv::adstat::CH1Underflow);

    // A maintenance action the device has carried out is no longer pending.
    const struct {
        std::uint8_t bit;
        TSpeedButton* button;
    } acks[] = {
        {kv::maint::Rof2Wire, SpeedButton_Rof2Wire},
        {kv::maint::ResetOf2Wire, SpeedButton_ResetOf2Wire},
        {kv::maint::Reset, SpeedButton_Reset},
        {kv::maint::FRAMClear, SpeedButton_FRAMTorlesReset},
        {kv::maint::TempMinMaxClear, SpeedButton_HomersekletMinMaxTorlese},
        {kv::maint::Pot0, SpeedButton_Pot0},
        {kv::maint::Pot100, SpeedButton_Pot100},
        {kv::maint::PotDefault, SpeedButton_PotDefault},
    };
    for (const auto& ack : acks)
        if (a.MaintenanceAck & ack.bit)
            ack.button->setDown(false);

    AuCH0 = a.AuCH0;
    Label_AuCH0->setText(Picture(AuCH0, "0"));

    // Device errors.
    ErrorFlags = a.ErrorFlags;
    Label_ErrorFRAM->setVisible(ErrorFlags & kv::errflag::FRAM);
    Label_ErrorADC->setVisible(ErrorFlags & kv::errflag::ADC);
    Label_ErrorOutputRange->setVisible(ErrorFlags & kv::errflag::OutputRange);
    Label_ErrorInputSignal->setVisible(ADStatusFlags & kv::adstat::InputOutOfRange);

    // The wire resistance can be stored as 0 ohm only while the measured
    // resistance is a plausible one for wires.
    PhysicalValue = a.PhysicalValue;
    if (PhysicalValue >= 0 && PhysicalValue <= 100) {
        SpeedButton_Rof2Wire->setEnabled(true);
    } else {
        SpeedButton_Rof2Wire->setDown(false);
        SpeedButton_Rof2Wire->setEnabled(false);
    }

    // Which board answers.
    PCBIdentityAddress = a.PCBIdentityAddress;
    Label_PCBIdentityAddress->setText(QString::number(PCBIdentityAddress));
    Label_KeszulekAltipus->setText(DeviceTypeText(a.PCBIdentityAddress));

    Label_WorkingTime->setText(WorkingTimeText(a.WorkingTime));

    if (a.CalibrationYear != 0)
        Label_KalibralasDatuma->setText(DateText(a.CalibrationYear, a.CalibrationMonth, a.CalibrationDay));
    else
        Label_KalibralasDatuma->setText(QStringLiteral("Kalibrálatlan!"));

    // Internal temperature; it is also the cold junction's with internal
    // compensation.
    const bool internalCJC = RadioGroup_CJC->ItemIndex() == 0;
    InternalTemperature = a.InternalTemperature;
    if (HasTemperature(InternalTemperature)) {
        Label_MertHomerseklet->setText(Picture(InternalTemperature, "0.0"));
        if (internalCJC)
            Label_CJCTemp->setText(TemperatureText(InternalTemperature));
    } else {
        Label_MertHomerseklet->setText(QStringLiteral("Hiba! Nincs adat."));
        if (internalCJC)
            Label_CJCTemp->setText(kNoTemperatureText);
    }
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
    const int cjc = RadioGroup_CJC->ItemIndex();
    if (cjc == 1 || cjc == 2)
        Label_CJCTemp->setText(HasTemperature(CJCTemperature) ? TemperatureText(CJCTemperature) : kNoTemperatureText);
    if (cjc == 3)
        Label_CJCTemp->setText(kNoTemperatureText);

    // Stored wire resistance: of the sensor's wires, or with a thermocouple
    // of the external cold-junction sensor's wires.
    WireResistance = a.WireResistance;
    if (RadioGroup_Mode->ItemIndex() != 2) {
        Label_Rof2Wire->setText(Picture(WireResistance, FizikaiErtekFormat) + QStringLiteral(" ohm"));
    } else if (cjc == 1) {
        Label_Rof2Wire->setText(Picture(WireResistance, "0.0") + QStringLiteral(" ohm"));
    } else if (cjc == 2) {
        Label_Rof2Wire->setText(Picture(WireResistance, "0.00") + QStringLiteral(" ohm"));
    }

    Label_fRofPot0->setText(Picture(a.RofPot0, FizikaiErtekFormat) + QStringLiteral(" ohm"));
    Label_fRofPot100->setText(Picture(a.RofPot100, FizikaiErtekFormat) + QStringLiteral(" ohm"));

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
        const QString noPhysical = QStringLiteral("----- ") + FizikaiErtekUnit;
        const QString noCalculated = QStringLiteral("----- ") + SzamitottErtekUnit;
        if (!(CalibrationFlags & kv::calflag::Input)) {
            Label_FizikaiErtek->setText(noPhysical);
            Label_fSzamitottErtek->setText(noCalculated);
            return;
        }
        // The sentinels, and anything that is no number at all, give dashes.
        if (x < kPhysicalLimit && std::isfinite(x))
            Label_FizikaiErtek->setText(Picture(x, FizikaiErtekFormat) + QLatin1Char(' ') + FizikaiErtekUnit);
        else
            Label_FizikaiErtek->setText(noPhysical);
        if (CalculatedValue > kv::kNoCalculatedValue && std::isfinite(CalculatedValue))
            Label_fSzamitottErtek->setText(Picture(CalculatedValue, SzamitottErtekFormat) + QLatin1Char(' ') +
                                           SzamitottErtekUnit);
        else
            Label_fSzamitottErtek->setText(noCalculated);
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
        if (!std::isfinite(percent)) {
            Label_OutputPercent->setText(QStringLiteral("-----%"));
            ProgressBar1_OutputPercent->setValue(ProgressBar1_OutputPercent->minimum());
            return;
        }
        Label_OutputPercent->setText(Picture(percent, "0.00") + QLatin1Char('%'));
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
    static const char* const texts[] = {
        "OK",
        "Súlyos hiba",
        "Szenzor v. vezeték hiba",
        "Kalibrálatlan potenciométer",
        "Méréstartományon kívül esik",
        "Kimenet tartományon kívül esik",
    };
    if (code >= std::size(texts))
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
    Label_Status->setPalette(p);
    Label_Status->setText(QString::fromUtf8(texts[code]));
}
