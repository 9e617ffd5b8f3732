// TForm_Main: the settings page. It mirrors the settings stored in the
// device: filled from the answer to a read, sent back by a write. Its groups
// follow the input mode chosen on the page; the display formats follow only
// the mode the device reports, since the device measures in its stored mode
// until a new one is written.
#include "Main.h"

#include "DeviceRecords.h"
#include "KeyPressFilter.h"
#include "MB.h"
#include "NumberPicture.h"
#include "RadioGroup.h"

#include <QLineEdit>

#include <algorithm>
#include <cfloat>
#include <vector>

namespace {

// The display formats and units of one input mode.
struct TModeFormats {
    const char* szamitottFormat;
    const char* szamitottUnit;
    const char* fizikaiFormat;
    const char* fizikaiUnit;
};

// By the device's input mode 0-7.
const TModeFormats kModeFormats[8] = {
    {"0.0", "°C", "0.00", "ohm"},   // Pt 100
    {"0.0", "°C", "0.0", "ohm"},    // Pt 1000
    {"0.0", "°C", "0.000", "mV"},   // thermocouple
    {"0.00", "%", "0.00", "ohm"},   // potentiometer 0-500 ohm
    {"0.00", "%", "0.0", "ohm"},    // potentiometer 0-5k ohm
    {"0.00", "ohm", "0.00", "ohm"}, // resistance 0-500 ohm
    {"0.0", "ohm", "0.0", "ohm"},   // resistance 0-5k ohm
    {"0.00", "mV", "0.00", "mV"},   // voltage
};

// The captions by output type 0-4: the ends of the range, and the two
// error levels. A range whose low end is zero cannot signal below it, so
// both levels read as the high one there.
struct TOutputCaptions {
    const char* low;
    const char* high;
    const char* errorLow;
    const char* errorHigh;
};

const TOutputCaptions kOutputCaptions[5] = {
    {"4 mA", "20 mA", "Alacsony (3,2 mA)", "Magas (22 mA)"},
    {"0 mA", "20 mA", "Magas (22 mA)", "Magas (22 mA)"},
    {"0 V", "10 V", "Magas (11 V)", "Magas (11 V)"},
    {"2 V", "10 V", "Alacsony (1,6 V)", "Magas (11 V)"},
    {"0 V", "5 V", "Magas (5,5 V)", "Magas (5,5 V)"},
};

// A scaling value as typed, or the fallback when it does not parse. Values
// beyond the range of a single are held at its largest finite value, so
// that the device is never sent an infinity.
float ScalingValue(const QString& text, double fallback) {
    double v = fallback;
    if (!kv::ParseDecimal(text.toStdString(), v))
        v = fallback;
    return static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

} // namespace

void TForm_Main::SetupSettingsPage() {
    RadioGroup_Mode->OnClick = [this] { RadioGroup_ModeClick(); };
    RadioGroup_OutputMode->OnClick = [this] { RadioGroup_ModeClick(); };
    RadioGroup_Wires->OnClick = [this] { RadioGroup_WiresClick(); };
    RadioGroup_CJC->OnClick = [this] { RadioGroup_CJCClick(); };
    RadioGroup_TCType->OnClick = [this] { RadioGroup_TCTypeClick(); };
    new TKeyPressFilter(Edit_FizikaiForOutL, [this](QChar& key) { Edit_FizikaiForOutLKeyPress(key); });
    new TKeyPressFilter(Edit_FizikaiForOutH, [this](QChar& key) { Edit_FizikaiForOutHKeyPress(key); });
}

QChar TForm_Main::MapDecimalMark(QChar typed) {
    if (typed == QLatin1Char(',') || typed == QLatin1Char('.'))
        return QLatin1Char(kv::DecimalSeparator());
    return typed;
}

void TForm_Main::Edit_FizikaiForOutLKeyPress(QChar& Key) {
    Key = MapDecimalMark(Key);
}

void TForm_Main::Edit_FizikaiForOutHKeyPress(QChar& Key) {
    Key = MapDecimalMark(Key);
}

kv::SettingsRecord TForm_Main::SettingsFromControls() const {
    // A group without a selection is sent as its usual value.
    const auto indexOr = [](const TRadioGroup* g, int none) {
        return g->ItemIndex() < 0 ? none : g->ItemIndex();
    };
    kv::SettingsRecord r;
    r.Mode = static_cast<std::uint8_t>(indexOr(RadioGroup_Mode, 0));
    switch (RadioGroup_Wires->ItemIndex()) {
    case 0:
        r.Wires = 2;
        break;
    case 1:
        r.Wires = 3;
        break;
    default:
        r.Wires = 4;
        break;
    }
    r.TCType = static_cast<std::uint8_t>(indexOr(RadioGroup_TCType, 3));
    r.CJC = static_cast<std::uint8_t>(indexOr(RadioGroup_CJC, 0));
    r.Reserved = 0;
    r.FizikaiForOutL = ScalingValue(Edit_FizikaiForOutL->text(), 0.0);
    r.FizikaiForOutH = ScalingValue(Edit_FizikaiForOutH->text(), 100.0);
    r.OutputMode = static_cast<std::uint8_t>(indexOr(RadioGroup_OutputMode, 0));
    r.ErrorSignalFlags = 0;
    // Whatever is not high counts as low.
    if (RadioButton_ErrorHigh->isChecked())
        r.ErrorSignalFlags |= kv::errsig::High;
    if (CheckBox_DisableErrorSignal->isChecked())
        r.ErrorSignalFlags |= kv::errsig::Disabled;
    return r;
}

void TForm_Main::ApplySettingsAnswer() {
    // The answer's data from its first byte; what the device did not send
    // reads as zero.
    const std::size_t received = std::min<std::size_t>(MB1->MBReceivedDataNumber(), kv::SettingsRecord::Size);
    std::vector<std::uint8_t> bytes(received);
    for (auto& b : bytes)
        b = MB1->MBGetByte();
    const kv::SettingsRecord r = kv::SettingsRecord::Decode(bytes);

    RadioGroup_Mode->setItemIndex(r.Mode);
    if (r.Mode < std::size(kModeFormats)) {
        const TModeFormats& f = kModeFormats[r.Mode];
        SzamitottErtekFormat = QString::fromUtf8(f.szamitottFormat);
        SzamitottErtekUnit = QString::fromUtf8(f.szamitottUnit);
        FizikaiErtekFormat = QString::fromUtf8(f.fizikaiFormat);
        FizikaiErtekUnit = QString::fromUtf8(f.fizikaiUnit);
    }
    RadioGroup_Wires->setItemIndex(static_cast<int>(r.Wires) - 2);
    RadioGroup_TCType->setItemIndex(r.TCType);
    RadioGroup_CJC->setItemIndex(r.CJC);

    const std::string format = SzamitottErtekFormat.toStdString();
    Edit_FizikaiForOutL->setText(QString::fromStdString(kv::FormatPicture(r.FizikaiForOutL, format)));
    Label_FizikaiForOutLMeretkegyseg->setText(SzamitottErtekUnit);
    Edit_FizikaiForOutH->setText(QString::fromStdString(kv::FormatPicture(r.FizikaiForOutH, format)));
    Label_FizikaiForOutHMeretkegyseg->setText(SzamitottErtekUnit);

    RadioGroup_OutputMode->setItemIndex(r.OutputMode);
    UpdateOutputLabels();

    CheckBox_DisableErrorSignal->setChecked((r.ErrorSignalFlags & kv::errsig::Disabled) != 0);
    const bool high = (r.ErrorSignalFlags & kv::errsig::High) != 0;
    RadioButton_ErrorHigh->setChecked(high);
    RadioButton_ErrorLow->setChecked(!high);

    RadioGroup_ModeClick();
}

void TForm_Main::RadioGroup_ModeClick() {
    const int mode = RadioGroup_Mode->ItemIndex();
    if (mode >= 0) {
        bool wires = false, tcType = false, cjc = false, rof2Wire = false, cjcTemp = false, potCal = false;
        bool thermocouplePlace = false;
        switch (mode) {
        case 0: // Pt 100, Pt 1000 and the resistances: the wiring matters,
        case 1: // and a 2-wire sensor's wire resistance can be stored
        case 5:
        case 6:
            wires = true;
            rof2Wire = RadioGroup_Wires->ItemIndex() == 0;
            break;
        case 2: { // thermocouple: an external cold-junction sensor is wired
            const int c = RadioGroup_CJC->ItemIndex();
            tcType = true;
            cjc = true;
            rof2Wire = c == 1 || c == 2;
            cjcTemp = c < 3;
            thermocouplePlace = true;
            break;
        }
        case 3: // potentiometers
        case 4:
            wires = true;
            potCal = true;
            break;
        default: // voltage
            break;
        }
        RadioGroup_Wires->setVisible(wires);
        RadioGroup_TCType->setVisible(tcType);
        RadioGroup_CJC->setVisible(cjc);
        GroupBox_Rof2Wire->setVisible(rof2Wire);
        GroupBox_CJCTemp->setVisible(cjcTemp);
        GroupBox_PotCal->setVisible(potCal);
        PlaceRof2WireGroup(thermocouplePlace);
    }
    UpdateOutputLabels();
}

void TForm_Main::PlaceRof2WireGroup(bool thermocouplePlace) {
    // Below the cold-junction group, or on the place shared with the
    // potentiometer group.
    if (thermocouplePlace)
        GroupBox_Rof2Wire->move(304, 257);
    else
        GroupBox_Rof2Wire->move(320, 168);
}

void TForm_Main::UpdateOutputLabels() {
    const int output = RadioGroup_OutputMode->ItemIndex();
    if (output < 0 || output >= static_cast<int>(std::size(kOutputCaptions)))
        return;
    const TOutputCaptions& c = kOutputCaptions[output];
    Label_OutL->setText(QString::fromUtf8(c.low));
    Label_OutH->setText(QString::fromUtf8(c.high));
    SetErrorSignalCaptions(QString::fromUtf8(c.errorLow), QString::fromUtf8(c.errorHigh));
}

void TForm_Main::SetErrorSignalCaptions(const QString& low, const QString& high) {
    RadioButton_ErrorLow->setText(low);
    RadioButton_ErrorHigh->setText(high);
}
