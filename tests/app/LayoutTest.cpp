// The window's layout at start: every sampled control has its kind, parent,
// place, caption and start state, page by page.
#include "Main.h"
#include "MBarGraph.h"
#include "Pictures.h"
#include "Piszkozat.h"
#include "RadioGroup.h"
#include "SpeedButton.h"
#include "TextFit.h"
#include "TsCatalog.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QSlider>
#include <QTabBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

std::unique_ptr<TForm_Main> MakeForm(bool developer = true) {
    static QTemporaryDir dir;
    TFormMainOptions o;
    o.IniFileName = dir.path() + QStringLiteral("/kvsetup.ini");
    if (developer)
        o.Parameters << QStringLiteral("/QORMIX");
    return std::make_unique<TForm_Main>(o);
}

QString Caption(const QWidget* w) {
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    if (auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    return QString();
}

// A caption as the window shows it in the language the tests run in
// (KV_TEST_LANGUAGE=en: English, AppTestMain.cpp): the code's own text, or
// its translation from the translation file.
QString InTestLanguage(const QString& caption) {
    static const kvtest::TTsCatalog english(QStringLiteral(KV_TRANSLATIONS_DIR "/kvsetup_en.ts"));
    return qEnvironmentVariable("KV_TEST_LANGUAGE") == QLatin1String("en") ? english.Translation(caption) : caption;
}
QString InTestLanguage(const char* caption) { return InTestLanguage(QString::fromUtf8(caption)); }
QStringList InTestLanguage(const QStringList& captions) {
    QStringList shown;
    for (const QString& c : captions)
        shown << InTestLanguage(c);
    return shown;
}

enum Vis { Shown, Hidden };
constexpr QRect kAny;         // place not checked
const char* const kNone = ""; // caption not checked

struct Row {
    const char* name;
    const char* kind; // class the control is (or derives from)
    const char* parent;
    QRect place;
    const char* caption;
    Vis visibility;
};

void CheckRows(const TForm_Main& form, const std::vector<Row>& rows) {
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto* w = form.findChild<QWidget*>(QString::fromUtf8(r.name));
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(r.kind)) << w->metaObject()->className();
        ASSERT_NE(w->parentWidget(), nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), QString::fromUtf8(r.parent));
        if (!r.place.isNull()) {
            EXPECT_EQ(w->geometry(), r.place);
        }
        if (*r.caption) {
            EXPECT_EQ(Caption(w), InTestLanguage(r.caption));
        }
        EXPECT_EQ(w->isHidden(), r.visibility == Hidden);
    }
}

TEST(Layout, MainWindowFrame) {
    auto form = MakeForm();
    EXPECT_EQ(form->objectName(), QStringLiteral("Form_Main"));
    CheckRows(*form, {
        {"Label3", "QLabel", "Form_Main", kAny, "Készülék:", Shown},
        {"Label_KeszulekAltipus", "QLabel", "Form_Main", kAny, "???", Shown},
        {"PageControl1", "QTabWidget", "Form_Main", QRect(8, 40, 761, 633), kNone, Hidden},
        {"MB1", "TMB", "Form_Main", QRect(837, 6, 155, 145), kNone, Shown},
        {"GroupBox_SystemData", "QGroupBox", "Form_Main", QRect(783, 160, 209, 505), "Készülék adatok:", Hidden},
        {"GroupBox_Status", "QGroupBox", "GroupBox_SystemData", kAny, "Állapot:", Hidden},
        {"Label_Status", "QLabel", "GroupBox_Status", kAny, "---", Shown},
        {"GroupBox2", "QGroupBox", "GroupBox_SystemData", kAny, "Mért fizikai érték:", Shown},
        {"Label_FizikaiErtek", "QLabel", "GroupBox2", kAny, "0", Shown},
        {"GroupBox_OutputPercent", "QGroupBox", "GroupBox_SystemData", kAny, "Analóg kimenet százalék:", Shown},
        {"ProgressBar1_OutputPercent", "QProgressBar", "GroupBox_OutputPercent", kAny, kNone, Shown},
        {"GroupBox4", "QGroupBox", "GroupBox_SystemData", kAny, "Rendszer információ:", Shown},
        {"Label7", "QLabel", "GroupBox4", kAny, "Förmver: ", Shown},
        {"Label_FormverVerzio", "QLabel", "GroupBox4", kAny, "????", Shown},
        {"Label2", "QLabel", "GroupBox4", kAny, "Kalibrálás dátuma:", Shown},
        {"Label12", "QLabel", "GroupBox4", kAny, "Üzemidő:", Shown},
        {"Label_WorkingTime", "QLabel", "GroupBox4", kAny, "0.0", Shown},
        {"Label24", "QLabel", "GroupBox4", kAny, "Belső hőmérséklet max.:", Shown},
        {"Label16", "QLabel", "GroupBox4", kAny, "Belső hőmérséklet:", Shown},
        {"Label19", "QLabel", "GroupBox4", kAny, "Belső hőmérséklet min.:", Shown},
        {"Label_MertHomerseklet", "QLabel", "GroupBox4", kAny, "0.0", Shown},
        {"Label5", "QLabel", "GroupBox4", kAny, "#1 RAM adat forrás:", Shown},
        {"Label18", "QLabel", "GroupBox4", kAny, "#2 RAM adat forrás:", Shown},
        {"Label_RAM2AdatForras", "QLabel", "GroupBox4", kAny, "????", Shown},
        {"SpeedButton_Reset", "TSpeedButton", "GroupBox_SystemData", kAny, "Újraindítás", Shown},
    });
    // Inside the window and its column, top to bottom.
    const QRect column = form->GroupBox_SystemData->rect();
    int lastBottom = 0;
    for (QWidget* g : {static_cast<QWidget*>(form->GroupBox_Status), static_cast<QWidget*>(form->GroupBox2),
                       static_cast<QWidget*>(form->GroupBox_OutputPercent), static_cast<QWidget*>(form->GroupBox4),
                       static_cast<QWidget*>(form->SpeedButton_Reset)}) {
        EXPECT_TRUE(column.contains(g->geometry())) << g->objectName().toStdString();
        EXPECT_GT(g->y(), lastBottom) << g->objectName().toStdString();
        lastBottom = g->geometry().bottom();
    }
    EXPECT_TRUE(form->rect().contains(form->PageControl1->geometry()));
    EXPECT_FALSE(form->PageControl1->geometry().intersects(form->GroupBox_SystemData->geometry()));
    EXPECT_FALSE(form->MB1->geometry().intersects(form->GroupBox_SystemData->geometry()));
}

TEST(Layout, SettingsPageAsTabled) {
    auto form = MakeForm();
    CheckRows(*form, {
        {"GroupBox1", "QGroupBox", "TabSheet_Settings", QRect(8, 16, 737, 137), "Mért érték:", Shown},
        {"Label_fSzamitottErtek", "QLabel", "GroupBox1", kAny, "0", Shown},
        {"GroupBox_CJCTemp", "QGroupBox", "GroupBox1", QRect(584, 80, 153, 57), "Hidegpont hőmérséklete:", Hidden},
        {"Label_CJCTemp", "QLabel", "GroupBox_CJCTemp", QRect(8, 20, 137, 24), "0.0", Shown},
        {"RadioGroup_Mode", "TRadioGroup", "TabSheet_Settings", QRect(8, 168, 233, 153), "Üzemmód:", Shown},
        {"RadioGroup_Wires", "TRadioGroup", "TabSheet_Settings", QRect(248, 168, 65, 65), "Vezeték:", Hidden},
        {"RadioGroup_TCType", "TRadioGroup", "TabSheet_Settings", QRect(248, 168, 49, 153), "Típus:", Hidden},
        {"RadioGroup_CJC", "TRadioGroup", "TabSheet_Settings", QRect(304, 168, 153, 81), "Hidegpont kompenzálás:", Hidden},
        {"GroupBox_Rof2Wire", "QGroupBox", "TabSheet_Settings", QRect(320, 168, 137, 121), "Vezetékek ellenállása:", Hidden},
        {"Label_Rof2Wire", "QLabel", "GroupBox_Rof2Wire", kAny, "0.0", Shown},
        {"SpeedButton_Rof2Wire", "TSpeedButton", "GroupBox_Rof2Wire", kAny, "Tárolás, mint 0 ohm", Shown},
        {"SpeedButton_ResetOf2Wire", "TSpeedButton", "GroupBox_Rof2Wire", kAny, "Tárolt érték törlése", Shown},
        {"GroupBox_PotCal", "QGroupBox", "TabSheet_Settings", QRect(320, 168, 217, 121), "Potenciométer kalibrálás:", Hidden},
        {"SpeedButton_Pot0", "TSpeedButton", "GroupBox_PotCal", kAny, "Tárolás, mint 0%", Shown},
        {"SpeedButton_Pot100", "TSpeedButton", "GroupBox_PotCal", kAny, "Tárolás, mint 100%", Shown},
        {"SpeedButton_PotDefault", "TSpeedButton", "GroupBox_PotCal", kAny, "Gyári alapérték visszaállítása", Shown},
        {"Label8", "QLabel", "GroupBox_PotCal", QRect(8, 20, 98, 15), "R a 0%-hoz =", Shown},
        {"Label9", "QLabel", "GroupBox_PotCal", QRect(108, 20, 101, 15), "R a 100%-hoz =", Shown},
        // Each value under its caption, both above their button.
        {"Label_fRofPot0", "QLabel", "GroupBox_PotCal", QRect(8, 37, 98, 15), "xxx.xx ohm", Shown},
        {"Label_fRofPot100", "QLabel", "GroupBox_PotCal", QRect(108, 37, 101, 15), "xxx.xx ohm", Shown},
        {"RadioGroup_RefreshTime", "TRadioGroup", "TabSheet_Settings", QRect(448, 296, 89, 121), "Averaging Time", Hidden},
        {"GroupBox6", "QGroupBox", "TabSheet_Settings", QRect(544, 168, 201, 313), "Az analóg kimenet beállításai:", Shown},
        {"RadioGroup_OutputMode", "TRadioGroup", "GroupBox6", QRect(8, 24, 89, 89), "Kimenet típusa:", Shown},
        {"GroupBox3", "QGroupBox", "GroupBox6", QRect(8, 120, 185, 89), "Analóg kimenet skálázása:", Shown},
        {"Edit_FizikaiForOutL", "QLineEdit", "GroupBox3", QRect(8, 24, 57, 22), "0", Shown},
        {"Label_FizikaiForOutLMeretkegyseg", "QLabel", "GroupBox3", kAny, "---", Shown},
        {"Label4", "QLabel", "GroupBox3", kAny, "=", Shown},
        {"Label_OutL", "QLabel", "GroupBox3", kAny, "4 mA", Shown},
        {"Edit_FizikaiForOutH", "QLineEdit", "GroupBox3", QRect(8, 56, 57, 22), "100", Shown},
        {"Label_FizikaiForOutHMeretkegyseg", "QLabel", "GroupBox3", kAny, "---", Shown},
        {"Label6", "QLabel", "GroupBox3", kAny, "=", Shown},
        {"Label_OutH", "QLabel", "GroupBox3", kAny, "20 mA", Shown},
        {"GroupBox_ErrorSignal", "QGroupBox", "GroupBox6", QRect(8, 216, 185, 57), "Hibajelzés:", Shown},
        {"RadioButton_ErrorLow", "QRadioButton", "GroupBox_ErrorSignal", QRect(8, 20, 169, 17), "Low", Shown},
        {"RadioButton_ErrorHigh", "QRadioButton", "GroupBox_ErrorSignal", QRect(8, 36, 169, 17), "High", Shown},
        {"CheckBox_DisableErrorSignal", "QCheckBox", "GroupBox6", QRect(8, 280, 185, 17), "Kimenet hibajelzés tiltása", Shown},
        {"GroupBox_ReadWriteDevice", "QGroupBox", "TabSheet_Settings", QRect(304, 499, 441, 94),
         "Beállítás kiolvasása a készülékből, módosított beállítás beírása a készülékbe:", Shown},
        {"SpeedButton_ReadSettingsFromInstrument", "TSpeedButton", "GroupBox_ReadWriteDevice", QRect(8, 25, 185, 25),
         "Beállítás kiolvasása a készülékből", Shown},
        {"SpeedButton_ReadFactoryDefaultsFromInstrument", "TSpeedButton", "GroupBox_ReadWriteDevice",
         QRect(208, 25, 224, 25), "Gyári alapbeállítás kiolvasása a készülékből", Shown},
        {"SpeedButton_WriteSettingsToInstrument", "TSpeedButton", "GroupBox_ReadWriteDevice", QRect(127, 57, 193, 25),
         "Beállítás beírása a készülékbe", Shown},
        {"GroupBox_FileOperations", "QGroupBox", "TabSheet_Settings", QRect(8, 507, 209, 89), "Fájl műveletek:", Shown},
        {"SpeedButton_OpenSettingsFile", "TSpeedButton", "GroupBox_FileOperations", QRect(8, 17, 193, 25),
         "Beállítás fájl megnyitása (Open)", Shown},
        {"SpeedButton_SaveSettingsToFile", "TSpeedButton", "GroupBox_FileOperations", QRect(7, 49, 193, 25),
         "Beállítás fájlba mentése (Save As)", Shown},
    });
    EXPECT_TRUE(form->RadioButton_ErrorLow->isChecked());
    EXPECT_FALSE(form->RadioButton_ErrorHigh->isChecked());
    // Checking one error level unchecks the other; unchecking one leaves the
    // other as it is, so that neither may be checked.
    form->RadioButton_ErrorHigh->setChecked(true);
    EXPECT_FALSE(form->RadioButton_ErrorLow->isChecked());
    form->RadioButton_ErrorHigh->setChecked(false);
    EXPECT_FALSE(form->RadioButton_ErrorLow->isChecked());
    EXPECT_FALSE(form->RadioButton_ErrorHigh->isChecked());
    form->RadioButton_ErrorLow->setChecked(true);
    EXPECT_FALSE(form->RadioButton_ErrorHigh->isChecked());
    EXPECT_FALSE(form->CheckBox_DisableErrorSignal->isChecked());
    EXPECT_FALSE(form->SpeedButton_Rof2Wire->isEnabled());
    EXPECT_TRUE(form->SpeedButton_WriteSettingsToInstrument->font().bold());
    // The file dialogs are the window's, made when first used.
    EXPECT_FALSE(form->SaveDialog1.Created());
    EXPECT_EQ(form->SaveDialog1->parent(), form.get());
    EXPECT_EQ(form->SaveDialog1->objectName(), QStringLiteral("SaveDialog1"));
    EXPECT_EQ(form->SaveDialog1->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(form->OpenDialog1->objectName(), QStringLiteral("OpenDialog1"));
    EXPECT_EQ(form->OpenDialog1->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(form->findChildren<QFileDialog*>().size(), 2);
}

TEST(Layout, RadioGroupsItemsAndSelection) {
    auto form = MakeForm();
    const struct {
        TRadioGroup* group;
        QStringList items;
        int index;
    } rows[] = {
        {form->RadioGroup_Mode,
         {"Hőmérséklet (Pt 100)", "Hőmérséklet  (Pt 1000)", "Hőmérséklet  (Hőelem)", "Potenciométer (0 - 500 ohm)",
          "Potenciométer (0 - 5k ohm)", "Ellenállás (0 - 500 ohm)", "Ellenállás (0 - 5k ohm)",
          "Feszültség (-100 mV - +100 mV)"},
         0},
        {form->RadioGroup_Wires, {"2", "3", "4"}, 2},
        {form->RadioGroup_TCType, {"B", "E", "J", "K", "L", "N", "R", "S", "T", "U"}, 3},
        {form->RadioGroup_CJC, {"Belső", "Külső Pt1000-rel", "külső Pt100-zal", "Nincs"}, 0},
        {form->RadioGroup_RefreshTime,
         {"0,5 sec", "1,0 sec", "2,0 sec", "3,0 sec", "5,0 sec", "10 sec", "20 sec", "30 sec"},
         0},
        {form->RadioGroup_OutputMode, {"4-20 mA", "0-20 mA", "0-10 V", "2-10 V", "0-5 V"}, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.group->objectName().toStdString());
        EXPECT_EQ(r.group->Items(), InTestLanguage(r.items));
        EXPECT_EQ(r.group->ItemIndex(), r.index);
        for (int i = 0; i < r.items.size(); ++i) {
            QRadioButton* b = r.group->Button(i);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->isChecked(), i == r.index);
            // Every item lies inside its group, under the caption.
            EXPECT_TRUE(r.group->rect().contains(b->geometry()));
            EXPECT_GE(b->height(), 12);
        }
    }
}

TEST(Layout, DeveloperPageAndItsPageControls) {
    auto form = MakeForm();
    CheckRows(*form, {
        {"Label23", "QLabel", "TabSheet_DeveloperTool", kAny, "AD CH0:", Shown},
        {"MBarGraph_ADCH0", "TMBarGraph", "TabSheet_DeveloperTool", QRect(56, 4, 497, 17), kNone, Shown},
        {"MBarGraph_ADCH1", "TMBarGraph", "TabSheet_DeveloperTool", QRect(56, 52, 497, 17), kNone, Shown},
        {"Label27", "QLabel", "TabSheet_DeveloperTool", kAny, "Present:", Shown},
        {"Label31", "QLabel", "TabSheet_DeveloperTool", kAny, "Average:", Shown},
        {"Label_ADCH0Present", "QLabel", "TabSheet_DeveloperTool", kAny, "0", Shown},
        {"Label_ADCH1Average", "QLabel", "TabSheet_DeveloperTool", kAny, "0", Shown},
        {"Label62", "QLabel", "TabSheet_DeveloperTool", kAny, "Au:", Shown},
        {"Label_AuCH0", "QLabel", "TabSheet_DeveloperTool", kAny, "0", Shown},
        {"Label34", "QLabel", "TabSheet_DeveloperTool", kAny, "AD CH1:", Shown},
        {"Label35", "QLabel", "TabSheet_DeveloperTool", kAny, "Present:", Shown},
        {"Label39", "QLabel", "TabSheet_DeveloperTool", kAny, "Average:", Shown},
        {"Label_ADCH0Underflow", "QLabel", "TabSheet_DeveloperTool", kAny, "AD CH0 Underflow", Hidden},
        {"Label_ADCH0Overrflow", "QLabel", "TabSheet_DeveloperTool", kAny, "AD CH0 Overflow", Hidden},
        {"Label_ADCH1Underflow", "QLabel", "TabSheet_DeveloperTool", kAny, "AD CH1 Underflow", Hidden},
        {"Label_ADCH1Overrflow", "QLabel", "TabSheet_DeveloperTool", kAny, "AD CH1 Overflow", Hidden},
        {"PageControl2", "QTabWidget", "TabSheet_DeveloperTool", QRect(8, 100, 737, 497), kNone, Shown},
        // FET Control
        {"Label29", "QLabel", "TabSheet_FETControl", kAny, "FET Control", Shown},
        {"Image1", "QLabel", "TabSheet_FETControl", kAny, kNone, Shown},
        {"SpeedButton_FETForceControl", "TSpeedButton", "TabSheet_FETControl", kAny, "Force Control", Shown},
        {"SpeedButton_3W", "TSpeedButton", "TabSheet_FETControl", kAny, "3W", Shown},
        {"SpeedButton_Az", "TSpeedButton", "TabSheet_FETControl", kAny, "AZ", Shown},
        {"SpeedButton_Kelvin", "TSpeedButton", "TabSheet_FETControl", kAny, "Kelvin", Shown},
        {"SpeedButton_PotR", "TSpeedButton", "TabSheet_FETControl", kAny, "Pot. Fix", Shown},
        {"SpeedButton_3WAlt", "TSpeedButton", "TabSheet_FETControl", kAny, "3W Alt", Shown},
        {"SpeedButton_I400uA", "TSpeedButton", "TabSheet_FETControl", kAny, "I 400 uA", Shown},
        {"Shape_I400uAn", "QFrame", "TabSheet_FETControl", kAny, kNone, Shown},
        {"Shape_3WAltn", "QFrame", "TabSheet_FETControl", kAny, kNone, Shown},
        {"Shape_Azn", "QFrame", "TabSheet_FETControl", kAny, kNone, Shown},
        {"Shape_I400uA1", "QFrame", "TabSheet_FETControl", kAny, kNone, Hidden},
        {"Shape_I400uA2", "QFrame", "TabSheet_FETControl", kAny, kNone, Hidden},
        {"Shape_KelvinNeg", "QFrame", "TabSheet_FETControl", kAny, kNone, Hidden},
        {"Shape_Kelvin", "QFrame", "TabSheet_FETControl", kAny, kNone, Hidden},
        {"Shape_3WAlt", "QFrame", "TabSheet_FETControl", kAny, kNone, Hidden},
        {"Shape_Az", "QFrame", "TabSheet_FETControl", kAny, kNone, Hidden},
        {"Shape_3W", "QFrame", "TabSheet_FETControl", kAny, kNone, Hidden},
        {"Shape_PotR", "QFrame", "TabSheet_FETControl", kAny, kNone, Hidden},
        {"Label10", "QLabel", "TabSheet_FETControl", kAny, "Cycles:", Shown},
        {"Label_Cycles", "QLabel", "TabSheet_FETControl", kAny, "0", Shown},
        {"Label11", "QLabel", "TabSheet_FETControl", kAny, "ADC SPS:", Shown},
        {"Label_ADSamplesPs", "QLabel", "TabSheet_FETControl", kAny, "0", Shown},
        // System
        {"SpeedButton_FRAMTorlesReset", "TSpeedButton", "TabSheet_SystemInfo", kAny,
         "Teljes FRAM terület törlése (h'ff'-el feltöltés) -> Reset (mintha soha sem lett volna még bemérve)", Shown},
        {"SpeedButton_HomersekletMinMaxTorlese", "TSpeedButton", "TabSheet_SystemInfo", kAny,
         "Hőmérséklet minimum- és maximum értékek törlése", Shown},
        {"GroupBox_Errors", "QGroupBox", "TabSheet_SystemInfo", kAny, "Errors", Shown},
        {"Label_ErrorUncalibratedInput", "QLabel", "GroupBox_Errors", kAny, "Device input is uncalibrated", Hidden},
        {"Label_ErrorUncalibratedOutput", "QLabel", "GroupBox_Errors", kAny, "Device output is uncalibrated", Hidden},
        {"Label_ErrorFRAM", "QLabel", "GroupBox_Errors", kAny, "FRAM error", Hidden},
        {"Label_ErrorUncalibratedPotentiometer", "QLabel", "GroupBox_Errors", kAny, "Potentiometer is uncalibrated", Hidden},
        {"Label_ErrorADC", "QLabel", "GroupBox_Errors", kAny, "ADC error", Hidden},
        {"Label_ErrorWire", "QLabel", "GroupBox_Errors", kAny, "Sensor or wires error", Hidden},
        {"Label_ErrorInputSignal", "QLabel", "GroupBox_Errors", kAny, "Input range error", Hidden},
        {"Label_ErrorOutputRange", "QLabel", "GroupBox_Errors", kAny, "Output range error", Hidden},
        {"GroupBox5", "QGroupBox", "TabSheet_SystemInfo", kAny, "System variables", Shown},
        {"Label13", "QLabel", "GroupBox5", kAny, "PCB identity address:", Shown},
        {"Label_PCBIdentityAddress", "QLabel", "GroupBox5", kAny, "???", Shown},
    });

    const struct {
        QTabWidget* control;
        QStringList pages;
        QStringList captions; // empty: tabs hidden
    } controls[] = {
        {form->PageControl1, {"TabSheet_DeveloperTool", "TabSheet_Settings"}, {"Developer Tools", "Beállítások"}},
        {form->PageControl2,
         {"TabSheet_FETControl", "TabSheet_InputCalibration", "TabSheet_OutputCalibration", "TabSheet_SystemInfo"},
         {"FET Control", "Input Calibration", "Output Calibration", "System"}},
        {form->PageControl3,
         {"TabSheet_Step1", "TabSheet_Step2", "TabSheet_Step3", "TabSheet_Step5", "TabSheet_Step6", "TabSheet_Step7",
          "TabSheet_Step10", "TabSheet_Step11", "TabSheet_Step13", "TabSheet_Step15", "TabSheet_Step16",
          "TabSheet_Step17", "TabSheet_Step18", "TabSheet_Step19", "TabSheet_Step20", "TabSheet_Step21",
          "TabSheet_Step22", "TabSheet_Step23"},
         {}},
        {form->PageControl4,
         {"TabSheet_OutCalStep1", "TabSheet_OutCalStep2", "TabSheet_OutCalStep3", "TabSheet_OutCalStep4",
          "TabSheet_OutCalStep5", "TabSheet_OutCalStep6", "TabSheet_OutCalStep7"},
         {}},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.control->objectName().toStdString());
        QStringList pages, captions;
        for (int i = 0; i < c.control->count(); ++i) {
            pages << c.control->widget(i)->objectName();
            captions << c.control->tabText(i);
        }
        EXPECT_EQ(pages, c.pages);
        if (c.captions.isEmpty()) {
            EXPECT_TRUE(c.control->tabBar()->isHidden());
        } else {
            EXPECT_EQ(captions, InTestLanguage(c.captions));
        }
    }
}

TEST(Layout, CalibrationWizards) {
    auto form = MakeForm();
    CheckRows(*form, {
        {"Label_InputCalibrationTitle", "QLabel", "TabSheet_InputCalibration", kAny, "Input Calibration", Shown},
        {"PageControl3", "QTabWidget", "TabSheet_InputCalibration", QRect(8, 34, 465, 409), kNone, Shown},
        {"ListBox_Calibrated", "QListWidget", "TabSheet_InputCalibration", QRect(480, 34, 241, 401), kNone, Shown},
        {"SpeedButton_CalibrationNext", "TSpeedButton", "TabSheet_InputCalibration", kAny, kNone, Shown},
        {"Label_CalibrationNext", "QLabel", "TabSheet_InputCalibration", kAny, "Next", Shown},
        {"SpeedButton_CalibrationBack", "TSpeedButton", "TabSheet_InputCalibration", kAny, kNone, Hidden},
        {"Label_CalibrationBack", "QLabel", "TabSheet_InputCalibration", kAny, "Back", Hidden},
        {"Image_InputCalibrationOK", "QLabel", "TabSheet_InputCalibration", kAny, kNone, Hidden},
        {"Image_OutputCalibrationOK", "QLabel", "TabSheet_OutputCalibration", kAny, kNone, Hidden},
        {"Image_Step1", "QLabel", "TabSheet_Step1", kAny, kNone, Shown},
        {"Edit_ETALON_500", "QLineEdit", "TabSheet_Step7", kAny, "500", Shown},
        {"Label_ETALON_500", "QLabel", "TabSheet_Step7", kAny, "Value of R:", Shown},
        {"Edit_ETALON_5K", "QLineEdit", "TabSheet_Step11", kAny, "5000", Shown},
        {"Edit_ETALON_U", "QLineEdit", "TabSheet_Step22", kAny, "125", Shown},
        {"Label_ETALON_U", "QLabel", "TabSheet_Step22", kAny, "Value of Ucal.:", Shown},
        {"Label_ETALON_UUnit", "QLabel", "TabSheet_Step22", kAny, "[mV]", Shown},
        {"SpeedButton_WriteCalibrationToKV", "TSpeedButton", "TabSheet_Step23", kAny, "Write Calibration to KV7730", Shown},
        // Output calibration
        {"Label_OutputCalibrationTitle", "QLabel", "TabSheet_OutputCalibration", kAny, "Output Calibration", Shown},
        {"PageControl4", "QTabWidget", "TabSheet_OutputCalibration", QRect(8, 34, 489, 233), kNone, Shown},
        {"ListBox_OutputCalibrated", "QListWidget", "TabSheet_OutputCalibration", QRect(504, 34, 217, 401), kNone, Shown},
        {"SpeedButton_OutputCalibrationBack", "TSpeedButton", "TabSheet_OutputCalibration", kAny, kNone, Hidden},
        {"Label_OutputCalibrationBack", "QLabel", "TabSheet_OutputCalibration", kAny, "Back", Hidden},
        {"Label_OutputCalibrationNext", "QLabel", "TabSheet_OutputCalibration", kAny, "Next", Shown},
        {"SpeedButton_Test4mA", "TSpeedButton", "TabSheet_OutCalStep3", kAny, "4 mA", Shown},
        {"SpeedButton_Test12mA", "TSpeedButton", "TabSheet_OutCalStep3", kAny, "12 mA", Shown},
        {"SpeedButton_Test20mA", "TSpeedButton", "TabSheet_OutCalStep3", kAny, "20 mA", Shown},
        {"SpeedButton_Test2V", "TSpeedButton", "TabSheet_OutCalStep6", kAny, "2 V", Shown},
        {"SpeedButton_Test6V", "TSpeedButton", "TabSheet_OutCalStep6", kAny, "6 V", Shown},
        {"SpeedButton_Test10V", "TSpeedButton", "TabSheet_OutCalStep6", kAny, "10 V", Shown},
        {"SpeedButton_WriteOutputCalibrationToKV", "TSpeedButton", "TabSheet_OutCalStep7", kAny,
         "Write Calibration to KV7730", Shown},
        {"GroupBox_PWM", "QGroupBox", "TabSheet_OutputCalibration", QRect(8, 272, 489, 161), "PWM Value", Shown},
        {"Label_BeallitottPWM", "QLabel", "GroupBox_PWM", kAny, "00 000", Shown},
        {"GroupBox_PWMErtekValtoztatas", "QGroupBox", "GroupBox_PWM", kAny, "PWM Force", Shown},
        {"ProgressBar_OutputCalibration", "QProgressBar", "GroupBox_PWM", kAny, kNone, Hidden},
        {"TrackBar_PWM", "QSlider", "GroupBox_PWMErtekValtoztatas", kAny, kNone, Shown},
        {"Button_Out0", "QPushButton", "GroupBox_PWMErtekValtoztatas", kAny, "0", Shown},
        {"Button_OutVegertek", "QPushButton", "GroupBox_PWMErtekValtoztatas", kAny, "F", Shown},
        {"Button_IM10000", "QPushButton", "GroupBox_PWMErtekValtoztatas", kAny, "-10 000", Shown},
        {"Button_IM1", "QPushButton", "GroupBox_PWMErtekValtoztatas", kAny, "-1", Shown},
        {"Button_IP1", "QPushButton", "GroupBox_PWMErtekValtoztatas", kAny, "+1", Shown},
        {"Button_IP10000", "QPushButton", "GroupBox_PWMErtekValtoztatas", kAny, "+10 000", Shown},
    });
    // The step captions, blanks included.
    const QStringList steps = {
        "Step 1/23: Offset for 4 wires, 500 ohm mode", "Step 2/23: Offset for 4 wires, 5k ohm mode",
        "Step 3/23: Offset for 3 wires, 500 ohm mode", "Step 5/23: Offset for 3 wires, 5k ohm mode",
        "Step 6/23: Full Scale for 3 wires, 500  ohm mode", "Step 7/23: Full Scale for 3 wires, 500  ohm mode /B",
        "Step 10/23: Full Scale for 3 wires, 5k ohm mode", "Step 11/23: Full Scale for 3 wires, 5k ohm mode /BC",
        "Step 13/23: Full Scale for 2 wires, 500  ohm mode", "Step 15/23: Full Scale for 2 wires, 500  ohm mode /D",
        "Step 16/23: Full Scale for 2 wires, 5k ohm mode", "Step 17/23: Full Scale for 2 wires, 5k ohm mode /D",
        "Step 18/23: Full Scale for 4 wires, 500  ohm mode", "Step 19/23: Full Scale for 4 wires, 5k ohm mode",
        "Step 20/23: Offset for thermo-couple", "Step 21/23: Auto zero for thermo-couple",
        "Step 22/23: Uref measurement for thermo-couple", "Step 23/23: Write Calibration to KV7730"};
    ASSERT_EQ(form->PageControl3->count(), steps.size());
    for (int i = 0; i < steps.size(); ++i) {
        bool found = false;
        for (QLabel* l : form->PageControl3->widget(i)->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
            found = found || l->text() == steps[i];
        EXPECT_TRUE(found) << steps[i].toStdString();
    }
    const QStringList outSteps = {
        "Step 1/7: Change the PWM value until Iout = 4 mA", "Step 2/7: Change the PWM value until Iout = 20 mA",
        "Step 3/7: Check the accuracy of current", "Step 4/7: Change the PWM value until Uout = 2 V",
        "Step 5/7: Change the PWM value until Uout = 10 V", "Step 6/7: Check the accuracy of voltage",
        "Step 7/7: Write Calibration to KV7730"};
    ASSERT_EQ(form->PageControl4->count(), outSteps.size());
    for (int i = 0; i < outSteps.size(); ++i)
        EXPECT_EQ(form->findChild<QLabel*>(QStringLiteral("Label_OutCalStep%1").arg(i + 1))->text(), outSteps[i]);
    EXPECT_EQ(form->TrackBar_PWM->maximum(), 100);
    EXPECT_EQ(form->TrackBar_PWM->pageStep(), 10);
    EXPECT_EQ(form->ProgressBar_OutputCalibration->maximum(), 100);
}

TEST(Layout, ToggleButtonsGroupsAndStartStates) {
    auto form = MakeForm();
    const struct {
        TSpeedButton* button;
        int group;
        bool allowAllUp;
        bool down;
    } rows[] = {
        {form->SpeedButton_ReadSettingsFromInstrument, 1, true, true},
        {form->SpeedButton_ReadFactoryDefaultsFromInstrument, 1, true, false},
        {form->SpeedButton_WriteSettingsToInstrument, 1, true, false},
        {form->SpeedButton_OpenSettingsFile, 1, true, false},
        {form->SpeedButton_SaveSettingsToFile, 1, true, false},
        {form->SpeedButton_Rof2Wire, 1, true, false},
        {form->SpeedButton_ResetOf2Wire, 1, true, false},
        {form->SpeedButton_Pot0, 1, true, false},
        {form->SpeedButton_Pot100, 1, true, false},
        {form->SpeedButton_PotDefault, 1, true, false},
        {form->SpeedButton_Reset, 1, true, false},
        {form->SpeedButton_FRAMTorlesReset, 1, true, false},
        {form->SpeedButton_HomersekletMinMaxTorlese, 1, true, false},
        {form->SpeedButton_WriteCalibrationToKV, 8, true, false},
        {form->SpeedButton_WriteOutputCalibrationToKV, 2, true, false},
        {form->SpeedButton_Test4mA, 1, false, false},
        {form->SpeedButton_Test12mA, 1, false, true},
        {form->SpeedButton_Test20mA, 1, false, false},
        {form->SpeedButton_Test2V, 1, false, false},
        {form->SpeedButton_Test6V, 1, false, true},
        {form->SpeedButton_Test10V, 1, false, false},
        {form->SpeedButton_CalibrationNext, 0, false, false},
        {form->SpeedButton_OutputCalibrationNext, 0, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.button->objectName().toStdString());
        EXPECT_EQ(r.button->GroupIndex(), r.group);
        EXPECT_EQ(r.button->AllowAllUp(), r.allowAllUp);
        EXPECT_EQ(r.button->Down(), r.down);
    }
    // The FET page's switches each toggle alone: no two share a group.
    QList<int> groups;
    for (TSpeedButton* b : form->TabSheet_FETControl->findChildren<TSpeedButton*>()) {
        EXPECT_TRUE(b->AllowAllUp()) << b->objectName().toStdString();
        EXPECT_FALSE(groups.contains(b->GroupIndex())) << b->objectName().toStdString();
        groups << b->GroupIndex();
    }
    EXPECT_EQ(groups.size(), 7);
}

TEST(Layout, FontsInPixels) {
    auto form = MakeForm();
    const struct {
        QWidget* w;
        int pixels;
        bool bold;
    } rows[] = {
        {form.get(), 11, false},
        {form->Label3, 16, true},
        {form->Label_KeszulekAltipus, 16, true},
        {form->Label_fSzamitottErtek, 64, false},
        {form->Label_CJCTemp, 21, false},
        {form->Label_FizikaiErtek, 21, false},
        {form->Label_OutputPercent, 21, false},
        {form->Label_Status, 11, true},
        {form->Label_ADCH0Present, 16, true},
        {form->Label_AuCH0, 16, true},
        {form->Label_BeallitottPWM, 32, true},
        {form->ListBox_Calibrated, 13, true},
        {form->ListBox_OutputCalibrated, 13, true},
        {form->RadioGroup_Mode, 11, false},
        {form->Edit_FizikaiForOutL, 11, false},
        {form->SpeedButton_WriteSettingsToInstrument, 11, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.w->objectName().toStdString());
        EXPECT_EQ(r.w->font().pixelSize(), r.pixels);
        EXPECT_EQ(r.w->font().bold(), r.bold);
        EXPECT_EQ(r.w->font().family(), QStringLiteral("Arial"));
    }
    // Status and channel alarms: white on red.
    for (QLabel* l : {form->Label_Status, form->Label_ADCH0Underflow, form->Label_ADCH1Overrflow}) {
        EXPECT_EQ(l->palette().color(QPalette::Window), QColor(255, 0, 0)) << l->objectName().toStdString();
        EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(255, 255, 255)) << l->objectName().toStdString();
        EXPECT_TRUE(l->autoFillBackground());
    }
}

TEST(Layout, BarGraphsAsConfigured) {
    auto form = MakeForm();
    const struct {
        TMBarGraph* bar;
        double value;
    } rows[] = {{form->MBarGraph_ADCH0, 0.1}, {form->MBarGraph_ADCH1, 0.5}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bar->objectName().toStdString());
        EXPECT_EQ(r.bar->MBGOrientation(), orientationHorizontal);
        EXPECT_EQ(r.bar->MBGMode(), modeSigned);
        EXPECT_EQ(r.bar->MBGMinusColorAt0(), QColor(Qt::white));
        EXPECT_EQ(r.bar->MBGMinusColorAt1(), QColor(Qt::blue));
        EXPECT_EQ(r.bar->MBGPlusColorAt0(), QColor(Qt::white));
        EXPECT_EQ(r.bar->MBGPlusColorAt1(), QColor(Qt::red));
        EXPECT_FALSE(r.bar->MBGShowText());
        EXPECT_FALSE(r.bar->MBGInverseText());
        EXPECT_EQ(r.bar->MBGTextPosition(), tpAuto);
        EXPECT_EQ(r.bar->MBGDecimals(), 0);
        EXPECT_DOUBLE_EQ(r.bar->MBGValue(), r.value);
        EXPECT_EQ(r.bar->size(), QSize(497, 17));
    }
}

// The switch buttons and marks stand where the schematic draws their switches.
TEST(Layout, SwitchControlsLieOnTheSchematic) {
    auto form = MakeForm();
    const QPoint origin = form->Image1->pos();
    EXPECT_EQ(form->Image1->size(), QSize(593, 433));
    auto check = [&](const auto& table) {
        for (const auto& place : table) {
            auto* w = form->TabSheet_FETControl->findChild<QWidget*>(QString::fromLatin1(place.objectName));
            ASSERT_NE(w, nullptr) << place.objectName;
            EXPECT_EQ(w->geometry(), place.rect.translated(origin)) << place.objectName;
        }
    };
    check(kv::pictures::kSchematicButtons);
    check(kv::pictures::kSchematicMarks);
}

TEST(Layout, PicturesAppearWhenTheirPageIsShown) {
    auto form = MakeForm();
    form->PageControl1->show();
    form->PageControl1->setCurrentWidget(form->TabSheet_DeveloperTool);
    form->show();
    EXPECT_FALSE(form->Image1->pixmap().isNull());
    // Not yet decoded: the step page is not shown.
    EXPECT_TRUE(form->Image_Step2->pixmap().isNull());
    form->PageControl2->setCurrentWidget(form->TabSheet_InputCalibration);
    form->PageControl3->setCurrentWidget(form->TabSheet_Step2);
    EXPECT_EQ(form->Image_Step2->pixmap().size(), QSize(350, 351));
    EXPECT_FALSE(form->SpeedButton_CalibrationNext->icon().isNull());
}

// Every caption fits its control in the window's own fonts: nothing is cut
// off, on any page, whether shown at start or not.
TEST(Layout, NoCaptionIsClipped) {
    auto form = MakeForm();
    TForm1 form1;
    std::vector<QWidget*> all;
    for (QWidget* root : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(&form1)})
        for (QWidget* w : root->findChildren<QWidget*>())
            if (!w->objectName().startsWith(QLatin1String("Image")) && !qobject_cast<TMB*>(w->parentWidget()) &&
                !qobject_cast<TMB*>(w))
                all.push_back(w);
    int checked = 0;
    for (QWidget* w : all) {
        if (const auto why = apptest::Clipped(w))
            ADD_FAILURE() << *why;
        if (!apptest::FittedCaption(w).isEmpty())
            ++checked;
    }
    EXPECT_GT(checked, 200);
}

TEST(Layout, SecondFormIsBuiltAndHidden) {
    TForm1 form1;
    EXPECT_EQ(form1.objectName(), QStringLiteral("Form1"));
    EXPECT_FALSE(form1.isVisible());
    QStringList captions;
    for (TSpeedButton* b : form1.findChildren<TSpeedButton*>())
        captions << b->text();
    EXPECT_EQ(captions, (QStringList{"3W", "AZ", "RANGE", "POTR", "3W ALT", "I 400 uA"}));
}

} // namespace
