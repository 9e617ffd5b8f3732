// The input calibration wizard: its arithmetic and log lines as plain code,
// and its pages in the window against the in-process device, which a run of
// the wizard really calibrates.
#include "InputCalibrationConnections.h"
#include "InputCalibrationWizard.h"
#include "poll_support.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include <cmath>
#include <cstring>
#include <limits>

using namespace polltest;
namespace incal = kv::incal;

namespace {

std::size_t Index(int number) {
    for (std::size_t i = 0; i < incal::kSteps.size(); ++i)
        if (incal::kSteps[i].Number == number)
            return i;
    ADD_FAILURE() << "no step " << number;
    return 0;
}

std::vector<std::string> Texts(const incal::TStepOutcome& out) {
    std::vector<std::string> t;
    for (const auto& l : out.Lines)
        t.push_back(l.Text);
    return t;
}

std::string Count(std::int32_t v) { return kv::FormatPicture(v, "# ### ##0"); }

} // namespace

// ------------------------------------------------------------ arithmetic --

TEST(InputCalibrationWizard, CoefficientsAndTheirLinesWithEitherSeparator) {
    for (char sep : {'.', ','}) {
        TSeparator guard(sep);
        const std::string s(1, sep);
        incal::TValues v;
        // Step 7: d = 1000 from step 6, b = 3000 - 5000 = -2000.
        v.d = 1000;
        v.a = 300;
        v.OFFSET_CH1_3W_500 = 5000;
        incal::StoreReference(incal::ref500, 500, v);
        incal::TStepOutcome out = incal::Next(Index(7), 0, 3000, v);
        EXPECT_EQ(out.Failure, incal::failNone);
        EXPECT_EQ(v.RREF_500_3W, 250.0);
        EXPECT_EQ(Texts(out), (std::vector<std::string>{"Lépés 7:", "b = " + Count(-2000), "RREF_500_3W = 250" + s + "00 ohm",
                                                        "EA_500 = 0" + s + "1500"}));
        EXPECT_TRUE(out.Lines[0].Separator);
        EXPECT_FALSE(out.Lines[1].Separator);

        // Step 22: CH0 - OFFSET_CH0_G4 = 2^22 and 125 mV give 1500 mV.
        incal::Next(Index(20), 100, 0, v);
        incal::StoreReference(incal::refU, 125, v);
        out = incal::Next(Index(22), 100 + 4194304, 0, v);
        EXPECT_EQ(v.UREF, 1500.0);
        EXPECT_EQ(Texts(out), (std::vector<std::string>{"Lépés 22:", "UREF = 1500" + s + "000 mV"}));

        // Step 1 alone goes without a separator.
        out = incal::Next(Index(1), -7, 12345, v);
        EXPECT_EQ(Texts(out), (std::vector<std::string>{"Lépés 1:", "OFFSET_CH0 = " + Count(-7),
                                                        "OFFSET_CH1_REF_500 = " + Count(12345)}));
        EXPECT_FALSE(out.Lines[0].Separator);
    }
}

// A zero divisor stops the step at its formula: the lines before it stay,
// the coefficient keeps its value, nothing after it is done.
TEST(InputCalibrationWizard, ZeroDivisorsStopTheStep) {
    struct {
        int step;
        std::int32_t ch0, ch1, d;
        incal::TFailure failure;
        std::size_t lines;
        double incal::TValues::*kept;
    } const table[] = {
        {7, 0, 40, 1000, incal::failDivisionByZero, 2, &incal::TValues::RREF_500_3W},
        {7, 0, 40, 0, incal::failInvalidOperation, 2, &incal::TValues::RREF_500_3W},
        {11, 0, 50, 1000, incal::failDivisionByZero, 2, &incal::TValues::RREF_5K_3W},
        {15, 0, 1030, 0, incal::failDivisionByZero, 2, &incal::TValues::RREF_500_2W},
        {17, 0, 20, 0, incal::failInvalidOperation, 2, &incal::TValues::RREF_5K_2W},
        {18, 10, 1030, 0, incal::failDivisionByZero, 1, &incal::TValues::RREF_500_4W},
        {18, 10, 30, 0, incal::failInvalidOperation, 1, &incal::TValues::RREF_500_4W},
        {19, 10, 20, 0, incal::failInvalidOperation, 1, &incal::TValues::RREF_5K_4W},
        {22, 70, 0, 0, incal::failDivisionByZero, 1, &incal::TValues::UREF},
    };
    for (const auto& row : table) {
        incal::TValues v;
        v.OFFSET_CH0 = 10;
        v.OFFSET_CH1_REF_500 = 30;
        v.OFFSET_CH1_REF_5K = 20;
        v.OFFSET_CH1_3W_500 = 40;
        v.OFFSET_CH1_3W_5K = 50;
        v.OFFSET_CH0_G4 = 70;
        v.b = 0;
        v.d = row.d;
        v.ETALON_500 = v.ETALON_5K = 500;
        v.*row.kept = 123.0;
        const incal::TStepOutcome out = incal::Next(Index(row.step), row.ch0, row.ch1, v);
        EXPECT_EQ(out.Failure, row.failure) << row.step;
        EXPECT_EQ(out.Lines.size(), row.lines) << row.step;
        EXPECT_EQ(v.*row.kept, 123.0) << row.step;
    }
    EXPECT_STREQ(incal::FailureText(incal::failDivisionByZero), "Floating point division by zero");
    EXPECT_STREQ(incal::FailureText(incal::failInvalidOperation), "Invalid floating point operation");
}

TEST(InputCalibrationWizard, DifferencesWrapAsTwosComplement) {
    constexpr std::int32_t lo = std::numeric_limits<std::int32_t>::min(), hi = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(incal::Difference(lo, 1), hi);
    EXPECT_EQ(incal::Difference(hi, -1), lo);
    EXPECT_EQ(incal::Difference(-5, 7), -12);
    // b = -2^31 has no 32-bit negation; the division uses its true value.
    incal::TValues v;
    v.d = 1;
    v.ETALON_500 = 2147483648.0;
    incal::Next(Index(7), 0, lo, v);
    EXPECT_EQ(v.RREF_500_3W, 1.0);
}

TEST(InputCalibrationWizard, RecordCarriesTheFieldsInItsOwnOrder) {
    incal::TValues v;
    v.OFFSET_CH0 = -2; // two's complement
    v.OFFSET_CH1_REF_500 = 2;
    v.OFFSET_CH1_REF_5K = 3;
    v.OFFSET_CH1_3W_500 = 4;
    v.OFFSET_CH1_3W_5K = 5;
    v.RREF_500_3W = 6.5;
    v.RREF_500_2W = 7.5;
    v.RREF_500_4W = 8.5;
    v.RREF_5K_4W = 9.5;
    v.RREF_5K_3W = 10.5;
    v.RREF_5K_2W = 11.5;
    v.UREF = 0.1; // rounded to the nearest single
    v.EA_500 = 13.5;
    v.EA_5K = 14.5;
    v.AZ0 = 15;
    v.OFFSET_CH0_G4 = 16;
    v.OFFSET_CH0_3W_500 = 17;
    v.OFFSET_CH0_3W_5K = 18;
    v.a = v.b = v.d = 99; // working values are not sent
    const std::vector<std::uint8_t> bytes = v.Record().Encode();
    ASSERT_EQ(bytes.size(), 72u);
    auto word = [&](std::size_t at) {
        return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 | std::uint32_t(bytes[at + 2]) << 16 |
               std::uint32_t(bytes[at + 3]) << 24;
    };
    auto bits = [](float f) {
        std::uint32_t u;
        std::memcpy(&u, &f, 4);
        return u;
    };
    const std::uint32_t expected[18] = {0xFFFFFFFEu, 2, 3, 4, 5, bits(6.5f), bits(7.5f), bits(8.5f), bits(9.5f),
                                        bits(10.5f), bits(11.5f), bits(0.1f), bits(13.5f), bits(14.5f), 15, 16, 17, 18};
    for (std::size_t i = 0; i < 18; ++i)
        EXPECT_EQ(word(4 * i), expected[i]) << "field " << i + 1;
}

TEST(InputCalibrationWizard, UnwritableCoefficientsAreNamed) {
    const kv::InputCalibrationRecord good{0, 0, 0, 0, 0, 500, 500, 500, 5000, 5000, 5000, 2500, 1, 1, 0, 0, 0, 0};
    EXPECT_TRUE(incal::UnwritableFields(good).empty());
    struct {
        float kv::InputCalibrationRecord::*field;
        float value;
        const char* why;
    } const table[] = {
        {&kv::InputCalibrationRecord::RREF_500_3W, 0.0f, "RREF_500_3W is not above 0"},
        {&kv::InputCalibrationRecord::RREF_5K_2W, -4990.0f, "RREF_5K_2W is not above 0"},
        {&kv::InputCalibrationRecord::UREF, 0.0f, "UREF is not above 0"},
        {&kv::InputCalibrationRecord::RREF_5K_3W, std::numeric_limits<float>::infinity(), "RREF_5K_3W is not a finite number"},
        {&kv::InputCalibrationRecord::EA_500, std::numeric_limits<float>::quiet_NaN(), "EA_500 is not a finite number"},
    };
    for (const auto& row : table) {
        kv::InputCalibrationRecord r = good;
        r.*row.field = row.value;
        EXPECT_EQ(incal::UnwritableFields(r), std::vector<std::string>{row.why});
    }
    // A double beyond the singles' range becomes an infinity in the record.
    incal::TValues v;
    v.RREF_500_4W = 1e300;
    EXPECT_FALSE(std::isfinite(v.Record().RREF_500_4W));
}

// ------------------------------------------------- the pages in the window --

namespace {

// The window at the developer level on the wizard's page, against the
// in-process device; the operator's connections go through its console.
struct TWizardRig : TPollRig {
    std::vector<QString> errors;

    explicit TWizardRig(const kvsim::TDeviceConfig& config = kvsim::TDeviceConfig::Steady())
        : TPollRig(true, true, config) {
        form->ShowErrorMessage = [this](const QString& text) { errors.push_back(text); };
        Open();
        EXPECT_TRUE(RunUntil(kv::cmdReadSettings));
        ShowWizard();
    }
    void ShowWizard() {
        form->PageControl1->setCurrentWidget(form->TabSheet_DeveloperTool);
        form->PageControl2->setCurrentWidget(form->TabSheet_InputCalibration);
    }
    int Step() const { return incal::kSteps[form->InputCalibrationStep()].Number; }
    int Lines() const { return form->ListBox_Calibrated->count(); }
    // Polls on until the device has measured a few cycles in the step's
    // configuration and connection.
    void Settle() {
        const std::int64_t until = clock.now() + 6 * kvsim::TDeviceModel::kCycleMs;
        clock.advanceUntil(
            [&] {
                port->DeliverPending();
                return clock.now() >= until && !ended.empty() && ended.back().command == kv::cmdPoll;
            },
            20000);
    }
    std::uint8_t LastPollFET() const {
        for (auto it = ended.rbegin(); it != ended.rend(); ++it)
            if (it->command == kv::cmdPoll && it->sent.size() == kv::PollRequest::Size)
                return it->sent[7];
        return 0xFF;
    }
    // The connection the step's picture asks for, then Next.
    void Next() {
        device->Console(std::string(kvtest::InputCalibrationConnection(Step())));
        Settle();
        form->SpeedButton_CalibrationNext->Click();
    }
    void Back() { form->SpeedButton_CalibrationBack->Click(); }
    void ForwardTo(int step) {
        while (Step() != step && Step() != 23)
            Next();
    }
};

} // namespace

// Next adds each step's lines and carries the step's FET byte; Back takes
// exactly those lines away, down to an empty log.
TEST(InputCalibrationPages, LogLinesFollowNextAndBack) {
    TWizardRig rig;
    TForm_Main& f = *rig.form;
    EXPECT_TRUE(f.SpeedButton_CalibrationBack->isHidden());
    for (std::size_t i = 0; i < incal::kLastStep; ++i) {
        ASSERT_EQ(f.InputCalibrationStep(), i);
        const int before = rig.Lines();
        rig.Next();
        EXPECT_EQ(rig.LastPollFET(), incal::kSteps[i].FETControl) << incal::kSteps[i].Number;
        EXPECT_EQ(rig.Lines() - before, incal::kSteps[i].LinesAdded) << incal::kSteps[i].Number;
        if (i == 0) {
            EXPECT_EQ(f.ListBox_Calibrated->item(0)->text(), QStringLiteral("Lépés 1:"));
            EXPECT_TRUE(f.ListBox_Calibrated->item(1)->text().startsWith(QStringLiteral("OFFSET_CH0 = ")));
            EXPECT_TRUE(f.ListBox_Calibrated->item(2)->text().startsWith(QStringLiteral("OFFSET_CH1_REF_500 = ")));
            EXPECT_FALSE(f.SpeedButton_CalibrationBack->isHidden());
        }
    }
    EXPECT_EQ(rig.Step(), 23);
    EXPECT_TRUE(f.SpeedButton_CalibrationNext->isHidden());
    EXPECT_TRUE(f.Label_CalibrationNext->isHidden());
    rig.Settle();
    EXPECT_EQ(rig.LastPollFET(), 0);

    // Leaving the page keeps the wizard where it is; its byte stays away
    // while another page is shown.
    f.PageControl2->setCurrentWidget(f.TabSheet_FETControl);
    f.PageControl2->setCurrentWidget(f.TabSheet_InputCalibration);
    EXPECT_EQ(rig.Step(), 23);

    f.SpeedButton_WriteCalibrationToKV->setDown(true);
    for (std::size_t i = incal::kLastStep; i > 0; --i) {
        const int before = rig.Lines();
        rig.Back();
        EXPECT_EQ(before - rig.Lines(), incal::kSteps[i - 1].LinesAdded) << incal::kSteps[i].Number;
        if (i == incal::kLastStep) {
            EXPECT_FALSE(f.SpeedButton_CalibrationNext->isHidden());
            EXPECT_FALSE(f.SpeedButton_WriteCalibrationToKV->Down());
        }
    }
    EXPECT_EQ(rig.Lines(), 0);
    EXPECT_EQ(rig.Step(), 1);
    EXPECT_TRUE(f.SpeedButton_CalibrationBack->isHidden());
    EXPECT_TRUE(f.Label_CalibrationBack->isHidden());
}

// A reference edit that holds no number: red, focused, no line, no step.
TEST(InputCalibrationPages, ReferenceEditThatIsNoNumberTurnsRed) {
    TSeparator comma(',');
    TWizardRig rig;
    TForm_Main& f = *rig.form;
    rig.ForwardTo(7);
    const QColor normal = f.Edit_ETALON_500->palette().color(QPalette::Base);
    for (const char* text : {"abc", "", "1e400", "500.0", "5,0,0"}) {
        f.Edit_ETALON_500->setText(QString::fromLatin1(text));
        const int lines = rig.Lines();
        rig.Next();
        EXPECT_EQ(rig.Step(), 7) << text;
        EXPECT_EQ(rig.Lines(), lines) << text;
        EXPECT_EQ(f.Edit_ETALON_500->palette().color(QPalette::Base), QColor(Qt::red)) << text;
        EXPECT_EQ(f.focusWidget(), f.Edit_ETALON_500) << text;
    }
    // Either key types the locale's separator; the number then goes through.
    f.Edit_ETALON_500->clear();
    QTest::keyClicks(f.Edit_ETALON_500, QStringLiteral("499.5"));
    EXPECT_EQ(f.Edit_ETALON_500->text(), QStringLiteral("499,5"));
    f.Edit_ETALON_500->clear();
    QTest::keyClicks(f.Edit_ETALON_500, QStringLiteral("499,75"));
    rig.Next();
    EXPECT_EQ(rig.Step(), 10);
    EXPECT_EQ(f.InputCalibration.ETALON_500, 499.75);
    EXPECT_EQ(f.Edit_ETALON_500->palette().color(QPalette::Base), normal);
}

// A zero divisor in the window: the message, the lines before it, the page.
TEST(InputCalibrationPages, ZeroDivisorShowsTheMessageAndStays) {
    TWizardRig rig;
    TForm_Main& f = *rig.form;
    rig.ForwardTo(18);
    rig.device->Console("sensor resistor 500");
    rig.Settle();
    const double kept = f.InputCalibration.RREF_500_4W;
    const std::int32_t offset = f.InputCalibration.OFFSET_CH0;
    f.InputCalibration.OFFSET_CH0 = f.ADCH0Average; // CH0 - OFFSET_CH0 = 0
    const int lines = rig.Lines();
    f.SpeedButton_CalibrationNext->Click();
    EXPECT_EQ(rig.errors, std::vector<QString>{QStringLiteral("Floating point division by zero")});
    EXPECT_EQ(rig.Step(), 18);
    EXPECT_EQ(rig.Lines(), lines + 2); // the separator and "Lépés 18:"
    EXPECT_EQ(f.InputCalibration.RREF_500_4W, kept);
    f.InputCalibration.OFFSET_CH0 = offset;
    f.SpeedButton_CalibrationNext->Click();
    EXPECT_EQ(rig.Step(), 19);
}

// References of 0 or below, or beyond what a single holds, give coefficients
// no device can measure with: the write press is taken back with a message
// and nothing is sent.
TEST(InputCalibrationPages, UnwritableCoefficientsHoldTheWrite) {
    struct {
        QLineEdit* TForm_Main::*edit;
        const char* text;
        const char* named;
    } const table[] = {
        {&TForm_Main::Edit_ETALON_500, "0", "RREF_500_3W is not above 0"},
        {&TForm_Main::Edit_ETALON_5K, "-5000", "RREF_5K_3W is not above 0"},
        {&TForm_Main::Edit_ETALON_U, "0", "UREF is not above 0"},
        {&TForm_Main::Edit_ETALON_5K, "1e300", "RREF_5K_3W is not a finite number"},
    };
    for (const auto& row : table) {
        TWizardRig rig;
        TForm_Main& f = *rig.form;
        (f.*row.edit)->setText(QString::fromLatin1(row.text));
        rig.ForwardTo(23);
        ASSERT_EQ(rig.Step(), 23);
        f.SpeedButton_WriteCalibrationToKV->Click();
        EXPECT_FALSE(f.SpeedButton_WriteCalibrationToKV->Down()) << row.text;
        ASSERT_EQ(rig.errors.size(), 1u) << row.text;
        EXPECT_TRUE(rig.errors[0].contains(QString::fromLatin1(row.named))) << rig.errors[0].toStdString();
        // Down by other means, it is still released unsent.
        f.SpeedButton_WriteCalibrationToKV->setDown(true);
        const std::size_t from = rig.ended.size();
        ASSERT_TRUE(rig.Run(3));
        EXPECT_EQ(rig.Commands(from), (std::vector<std::uint8_t>{1, 1, 1})) << row.text;
        EXPECT_FALSE(rig.device->Model().InputCalibration().has_value());
    }
}

// The whole wizard against a board that holds another board's calibration:
// through silence and a lost write, the record goes out as logged, and
// the board then measures right.
TEST(InputCalibrationPages, WizardCalibratesTheBoard) {
    kvsim::TDeviceConfig config = kvsim::TDeviceConfig::Steady();
    config.BoardSeed = 3;
    config.ForeignCalibration = true;
    TWizardRig rig(config);
    TForm_Main& f = *rig.form;
    EXPECT_FALSE(f.Image_InputCalibrationOK->isHidden());
    rig.ForwardTo(13);

    // The device falls silent: page, log and values stay; then it goes on.
    const int lines = rig.Lines();
    const double rref = f.InputCalibration.RREF_5K_3W;
    rig.device->Console("silent on");
    ASSERT_TRUE(rig.Run(2, 30000));
    EXPECT_TRUE(rig.DeviceGroups(false));
    rig.device->Console("silent off");
    ASSERT_TRUE(rig.RunUntil(kv::cmdPoll));
    EXPECT_EQ(rig.Step(), 13);
    EXPECT_EQ(rig.Lines(), lines);
    EXPECT_EQ(f.InputCalibration.RREF_5K_3W, rref);
    rig.ForwardTo(23);

    // The first write goes unanswered: it stays pending and goes out again
    // after the next good poll.
    auto dispatcher = f.MB1->OnMBMasterEndOfEvent;
    bool lost = false;
    f.MB1->OnMBMasterEndOfEvent = [&, dispatcher](TMBStatus status, const std::string& text) {
        const std::uint8_t command = f.MB1->MBMasterCommandToSlave();
        if (command == kv::cmdWriteInputCalibration && !lost) {
            lost = true;
            rig.device->Console("silent off");
        }
        dispatcher(status, text);
        if (command == kv::cmdPoll && status == stOK && !lost && f.SpeedButton_WriteCalibrationToKV->Down())
            rig.device->Console("silent on");
    };
    f.SpeedButton_WriteCalibrationToKV->Click();
    ASSERT_TRUE(f.SpeedButton_WriteCalibrationToKV->Down());
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteInputCalibration, stTimeOut));
    EXPECT_TRUE(f.SpeedButton_WriteCalibrationToKV->Down());
    EXPECT_FALSE(rig.device->Model().InputCalibration().has_value());
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteInputCalibration));
    EXPECT_FALSE(f.SpeedButton_WriteCalibrationToKV->Down());
    ASSERT_TRUE(rig.device->Model().InputCalibration().has_value());
    EXPECT_EQ(*rig.device->Model().InputCalibration(), f.InputCalibration.Record());
    const kv::InputCalibrationRecord board = rig.device->Model().Board().Calibration();
    EXPECT_NEAR(f.InputCalibration.RREF_500_4W / board.RREF_500_4W, 1.0, 1e-5);
    EXPECT_NEAR(f.InputCalibration.UREF / board.UREF, 1.0, 1e-5);

    rig.device->Console("sensor ok");
    rig.device->Model().SetProcessValue(100.0);
    rig.Settle();
    EXPECT_NEAR(f.CalculatedValue, 100.0, 0.005);
    EXPECT_FALSE(f.Image_InputCalibrationOK->isHidden());
}

// Pictures of the wizard for a person to look at, with KV_SCREENSHOT_DIR set:
// step 7 with its reference edit and step 23 with the whole log.
TEST(InputCalibrationPages, Screenshots) {
    const QString dir = qEnvironmentVariable("KV_SCREENSHOT_DIR");
    if (dir.isEmpty())
        GTEST_SKIP() << "set KV_SCREENSHOT_DIR to save pictures of the wizard";
    QDir().mkpath(dir);
    TWizardRig rig;
    TForm_Main& f = *rig.form;
    f.show();
    rig.ForwardTo(7);
    rig.Settle();
    EXPECT_TRUE(f.grab().save(dir + QStringLiteral("/incal_step7.png")));
    rig.ForwardTo(23);
    f.SpeedButton_WriteCalibrationToKV->Click();
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteInputCalibration));
    rig.Settle();
    EXPECT_TRUE(f.grab().save(dir + QStringLiteral("/incal_step23.png")));
}
