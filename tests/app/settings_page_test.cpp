// The settings page: the record it sends, how it shows an answer, its
// visibility rules and captions, and the decimal mark of its edits.
#include "poll_support.h"

#include "DeviceRecords.h"
#include "RadioGroup.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest/QTest>

#include <cfloat>
#include <functional>

using namespace polltest;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Reads the settings the device holds into the page, through the cycle.
void ReadSettings(TPollRig& rig) {
    rig.form->SpeedButton_ReadSettingsFromInstrument->setDown(true);
    if (!rig.form->MB1->MBPortOpen())
        rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
}

void StoreInDevice(TPollRig& rig, const kv::SettingsRecord& s) {
    ASSERT_TRUE(rig.device->Model().Handle(kv::cmdWriteSettings, s.Encode()).has_value());
}

} // namespace

TEST(SettingsWrite, StartControlsGiveTheDefaultRecordOnTheLine) {
    TPollRig rig;
    rig.form->SpeedButton_WriteSettingsToInstrument->setDown(true);
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteSettings));
    EXPECT_EQ(Hex(rig.ended.back().sent), "00 04 03 00 00 00 00 00 00 00 00 C8 42 00 00");
}

TEST(SettingsWrite, RecordFromTheControls) {
    struct Case {
        const char* name;
        char sep;
        std::function<void(TForm_Main&)> setup;
        std::function<void(const kv::SettingsRecord&)> check;
    };
    const Case cases[] = {
        {"2 wires, high, disabled", '.',
         [](TForm_Main& f) {
             f.RadioGroup_Wires->setItemIndex(0);
             f.RadioButton_ErrorHigh->setChecked(true);
             f.CheckBox_DisableErrorSignal->setChecked(true);
         },
         [](const kv::SettingsRecord& r) {
             EXPECT_EQ(r.Mode, 0);
             EXPECT_EQ(r.Wires, 2);
             EXPECT_EQ(r.ErrorSignalFlags, 0xC0);
         }},
        {"neither error level checked counts as low", '.',
         [](TForm_Main& f) { f.RadioButton_ErrorLow->setChecked(false); },
         [](const kv::SettingsRecord& r) { EXPECT_EQ(r.ErrorSignalFlags, 0); }},
        {"no selection anywhere", '.',
         [](TForm_Main& f) {
             for (TRadioGroup* g : {f.RadioGroup_Mode, f.RadioGroup_Wires, f.RadioGroup_TCType, f.RadioGroup_CJC,
                                    f.RadioGroup_OutputMode})
                 g->setItemIndex(-1);
         },
         [](const kv::SettingsRecord& r) { EXPECT_EQ(r, kv::SettingsRecord{}); }},
        {"unparsable and empty scaling", '.',
         [](TForm_Main& f) {
             f.Edit_FizikaiForOutL->setText("abc");
             f.Edit_FizikaiForOutH->setText("");
         },
         [](const kv::SettingsRecord& r) {
             EXPECT_EQ(r.FizikaiForOutL, 0.0f);
             EXPECT_EQ(r.FizikaiForOutH, 100.0f);
         }},
        {"comma locale", ',',
         [](TForm_Main& f) {
             f.Edit_FizikaiForOutL->setText(" -12,5 ");
             f.Edit_FizikaiForOutH->setText("1,5e2");
         },
         [](const kv::SettingsRecord& r) {
             EXPECT_EQ(r.FizikaiForOutL, -12.5f);
             EXPECT_EQ(r.FizikaiForOutH, 150.0f);
         }},
        {"a comma does not parse where the separator is a point", '.',
         [](TForm_Main& f) { f.Edit_FizikaiForOutL->setText("12,5"); },
         [](const kv::SettingsRecord& r) { EXPECT_EQ(r.FizikaiForOutL, 0.0f); }},
        {"beyond a single's range", '.',
         [](TForm_Main& f) {
             f.Edit_FizikaiForOutL->setText("-1e300");
             f.Edit_FizikaiForOutH->setText("1e39");
         },
         [](const kv::SettingsRecord& r) {
             EXPECT_EQ(r.FizikaiForOutL, -FLT_MAX);
             EXPECT_EQ(r.FizikaiForOutH, FLT_MAX);
         }},
        {"thermocouple type and output sent whatever is shown", '.',
         [](TForm_Main& f) {
             f.RadioGroup_Mode->setItemIndex(5);
             f.RadioGroup_TCType->setItemIndex(9);
             f.RadioGroup_CJC->setItemIndex(3);
             f.RadioGroup_OutputMode->setItemIndex(4);
             f.RadioGroup_Wires->setItemIndex(1);
         },
         [](const kv::SettingsRecord& r) {
             EXPECT_EQ(r.Mode, 5);
             EXPECT_EQ(r.Wires, 3);
             EXPECT_EQ(r.TCType, 9);
             EXPECT_EQ(r.CJC, 3);
             EXPECT_EQ(r.OutputMode, 4);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TSeparator sep(c.sep);
        TPollRig rig(false, false);
        c.setup(*rig.form);
        const QString low = rig.form->Edit_FizikaiForOutL->text();
        c.check(rig.form->SettingsFromControls());
        EXPECT_EQ(rig.form->Edit_FizikaiForOutL->text(), low); // the edit keeps its text
    }
}

TEST(SettingsEdits, TypedDecimalMarkBecomesTheLocaleSeparator) {
    for (char sep : {',', '.'}) {
        SCOPED_TRACE(sep);
        TSeparator s(sep);
        TPollRig rig(false, false);
        for (QLineEdit* edit : {rig.form->Edit_FizikaiForOutL, rig.form->Edit_FizikaiForOutH}) {
            edit->clear();
            QTest::keyClicks(edit, "12.5");
            QTest::keyClicks(edit, ",x");
            EXPECT_EQ(edit->text(), sep == ',' ? "12,5,x" : "12.5.x");
        }
        rig.form->Edit_FizikaiForOutL->setText("12" + QString(sep) + "5");
        EXPECT_EQ(rig.form->SettingsFromControls().FizikaiForOutL, 12.5f);
    }
}

TEST(SettingsRead, AnswerShownRoundedToTheDeviceMode) {
    for (char sep : {'.', ','}) {
        SCOPED_TRACE(sep);
        TSeparator s(sep);
        TPollRig rig;
        kv::SettingsRecord stored;
        stored.FizikaiForOutL = 12.345f;
        stored.FizikaiForOutH = -40.0f;
        stored.OutputMode = 3;
        stored.ErrorSignalFlags = 0xC0;
        stored.Wires = 2;
        StoreInDevice(rig, stored);
        ReadSettings(rig);
        TForm_Main& f = *rig.form;
        EXPECT_EQ(f.Edit_FizikaiForOutL->text(), sep == '.' ? "12.3" : "12,3");
        EXPECT_EQ(f.Edit_FizikaiForOutH->text(), sep == '.' ? "-40.0" : "-40,0");
        EXPECT_EQ(f.Label_FizikaiForOutLMeretkegyseg->text(), "°C");
        EXPECT_EQ(f.RadioGroup_Wires->ItemIndex(), 0);
        EXPECT_FALSE(f.GroupBox_Rof2Wire->isHidden());
        EXPECT_EQ(f.RadioGroup_OutputMode->ItemIndex(), 3);
        EXPECT_EQ(f.Label_OutL->text(), "2 V");
        EXPECT_TRUE(f.CheckBox_DisableErrorSignal->isChecked());
        EXPECT_TRUE(f.RadioButton_ErrorHigh->isChecked());
        EXPECT_FALSE(f.RadioButton_ErrorLow->isChecked());
        // Written back without editing: the shown value.
        EXPECT_EQ(f.SettingsFromControls().FizikaiForOutL, 12.3f);
    }
}

TEST(SettingsRead, DisplayFormatsFollowTheDeviceMode) {
    struct Row {
        int mode;
        const char *szFormat, *szUnit, *fizFormat, *fizUnit;
    };
    const Row rows[] = {
        {2, "0.0", "°C", "0.000", "mV"},
        {3, "0.00", "%", "0.00", "ohm"},
        {7, "0.00", "mV", "0.00", "mV"},
    };
    TPollRig rig;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mode);
        kv::SettingsRecord stored;
        stored.Mode = static_cast<std::uint8_t>(r.mode);
        StoreInDevice(rig, stored);
        ReadSettings(rig);
        TForm_Main& f = *rig.form;
        EXPECT_EQ(f.RadioGroup_Mode->ItemIndex(), r.mode);
        EXPECT_EQ(f.SzamitottErtekFormat, r.szFormat);
        EXPECT_EQ(f.SzamitottErtekUnit, QString::fromUtf8(r.szUnit));
        EXPECT_EQ(f.FizikaiErtekFormat, r.fizFormat);
        EXPECT_EQ(f.FizikaiErtekUnit, r.fizUnit);
        EXPECT_EQ(f.Label_FizikaiForOutHMeretkegyseg->text(), QString::fromUtf8(r.szUnit));
    }
}

// Answers the device model cannot give: out of range and short.
TEST(SettingsRead, OutOfRangeAndShortAnswersAreClamped) {
    TPollRig rig(false, false);
    Bytes answer;
    rig.Script([&](std::uint8_t command, const Bytes&) {
        if (command == kv::cmdReadSettings)
            return TPollRig::TAnswer{0, answer};
        return TPollRig::TAnswer{0, kv::PollAnswer{}.Encode()};
    });
    TForm_Main& f = *rig.form;
    f.SzamitottErtekUnit = "x";
    answer = {9, 1, 12, 5, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0x3F};
    ReadSettings(rig);
    EXPECT_EQ(f.RadioGroup_Mode->ItemIndex(), 7);
    EXPECT_EQ(f.SzamitottErtekUnit, "x"); // formats only for modes 0-7
    EXPECT_EQ(f.RadioGroup_Wires->ItemIndex(), -1);
    EXPECT_EQ(f.RadioGroup_TCType->ItemIndex(), 9);
    EXPECT_EQ(f.RadioGroup_CJC->ItemIndex(), 3);
    EXPECT_EQ(f.RadioGroup_OutputMode->ItemIndex(), 4);
    EXPECT_FALSE(f.RadioButton_ErrorHigh->isChecked());
    EXPECT_FALSE(f.CheckBox_DisableErrorSignal->isChecked());
    EXPECT_EQ(f.SettingsFromControls().Wires, 4);

    answer = {3, 4, 3};
    ReadSettings(rig);
    EXPECT_EQ(f.RadioGroup_Mode->ItemIndex(), 3);
    EXPECT_EQ(f.RadioGroup_OutputMode->ItemIndex(), 0);
    EXPECT_EQ(f.Edit_FizikaiForOutL->text(), "0.00");
    EXPECT_EQ(f.Edit_FizikaiForOutH->text(), "0.00");
}

TEST(SettingsPage, GroupsFollowTheModeChosen) {
    struct Case {
        int mode, wires, cjc;
        bool wiresShown, tcShown, cjcShown, rof2Wire, cjcTemp, potCal;
        QPoint rof2WirePlace;
    };
    const QPoint side(320, 168), below(304, 257);
    const Case cases[] = {
        {0, 0, 0, true, false, false, true, false, false, side},
        {1, 1, 0, true, false, false, false, false, false, side},
        {5, 0, 0, true, false, false, true, false, false, side},
        {6, 2, 0, true, false, false, false, false, false, side},
        {2, 0, 0, false, true, true, false, true, false, below},
        {2, 0, 1, false, true, true, true, true, false, below},
        {2, 0, 2, false, true, true, true, true, false, below},
        {2, 0, 3, false, true, true, false, false, false, below},
        {2, 0, -1, false, true, true, false, true, false, below},
        {3, 0, 0, true, false, false, false, false, true, side},
        {4, 0, 0, true, false, false, false, false, true, side},
        {7, 0, 1, false, false, false, false, false, false, side},
    };
    TPollRig rig(false, false);
    TForm_Main& f = *rig.form;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode * 100 + c.wires * 10 + c.cjc);
        f.RadioGroup_Wires->setItemIndex(c.wires);
        f.RadioGroup_CJC->setItemIndex(c.cjc);
        f.RadioGroup_Mode->setItemIndex(c.mode);
        f.RadioGroup_ModeClick();
        EXPECT_EQ(!f.RadioGroup_Wires->isHidden(), c.wiresShown);
        EXPECT_EQ(!f.RadioGroup_TCType->isHidden(), c.tcShown);
        EXPECT_EQ(!f.RadioGroup_CJC->isHidden(), c.cjcShown);
        EXPECT_EQ(!f.GroupBox_Rof2Wire->isHidden(), c.rof2Wire);
        EXPECT_EQ(!f.GroupBox_CJCTemp->isHidden(), c.cjcTemp);
        EXPECT_EQ(!f.GroupBox_PotCal->isHidden(), c.potCal);
        EXPECT_EQ(f.GroupBox_Rof2Wire->pos(), c.rof2WirePlace);
    }
}

TEST(SettingsPage, ModeByHandKeepsTheDeviceUnits) {
    TPollRig rig(false, false);
    TForm_Main& f = *rig.form;
    f.RadioGroup_Wires->setItemIndex(0);
    f.RadioGroup_Mode->Button(3)->click();
    EXPECT_FALSE(f.GroupBox_PotCal->isHidden());
    EXPECT_TRUE(f.GroupBox_Rof2Wire->isHidden());
    EXPECT_EQ(f.SzamitottErtekUnit, "°C");
    // Clicking a wire count or a cold-junction choice applies the rules too.
    f.RadioGroup_Mode->setItemIndex(0);
    f.RadioGroup_Wires->Button(1)->click();
    EXPECT_TRUE(f.GroupBox_Rof2Wire->isHidden());
    f.RadioGroup_Wires->Button(0)->click();
    EXPECT_FALSE(f.GroupBox_Rof2Wire->isHidden());
}

TEST(SettingsPage, OutputTypeSetsRangeAndErrorCaptions) {
    struct Row {
        int output;
        const char *low, *high, *errLow, *errHigh;
    };
    const Row rows[] = {
        {2, "0 V", "10 V", "Magas (11 V)", "Magas (11 V)"},
        {3, "2 V", "10 V", "Alacsony (1,6 V)", "Magas (11 V)"},
        {4, "0 V", "5 V", "Magas (5,5 V)", "Magas (5,5 V)"},
    };
    TPollRig rig(false, false);
    TForm_Main& f = *rig.form;
    EXPECT_EQ(f.RadioButton_ErrorLow->text(), "Low");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.output);
        f.RadioGroup_OutputMode->Button(r.output)->click();
        EXPECT_EQ(f.Label_OutL->text(), r.low);
        EXPECT_EQ(f.Label_OutH->text(), r.high);
        EXPECT_EQ(f.RadioButton_ErrorLow->text(), r.errLow);
        EXPECT_EQ(f.RadioButton_ErrorHigh->text(), r.errHigh);
    }
    // No selection leaves the captions as they were.
    f.RadioGroup_OutputMode->setItemIndex(-1);
    f.UpdateOutputLabels();
    EXPECT_EQ(f.Label_OutL->text(), "0 V");
}
