// TForm_Main: the settings page. It mirrors the settings stored in the
// device: filled from the answer to a read, sent back by a write. Its groups
// follow the input mode chosen on the page; the display formats follow only
// the mode the device reports, since the device measures in its stored mode
// until a new one is written.
#include "Main.h"

#include "DeviceRecords.h"
#include "KeyPressFilter.h"
#include "NumberPicture.h"
#include "RadioGroup.h"
#include "SettingsActions.h"
#include "SettingsModel.h"

#include <QLineEdit>


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

kv::SettingsPage TForm_Main::PageFromControls() const {
    kv::SettingsPage p;
    p.Mode = RadioGroup_Mode->ItemIndex();
    p.Wires = RadioGroup_Wires->ItemIndex();
    p.TCType = RadioGroup_TCType->ItemIndex();
    p.CJC = RadioGroup_CJC->ItemIndex();
    p.RefreshTime = RadioGroup_RefreshTime->ItemIndex();
    p.OutputMode = RadioGroup_OutputMode->ItemIndex();
    p.ErrorLow = RadioButton_ErrorLow->isChecked();
    p.ErrorHigh = RadioButton_ErrorHigh->isChecked();
    p.DisableErrorSignal = CheckBox_DisableErrorSignal->isChecked();
    p.FizikaiForOutL = Edit_FizikaiForOutL->text();
    p.FizikaiForOutH = Edit_FizikaiForOutH->text();
    return p;
}

kv::SettingsRecord TForm_Main::SettingsFromControls() const {
    return kv::RecordFromPage(PageFromControls());
}

void TForm_Main::ApplySettingsPage(const kv::SettingsPage& page) {
    // Each group runs its click handler only when its selection changes.
    RadioGroup_Mode->setItemIndex(page.Mode);
    RadioGroup_Wires->setItemIndex(page.Wires);
    RadioGroup_TCType->setItemIndex(page.TCType);
    RadioGroup_CJC->setItemIndex(page.CJC);
    RadioGroup_RefreshTime->setItemIndex(page.RefreshTime);
    RadioGroup_OutputMode->setItemIndex(page.OutputMode);
    RadioButton_ErrorLow->setChecked(page.ErrorLow); // the pair: checking one unchecks the other
    RadioButton_ErrorHigh->setChecked(page.ErrorHigh);
    CheckBox_DisableErrorSignal->setChecked(page.DisableErrorSignal);
    Edit_FizikaiForOutL->setText(page.FizikaiForOutL);
    Edit_FizikaiForOutH->setText(page.FizikaiForOutH);
}

void TForm_Main::ApplySettingsAnswer(const kv::SettingsRecord& record) {
    kv::DisplayFormats formats{SzamitottErtekFormat, SzamitottErtekUnit, FizikaiErtekFormat, FizikaiErtekUnit};
    const kv::SettingsPage p = kv::PageFromRecord(record, formats);

    RadioGroup_Mode->setItemIndex(p.Mode);
    SzamitottErtekFormat = formats.SzamitottErtekFormat;
    SzamitottErtekUnit = formats.SzamitottErtekUnit;
    FizikaiErtekFormat = formats.FizikaiErtekFormat;
    FizikaiErtekUnit = formats.FizikaiErtekUnit;
    RadioGroup_Wires->setItemIndex(p.Wires);
    RadioGroup_TCType->setItemIndex(p.TCType);
    RadioGroup_CJC->setItemIndex(p.CJC);

    Edit_FizikaiForOutL->setText(p.FizikaiForOutL);
    Label_FizikaiForOutLMeretkegyseg->setText(SzamitottErtekUnit);
    Edit_FizikaiForOutH->setText(p.FizikaiForOutH);
    Label_FizikaiForOutHMeretkegyseg->setText(SzamitottErtekUnit);

    RadioGroup_OutputMode->setItemIndex(p.OutputMode);
    UpdateOutputLabels();

    CheckBox_DisableErrorSignal->setChecked(p.DisableErrorSignal);
    RadioButton_ErrorHigh->setChecked(p.ErrorHigh);
    RadioButton_ErrorLow->setChecked(p.ErrorLow);

    RadioGroup_ModeClick();
}

void TForm_Main::RadioGroup_ModeClick() {
    const kv::SettingsGroups g =
        kv::GroupsForSelection(RadioGroup_Mode->ItemIndex(), RadioGroup_Wires->ItemIndex(), RadioGroup_CJC->ItemIndex());
    if (g.decided) {
        RadioGroup_Wires->setVisible(g.Wires);
        RadioGroup_TCType->setVisible(g.TCType);
        RadioGroup_CJC->setVisible(g.CJC);
        GroupBox_Rof2Wire->setVisible(g.Rof2Wire);
        GroupBox_CJCTemp->setVisible(g.CJCTemp);
        GroupBox_PotCal->setVisible(g.PotCal);
        PlaceRof2WireGroup(g.ThermocouplePlace);
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
    const auto c = kv::CaptionsForOutput(RadioGroup_OutputMode->ItemIndex());
    if (!c)
        return;
    Label_OutL->setText(c->OutL);
    Label_OutH->setText(c->OutH);
    SetErrorSignalCaptions(c->ErrorLow, c->ErrorHigh);
}

void TForm_Main::SetErrorSignalCaptions(const QString& low, const QString& high) {
    RadioButton_ErrorLow->setText(low);
    RadioButton_ErrorHigh->setText(high);
}
