// TForm_Main: the input calibration wizard's pages. What a step computes and
// logs is kv::incal's (InputCalibrationWizard.h); here the pages present it:
// the reference edits, the log list, the page moves with Next and Back, and
// the write button of the last page. The wizard keeps its page and values
// when the operator leaves it; only Next and Back move it.
#include "Main.h"

#include "CalibrationLog.h"
#include "KeyPressFilter.h"
#include "NumberPicture.h"
#include "SpeedButton.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>

namespace incal = kv::incal;

void TForm_Main::SetupInputCalibration() {
    SpeedButton_CalibrationNext->OnClick = [this] { SpeedButton_CalibrationNextClick(); };
    SpeedButton_CalibrationBack->OnClick = [this] { SpeedButton_CalibrationBackClick(); };
    SpeedButton_WriteCalibrationToKV->OnClick = [this] { SpeedButton_WriteCalibrationToKVClick(); };
    new TKeyPressFilter(Edit_ETALON_500, [this](QChar& key) { Edit_ETALON_500KeyPress(key); });
    new TKeyPressFilter(Edit_ETALON_5K, [this](QChar& key) { Edit_ETALON_5KKeyPress(key); });
    new TKeyPressFilter(Edit_ETALON_U, [this](QChar& key) { Edit_ETALON_UKeyPress(key); });
    for (QLineEdit* edit : {Edit_ETALON_500, Edit_ETALON_5K, Edit_ETALON_U})
        edit->setAutoFillBackground(true);
    ShowErrorMessage = [this](const QString& text) {
        QMessageBox::critical(this, QApplication::applicationDisplayName(), text, QMessageBox::Ok);
    };
}

void TForm_Main::Edit_ETALON_500KeyPress(QChar& Key) { Key = MapDecimalMark(Key); }
void TForm_Main::Edit_ETALON_5KKeyPress(QChar& Key) { Key = MapDecimalMark(Key); }
void TForm_Main::Edit_ETALON_UKeyPress(QChar& Key) { Key = MapDecimalMark(Key); }

std::size_t TForm_Main::InputCalibrationStep() const {
    const QString page = PageControl3->currentWidget() ? PageControl3->currentWidget()->objectName() : QString();
    for (std::size_t i = 0; i < incal::kSteps.size(); ++i)
        if (page == QLatin1String(incal::kSteps[i].Page))
            return i;
    return 0;
}

bool TForm_Main::ReadReferenceEdit(incal::TReference ref) {
    QLineEdit* edit = ref == incal::ref500 ? Edit_ETALON_500 : ref == incal::ref5K ? Edit_ETALON_5K : Edit_ETALON_U;
    double value = 0;
    QPalette palette = edit->palette();
    if (!kv::ParseDecimal(edit->text().toStdString(), value)) {
        palette.setColor(QPalette::Base, Qt::red);
        edit->setPalette(palette);
        edit->setFocus();
        return false;
    }
    palette.setColor(QPalette::Base, QApplication::palette(edit).color(QPalette::Base));
    edit->setPalette(palette);
    incal::StoreReference(ref, value, InputCalibration);
    return true;
}

void TForm_Main::SpeedButton_CalibrationNextClick() {
    const std::size_t step = InputCalibrationStep();
    if (step >= incal::kLastStep)
        return;
    const incal::TReference ref = incal::kSteps[step].Reference;
    if (ref != incal::refNone && !ReadReferenceEdit(ref))
        return;
    // The averages of the last good poll answer.
    const incal::TStepOutcome outcome = incal::Next(step, ADCH0Average, ADCH1Average, InputCalibration);
    for (const incal::TLogLine& line : outcome.Lines)
        AddCalibrationLogLine(ListBox_Calibrated, QString::fromStdString(line.Text), line.Separator);
    if (outcome.Failure != incal::failNone) {
        if (ShowErrorMessage)
            ShowErrorMessage(QString::fromLatin1(incal::FailureText(outcome.Failure)));
        return;
    }
    if (step == 0) {
        SpeedButton_CalibrationBack->show();
        Label_CalibrationBack->show();
    }
    if (step + 1 == incal::kLastStep) {
        SpeedButton_CalibrationNext->hide();
        Label_CalibrationNext->hide();
        // Every coefficient has now been measured: this is what a write sends.
        InputCalibrationToWrite = InputCalibration.Record();
        InputCalibrationComputed = true;
    }
    PageControl3->setCurrentIndex(PageControl3->indexOf(findChild<QWidget*>(incal::kSteps[step + 1].Page)));
}

void TForm_Main::SpeedButton_CalibrationBackClick() {
    const std::size_t step = InputCalibrationStep();
    if (step == 0)
        return;
    RemoveCalibrationLogLines(ListBox_Calibrated, incal::kSteps[step - 1].LinesAdded);
    if (step == 1) {
        SpeedButton_CalibrationBack->hide();
        Label_CalibrationBack->hide();
    }
    if (step == incal::kLastStep) {
        SpeedButton_CalibrationNext->show();
        Label_CalibrationNext->show();
        SpeedButton_WriteCalibrationToKV->setDown(false);
    }
    PageControl3->setCurrentIndex(PageControl3->indexOf(findChild<QWidget*>(incal::kSteps[step - 1].Page)));
}

void TForm_Main::SpeedButton_WriteCalibrationToKVClick() {
    // Before the wizard has measured anything the poll cycle's guard
    // releases the press unsent.
    if (!SpeedButton_WriteCalibrationToKV->Down() || !InputCalibrationComputed)
        return;
    // A coefficient that is not a number, or a reference resistance or
    // voltage of 0 or below, would leave the device measuring nonsense for
    // good: the press is taken back and the operator told which and why.
    const std::vector<std::string> bad = incal::UnwritableFields(InputCalibrationToWrite);
    if (bad.empty())
        return;
    SpeedButton_WriteCalibrationToKV->setDown(false);
    QString text = QStringLiteral("The calibration is not written to the device:");
    for (const std::string& b : bad)
        text += QStringLiteral("\n  ") + QString::fromStdString(b);
    text += QStringLiteral("\nGo back to the step that measures it, check the connection and the reference value, "
                           "and press Next again.");
    if (ShowErrorMessage)
        ShowErrorMessage(text);
}
