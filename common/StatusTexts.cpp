#include "StatusTexts.h"

#include "NumberPicture.h"

#include <QCoreApplication>

#include <cmath>
#include <iterator>
#include <string_view>

namespace kv {

namespace {

// At and above this the device has no physical value to show.
constexpr double kPhysicalLimit = 1000000.0;

std::string Dashes(const std::string& unit) { return "----- " + unit; }

bool InputCalibrated(std::uint8_t calibrationFlags) { return (calibrationFlags & calflag::Input) != 0; }

// The texts below are the window's own; marked in the context "StatusTexts"
// so that the window and kvctl translate them alike.
std::string Tr(const char* source, TTextLanguage language = TTextLanguage::Program) {
    if (language == TTextLanguage::Source)
        return source;
    return QCoreApplication::translate("StatusTexts", source).toStdString();
}

// A pattern's "%1" replaced by `value`.
std::string Arg(const char* pattern, const std::string& value, TTextLanguage language) {
    return QString::fromStdString(Tr(pattern, language)).arg(QString::fromStdString(value)).toStdString();
}

} // namespace

const char* const kNoTemperatureText = "----- °C";

std::string DateText(std::uint16_t year, std::uint8_t month, std::uint8_t day) {
    return FormatPicture(year, "0000") + '-' + FormatPicture(month, "00") + '-' + FormatPicture(day, "00");
}

std::string FirmwareText(const PollAnswer& a) {
    return 'v' + DateText(a.FirmwareYear, a.FirmwareMonth, a.FirmwareDay);
}

std::string CalibrationDateText(const PollAnswer& a, TTextLanguage language) {
    if (a.CalibrationYear == 0)
        return Tr(QT_TRANSLATE_NOOP("StatusTexts", "Kalibrálatlan!"), language);
    return DateText(a.CalibrationYear, a.CalibrationMonth, a.CalibrationDay);
}

std::string DataSourceText(std::uint8_t source, TTextLanguage language) {
    static const char* const kSources[] = {"RAM1", "RAM2", "FRAM1", "FRAM2", QT_TRANSLATE_NOOP("StatusTexts", "Gyári")};
    return source < std::size(kSources) ? Tr(kSources[source], language) : "???";
}

std::string DeviceTypeText(std::uint8_t pcbIdentity) {
    switch (pcbIdentity) {
    case 0: return "KV7730";
    case 1: return "KV5510";
    default: return "???";
    }
}

// Days and hours only when there are any; the minutes always, and every part
// ends in a comma and a blank.
std::string WorkingTimeText(std::uint32_t minutes, TTextLanguage language) {
    std::string text;
    if (minutes >= 1440) {
        text += Arg(QT_TRANSLATE_NOOP("StatusTexts", "%1 nap, "), FormatPicture(minutes / 1440, "0"), language);
        minutes %= 1440;
    }
    if (minutes >= 60) {
        text += Arg(QT_TRANSLATE_NOOP("StatusTexts", "%1 óra, "), FormatPicture(minutes / 60, "0"), language);
        minutes %= 60;
    }
    text += Arg(QT_TRANSLATE_NOOP("StatusTexts", "%1 perc, "), FormatPicture(minutes, "0"), language);
    return text;
}

bool HasTemperature(double t) { return t > kNoTemperature && std::isfinite(t); }

std::string TemperatureText(double t) { return FormatPicture(t, "0.0") + " °C"; }

std::string InternalTemperatureText(double t) {
    return HasTemperature(t) ? FormatPicture(t, "0.0") : Tr(QT_TRANSLATE_NOOP("StatusTexts", "Hiba! Nincs adat."));
}

std::optional<std::string> CJCTemperatureText(const PollAnswer& a, int cjcIndex) {
    switch (cjcIndex) {
    case 0: // internal compensation: the board's own temperature
        return HasTemperature(a.InternalTemperature) ? TemperatureText(a.InternalTemperature) : kNoTemperatureText;
    case 1: // an external Pt1000 or Pt100
    case 2:
        return HasTemperature(a.CJCTemperature) ? TemperatureText(a.CJCTemperature) : kNoTemperatureText;
    case 3:
        return std::string(kNoTemperatureText);
    default:
        return std::nullopt;
    }
}

std::optional<std::string> WireResistanceText(const PollAnswer& a, int modeIndex, int cjcIndex,
                                              const DisplayFormats& f) {
    if (modeIndex != 2)
        return FormatPicture(a.WireResistance, f.FizikaiErtekFormat.toStdString()) + " ohm";
    if (cjcIndex == 1)
        return FormatPicture(a.WireResistance, "0.0") + " ohm";
    if (cjcIndex == 2)
        return FormatPicture(a.WireResistance, "0.00") + " ohm";
    return std::nullopt;
}

std::string PotEndText(double ohm, const DisplayFormats& f) {
    return FormatPicture(ohm, f.FizikaiErtekFormat.toStdString()) + " ohm";
}

std::string PhysicalValueText(std::uint8_t calibrationFlags, double x, const DisplayFormats& f) {
    // The sentinel, and anything that is no number at all, give dashes.
    if (!InputCalibrated(calibrationFlags) || !(x < kPhysicalLimit) || !std::isfinite(x))
        return Dashes(f.FizikaiErtekUnit.toStdString());
    return FormatPicture(x, f.FizikaiErtekFormat.toStdString()) + ' ' + f.FizikaiErtekUnit.toStdString();
}

std::string CalculatedValueText(std::uint8_t calibrationFlags, double x, const DisplayFormats& f) {
    if (!InputCalibrated(calibrationFlags) || !(x > kNoCalculatedValue) || !std::isfinite(x))
        return Dashes(f.SzamitottErtekUnit.toStdString());
    return FormatPicture(x, f.SzamitottErtekFormat.toStdString()) + ' ' + f.SzamitottErtekUnit.toStdString();
}

std::string OutputPercentText(std::uint8_t calibrationFlags, double fraction) {
    const double percent = fraction * 100.0;
    if (!InputCalibrated(calibrationFlags) || !std::isfinite(percent))
        return "-----%";
    return FormatPicture(percent, "0.00") + '%';
}

std::optional<std::string> StatusText(std::uint32_t code, TTextLanguage language) {
    static const char* const kTexts[] = {
        "OK",
        QT_TRANSLATE_NOOP("StatusTexts", "Súlyos hiba"),
        QT_TRANSLATE_NOOP("StatusTexts", "Szenzor v. vezeték hiba"),
        QT_TRANSLATE_NOOP("StatusTexts", "Kalibrálatlan potenciométer"),
        QT_TRANSLATE_NOOP("StatusTexts", "Méréstartományon kívül esik"),
        QT_TRANSLATE_NOOP("StatusTexts", "Kimenet tartományon kívül esik"),
    };
    if (code >= std::size(kTexts))
        return std::nullopt;
    return code == statusOK ? std::string(kTexts[code]) : Tr(kTexts[code], language);
}

std::vector<std::string> ErrorWords(const PollAnswer& a) {
    // No field drives "Sensor or wires error": the status code reports
    // sensor and wire faults.
    const struct {
        bool shown;
        const char* text;
    } labels[] = {
        {!(a.CalibrationFlags & calflag::Input), "Device input is uncalibrated"},
        {!(a.CalibrationFlags & calflag::Output), "Device output is uncalibrated"},
        {(a.ErrorFlags & errflag::FRAM) != 0, "FRAM error"},
        {!(a.CalibrationFlags & calflag::Potentiometer), "Potentiometer is uncalibrated"},
        {(a.ErrorFlags & errflag::ADC) != 0, "ADC error"},
        {(a.ADStatusFlags & adstat::InputOutOfRange) != 0, "Input range error"},
        {(a.ErrorFlags & errflag::OutputRange) != 0, "Output range error"},
    };
    std::vector<std::string> words;
    for (const auto& l : labels)
        if (l.shown)
            words.emplace_back(l.text);
    return words;
}

std::vector<std::string> ConverterWords(const PollAnswer& a) {
    const struct {
        std::uint8_t bit;
        const char* text;
    } labels[] = {
        {adstat::CH0Overflow, "AD CH0 Overflow"},
        {adstat::CH0Underflow, "AD CH0 Underflow"},
        {adstat::CH1Overflow, "AD CH1 Overflow"},
        {adstat::CH1Underflow, "AD CH1 Underflow"},
    };
    std::vector<std::string> words;
    for (const auto& l : labels)
        if (a.ADStatusFlags & l.bit)
            words.emplace_back(l.text);
    return words;
}

std::vector<std::string> SwitchWords(std::uint16_t s) {
    const struct {
        std::uint16_t bit;
        const char* text;
    } switches[] = {
        {sw::ThreeW, "3W"},        {sw::AZ, "AZ"},         {sw::AZNeg, "AZ-"},
        {sw::Kelvin, "Kelvin"},    {sw::KelvinNeg, "Kelvin-"}, {sw::I400uA, "I 400 uA"},
        {sw::PotFix, "Pot. Fix"},  {sw::ThreeWAlt, "3W Alt"}, {sw::ThreeWAltNeg, "3W Alt-"},
    };
    std::vector<std::string> words;
    for (const auto& w : switches)
        if (s & w.bit)
            words.emplace_back(w.text);
    return words;
}

TStatusTexts StatusTexts(const PollAnswer& a, int modeIndex, int cjcIndex, const DisplayFormats& f) {
    TStatusTexts t;
    t.DeviceType = DeviceTypeText(a.PCBIdentityAddress);
    t.PCBIdentityAddress = std::to_string(a.PCBIdentityAddress);
    t.Firmware = FirmwareText(a);
    t.CalibrationDate = CalibrationDateText(a);
    t.WorkingTime = WorkingTimeText(a.WorkingTime);
    t.FizikaiErtek = PhysicalValueText(a.CalibrationFlags, a.PhysicalValue, f);
    t.SzamitottErtek = CalculatedValueText(a.CalibrationFlags, a.CalculatedValue, f);
    t.OutputPercent = OutputPercentText(a.CalibrationFlags, a.OutputLevel);
    t.InternalTemperature = InternalTemperatureText(a.InternalTemperature);
    t.InternalTemperatureMin = FormatPicture(a.InternalTemperatureMin, "0.0");
    t.InternalTemperatureMax = FormatPicture(a.InternalTemperatureMax, "0.0");
    t.CJCTemperature = CJCTemperatureText(a, cjcIndex);
    t.WireResistance = WireResistanceText(a, modeIndex, cjcIndex, f);
    t.RofPot0 = PotEndText(a.RofPot0, f);
    t.RofPot100 = PotEndText(a.RofPot100, f);
    t.RAM1DataSource = DataSourceText(a.RAM1DataSource);
    t.RAM2DataSource = DataSourceText(a.RAM2DataSource);
    t.Status = StatusText(a.StatusCode);
    t.Errors = ErrorWords(a);
    t.Converter = ConverterWords(a);
    t.Switches = SwitchWords(a.SwitchStates);
    t.ADCH0Present = FormatPicture(a.ADCH0Present, "# ### ##0");
    t.ADCH1Present = FormatPicture(a.ADCH1Present, "# ### ##0");
    t.ADCH0Average = FormatPicture(a.ADCH0Average, "# ### ##0");
    t.ADCH1Average = FormatPicture(a.ADCH1Average, "# ### ##0");
    t.AuCH0 = FormatPicture(a.AuCH0, "0");
    t.Cycles = FormatPicture(a.Cycles, "0");
    t.ADSamplesPs = FormatPicture(a.ADSamplesPs, "0");
    return t;
}

} // namespace kv
