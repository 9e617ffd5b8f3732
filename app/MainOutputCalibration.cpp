// TForm_Main: the output calibration wizard's page. The rules (steps, value
// arithmetic, log lines) are in OutputCalibrationWizard; here they are bound
// to the controls. The page forces the output only through the poll, and only
// while it is shown (PollPWMValue).
#include "Main.h"

#include "CalibrationLog.h"
#include "OutputCalibrationWizard.h"
#include "SpeedButton.h"

#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <array>

namespace oc = kv::outcal;

namespace {

void Show(QWidget* w, oc::TShow how) {
    if (how != oc::showUnchanged)
        w->setVisible(how == oc::showShown);
}

} // namespace

void TForm_Main::SetupOutputCalibration() {
    const struct {
        QPushButton* button;
        void (TForm_Main::*click)();
    } values[] = {
        {Button_IM10000, &TForm_Main::Button_IM10000Click}, {Button_IM1000, &TForm_Main::Button_IM1000Click},
        {Button_IM100, &TForm_Main::Button_IM100Click},     {Button_IM10, &TForm_Main::Button_IM10Click},
        {Button_IM1, &TForm_Main::Button_IM1Click},         {Button_IP1, &TForm_Main::Button_IP1Click},
        {Button_IP10, &TForm_Main::Button_IP10Click},       {Button_IP100, &TForm_Main::Button_IP100Click},
        {Button_IP1000, &TForm_Main::Button_IP1000Click},   {Button_IP10000, &TForm_Main::Button_IP10000Click},
        {Button_Out0, &TForm_Main::Button_Out0Click},       {Button_OutVegertek, &TForm_Main::Button_OutVegertekClick},
    };
    for (const auto& v : values)
        connect(v.button, &QPushButton::clicked, this, [this, click = v.click] { (this->*click)(); });
    const std::array<void (TForm_Main::*)(), oc::tpCount> tests = {
        &TForm_Main::SpeedButton_Test4mAClick, &TForm_Main::SpeedButton_Test12mAClick,
        &TForm_Main::SpeedButton_Test20mAClick, &TForm_Main::SpeedButton_Test2VClick,
        &TForm_Main::SpeedButton_Test6VClick,  &TForm_Main::SpeedButton_Test10VClick,
    };
    for (int i = 0; i < oc::tpCount; ++i)
        TestButton(static_cast<oc::TTestPoint>(i))->OnClick = [this, click = tests[i]] { (this->*click)(); };
    connect(TrackBar_PWM, &QSlider::valueChanged, this, [this] { TrackBar_PWMChange(); });
    SpeedButton_OutputCalibrationNext->OnClick = [this] { SpeedButton_OutputCalibrationNextClick(); };
    SpeedButton_OutputCalibrationBack->OnClick = [this] { SpeedButton_OutputCalibrationBackClick(); };
}

TSpeedButton* TForm_Main::TestButton(oc::TTestPoint point) const {
    TSpeedButton* const buttons[oc::tpCount] = {SpeedButton_Test4mA, SpeedButton_Test12mA, SpeedButton_Test20mA,
                                                SpeedButton_Test2V,  SpeedButton_Test6V,   SpeedButton_Test10V};
    return buttons[point];
}

std::int32_t& TForm_Main::StoredPWM(oc::TStoredPWM which) {
    std::int32_t* stored[oc::stCount] = {&PWMForIL, &PWMForIH, &PWMForUL, &PWMForUH};
    return *stored[which];
}

void TForm_Main::ShowPWMValue() {
    Label_BeallitottPWM->setText(QString::fromStdString(oc::PWMText(PWMValue)));
    const int bar = oc::BarPosition(PWMValue);
    // Not under the operator's hand while they move it.
    if (!TrackBar_PWM->hasFocus())
        TrackBar_PWM->setValue(bar);
    ProgressBar_OutputCalibration->setValue(bar);
    PWMForceValue = oc::ForceValue(PWMValue);
}

void TForm_Main::TrackBar_PWMChange() {
    // Only the operator's moves count: ShowPWMValue places the bar too, and
    // that must not round the value to the bar's hundred steps.
    if (!TrackBar_PWM->hasFocus())
        return;
    PWMValue = oc::PWMForBarPosition(TrackBar_PWM->value());
    ShowPWMValue();
}

void TForm_Main::OutputValueButtonClick(oc::TValueButton button) {
    PWMValue = oc::ApplyValueButton(PWMValue, button);
    ShowPWMValue();
}

void TForm_Main::OutputTestButtonClick(oc::TTestPoint point) {
    // Only the button that is down forces its value.
    if (!TestButton(point)->Down())
        return;
    const std::array<std::int32_t, oc::stCount> stored = {PWMForIL, PWMForIH, PWMForUL, PWMForUH};
    PWMValue = oc::TestValue(point, stored);
    ShowPWMValue();
}

void TForm_Main::UpdateOutputCalibrationPage() {
    const int step = PageControl4->currentIndex();
    if (step < 0 || step >= oc::kStepCount)
        return;
    const oc::TStepRule& r = oc::kSteps[step];
    SpeedButton_OutputCalibrationNext->setVisible(r.next);
    Label_OutputCalibrationNext->setVisible(r.next);
    SpeedButton_OutputCalibrationBack->setVisible(r.back);
    Label_OutputCalibrationBack->setVisible(r.back);
    Show(GroupBox_PWMErtekValtoztatas, r.valueGroup);
    Show(ProgressBar_OutputCalibration, r.progress);
    GroupBox_PWM->setVisible(r.pwmGroup);
    if (r.stored != oc::stNone) {
        PWMValue = StoredPWM(r.stored);
        ShowPWMValue();
    } else if (r.test != oc::tpNone) {
        TSpeedButton* test = TestButton(r.test);
        test->setDown(true);
        if (test->OnClick)
            test->OnClick();
    }
    if (step == 0)
        ListBox_OutputCalibrated->clear();
}

void TForm_Main::RestartOutputCalibration() {
    // A new run starts from the stored values of the last one, so a write
    // still pending sends what it was pressed for until a Next changes one of
    // them (SpeedButton_OutputCalibrationNextClick withdraws it then).
    PageControl4->setCurrentWidget(TabSheet_OutCalStep1);
    UpdateOutputCalibrationPage();
}

void TForm_Main::SpeedButton_OutputCalibrationNextClick() {
    const int step = PageControl4->currentIndex();
    if (step < 0 || step + 1 >= oc::kStepCount)
        return;
    const oc::TStepRule& r = oc::kSteps[step];
    // A pending write must not send a record that mixes two runs: a value
    // that changes under it withdraws it. The note goes before the step's
    // lines, so that Back, which takes those away, leaves it.
    if (r.stored != oc::stNone && StoredPWM(r.stored) != PWMForceValue &&
        SpeedButton_WriteOutputCalibrationToKV->Down()) {
        SpeedButton_WriteOutputCalibrationToKV->setDown(false);
        AddCalibrationLogLine(ListBox_OutputCalibrated, QString::fromUtf8(oc::kWriteWithdrawnLine), false);
    }
    // The value stored is the one the output was forced with, never 0.
    if (r.stored != oc::stNone)
        StoredPWM(r.stored) = PWMForceValue;
    for (const oc::TLogLine& line : oc::NextLogLines(step, PWMForceValue))
        AddCalibrationLogLine(ListBox_OutputCalibrated, QString::fromStdString(line.text), line.separator);
    PageControl4->setCurrentIndex(step + 1);
    if (step + 1 == oc::kStepCount - 1)
        OutputCalibrationComputed = true;
    UpdateOutputCalibrationPage();
}

void TForm_Main::SpeedButton_OutputCalibrationBackClick() {
    const int step = PageControl4->currentIndex();
    if (step <= 0 || step >= oc::kStepCount)
        return;
    RemoveCalibrationLogLines(ListBox_OutputCalibrated, oc::BackLogLineCount(step));
    PageControl4->setCurrentIndex(step - 1);
    UpdateOutputCalibrationPage();
}
