// Pictures of the window for a person to look at: every page once, with and
// without developer access. Runs only when KV_SCREENSHOT_DIR names a folder.
#include "Main.h"
#include "Piszkozat.h"
#include "SpeedButton.h"
#include "WindowFit.h"
#include "status_support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

class Screenshots : public ::testing::Test {
protected:
    void SetUp() override {
        dir = qEnvironmentVariable("KV_SCREENSHOT_DIR");
        if (dir.isEmpty())
            GTEST_SKIP() << "set KV_SCREENSHOT_DIR to write the pictures";
        QDir().mkpath(dir);
    }
    std::unique_ptr<TForm_Main> Form(bool developer) {
        TFormMainOptions o;
        o.IniFileName = ini.path() + QStringLiteral("/kvsetup.ini");
        if (developer)
            o.Parameters << QStringLiteral("/QORMIX");
        auto form = std::make_unique<TForm_Main>(o);
        form->show();
        form->FormActivate();
        return form;
    }
    // What a device that answers shows.
    static void Answering(TForm_Main& f) {
        f.PageControl1->show();
        f.GroupBox_SystemData->show();
        f.GroupBox_Status->show();
    }
    void Shot(QWidget& w, const char* name) {
        QApplication::processEvents();
        const QString file = dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
        EXPECT_TRUE(w.grab().save(file)) << file.toStdString();
    }
    QString dir;
    QTemporaryDir ini;
};

TEST_F(Screenshots, WithoutDeveloperAccess) {
    auto f = Form(false);
    Shot(*f, "01_start_no_device");
    Answering(*f);
    Shot(*f, "02_settings_answering");
    // Resistance input on 2 wires: the wiring group and the wire resistance.
    f->RadioGroup_Wires->show();
    f->RadioGroup_Wires->setItemIndex(0);
    f->GroupBox_Rof2Wire->show();
    Shot(*f, "03_settings_resistance_2wire");
    // Thermocouple with an external cold-junction sensor.
    f->RadioGroup_Mode->setItemIndex(2);
    f->RadioGroup_Wires->hide();
    f->RadioGroup_TCType->show();
    f->RadioGroup_CJC->show();
    f->RadioGroup_CJC->setItemIndex(1);
    f->GroupBox_Rof2Wire->move(304, 257);
    f->GroupBox_CJCTemp->show();
    Shot(*f, "04_settings_thermocouple");
    // Potentiometer.
    f->RadioGroup_Mode->setItemIndex(3);
    f->RadioGroup_TCType->hide();
    f->RadioGroup_CJC->hide();
    f->GroupBox_Rof2Wire->hide();
    f->GroupBox_CJCTemp->hide();
    f->RadioGroup_Wires->show();
    f->GroupBox_PotCal->show();
    Shot(*f, "05_settings_potentiometer");
}

TEST_F(Screenshots, SettingsAfterLoad) {
    auto f = Form(false);
    Answering(*f);
    // Thermocouple J with an external Pt1000, 0-10 V, high error level.
    const QString file = ini.path() + QStringLiteral("/bench.kvs");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("[Header]\r\nKV=KV5510/KV7730\r\n[Settings]\r\nRadioGroup_Mode=2\r\nRadioGroup_Wires=2\r\n"
              "RadioGroup_TCType=2\r\nRadioGroup_CJC=1\r\nRadioGroup_RefreshTime=0\r\nRadioGroup_OutputMode=2\r\n"
              "RadioButton_ErrorLow=0\r\nRadioButton_ErrorHigh=1\r\nCheckBox_DisableErrorSignal=0\r\n"
              "Edit_FizikaiForOutL=-50,0\r\nEdit_FizikaiForOutH=450,0\r\n[Date]\r\nDate=2026. 12. 07.\r\n");
    out.close();
    f->ChooseSettingsFile = [&](QFileDialog*) { return file; };
    f->SpeedButton_OpenSettingsFile->Click();
    Shot(*f, "06_settings_after_load");
}

TEST_F(Screenshots, WithDeveloperAccess) {
    auto f = Form(true);
    Answering(*f);
    Shot(*f, "10_dev_settings");
    f->PageControl1->setCurrentWidget(f->TabSheet_DeveloperTool);
    for (QLabel* l : {f->Label_ADCH0Underflow, f->Label_ADCH0Overrflow, f->Label_ADCH1Underflow,
                      f->Label_ADCH1Overrflow})
        l->show();
    Shot(*f, "11_dev_fet_control");
    f->PageControl2->setCurrentWidget(f->TabSheet_InputCalibration);
    Shot(*f, "12_dev_input_step1");
    f->SpeedButton_CalibrationBack->show();
    f->Label_CalibrationBack->show();
    for (int i = 0; i < 3; ++i)
        f->ListBox_Calibrated->addItem(QStringLiteral("RREF_500_3W = 250,00 ohm"));
    const struct {
        QWidget* page;
        const char* name;
    } steps[] = {{f->TabSheet_Step7, "13_dev_input_step7"},
                 {f->TabSheet_Step11, "14_dev_input_step11"},
                 {f->TabSheet_Step22, "15_dev_input_step22"},
                 {f->TabSheet_Step23, "16_dev_input_step23"}};
    for (const auto& s : steps) {
        f->PageControl3->setCurrentWidget(s.page);
        Shot(*f, s.name);
    }
    f->PageControl2->setCurrentWidget(f->TabSheet_OutputCalibration);
    Shot(*f, "17_dev_output_step1");
    f->PageControl4->setCurrentWidget(f->TabSheet_OutCalStep3);
    f->GroupBox_PWMErtekValtoztatas->hide();
    f->ProgressBar_OutputCalibration->show();
    f->ProgressBar_OutputCalibration->setValue(50);
    f->SpeedButton_OutputCalibrationBack->show();
    f->Label_OutputCalibrationBack->show();
    Shot(*f, "18_dev_output_step3");
    f->PageControl4->setCurrentWidget(f->TabSheet_OutCalStep7);
    f->GroupBox_PWM->hide();
    f->SpeedButton_OutputCalibrationNext->hide();
    f->Label_OutputCalibrationNext->hide();
    Shot(*f, "19_dev_output_step7");
    f->PageControl2->setCurrentWidget(f->TabSheet_SystemInfo);
    for (QLabel* l : f->GroupBox_Errors->findChildren<QLabel*>())
        l->show();
    Shot(*f, "20_dev_system");
}

// What the window writes at run time: the status display with a healthy
// and with an uncalibrated device, both wizards' logs after Next, a file
// dialog and an error message (run with KV_TEST_LANGUAGE=en for English).
TEST_F(Screenshots, LiveTextsAndDialogs) {
    auto f = Form(true);
    Answering(*f);
    kv::PollAnswer a = statustest::GoodAnswer();
    a.WorkingTime = 2 * 1440 + 61;
    a.RAM2DataSource = 4; // the factory's
    f->DecodePollAnswer(a);
    Shot(*f, "40_status_healthy");
    a.CalibrationFlags = 0;
    a.CalibrationYear = 0;
    a.InternalTemperature = -300.0f;
    a.StatusCode = 4;
    f->DecodePollAnswer(a);
    Shot(*f, "41_status_uncalibrated");
    f->PageControl1->setCurrentWidget(f->TabSheet_DeveloperTool);
    f->PageControl2->setCurrentWidget(f->TabSheet_InputCalibration);
    for (int i = 0; i < 3; ++i)
        f->SpeedButton_CalibrationNext->Click();
    Shot(*f, "42_dev_input_log");
    f->PageControl2->setCurrentWidget(f->TabSheet_OutputCalibration);
    f->SpeedButton_OutputCalibrationNext->Click();
    f->SpeedButton_OutputCalibrationNext->Click();
    Shot(*f, "43_dev_output_log");
    f->PageControl1->setCurrentWidget(f->TabSheet_Settings);
    f->RadioGroup_OutputMode->setItemIndex(3);
    Shot(*f, "44_settings_output_2_10V");
    f->ChooseSettingsFile = [&](QFileDialog* dialog) {
        dialog->resize(700, 450);
        dialog->show();
        Shot(*dialog, "45_save_dialog");
        dialog->hide();
        // The save fails: the message box waits in its own loop.
        QTimer::singleShot(0, [&] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                Shot(*box, "46_message_box");
                box->close();
            }
        });
        return ini.path() + QStringLiteral("/no/such/folder/x.kvs");
    };
    f->SpeedButton_SaveSettingsToFile->Click();
    std::printf("window title: %s\n", f->windowTitle().toUtf8().constData());
}

TEST_F(Screenshots, SecondForm) {
    TForm1 form1;
    form1.show();
    Shot(form1, "30_form1");
}

} // namespace

// Pressed buttons as the screen shows them: the window fitted to the screen
// it is shown on (try a small screen with a scale factor), the settings page
// with pending requests and the switch schematic with forced switches; each
// once as the whole screen and once as the window.
TEST_F(Screenshots, PressedButtonsOnTheScreen) {
    auto f = Form(true);
    Answering(*f);
    f->GroupBox_ReadWriteDevice->show();
    f->GroupBox_FileOperations->show();
    f->RadioGroup_Mode->setItemIndex(3);
    f->GroupBox_PotCal->show();
    f->RadioGroup_Wires->show();
    f->SpeedButton_WriteSettingsToInstrument->setDown(true);
    f->SpeedButton_Pot0->setDown(true);
    f->SpeedButton_Reset->setDown(true);
    auto screen = [&](const char* name) {
        QApplication::processEvents();
        if (QScreen* s = f->screen()) {
            EXPECT_TRUE(s->grabWindow(0).save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png")));
        }
    };
    screen("30_screen_settings_pressed");
    // Scrolled to the far corner, where the write button and Close stand.
    f->WindowScroller()->EnsureVisible(QPoint(999, 707));
    screen("31_screen_settings_pressed_scrolled");
    f->WindowScroller()->EnsureVisible(QPoint(0, 0));
    Shot(*f, "32_window_settings_pressed");
    f->PageControl1->setCurrentWidget(f->TabSheet_DeveloperTool);
    f->PageControl2->setCurrentWidget(f->TabSheet_FETControl);
    for (TSpeedButton* b : {f->SpeedButton_FETForceControl, f->SpeedButton_3W, f->SpeedButton_Kelvin,
                            f->SpeedButton_I400uA})
        b->setDown(true);
    screen("33_screen_fet_forced");
    Shot(*f, "34_window_fet_forced");
}
