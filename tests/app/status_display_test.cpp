// The status display: a poll answer in the link's receive buffer becomes the
// texts, colours, marks, bars and stored values of the main window.
#include "MBarGraph.h"
#include "SpeedButton.h"
#include "poll_support.h"
#include "status_support.h"

#include <QApplication>
#include <QPalette>

#include <cmath>
#include <limits>

using statustest::GoodAnswer;
using polltest::TSeparator;
using statustest::TWindow;

namespace {

// ------------------------------------------------------------ texts

TEST(StatusTexts, WorkingTimeInDaysHoursAndMinutes) {
    const struct {
        std::uint32_t minutes;
        const char* text;
    } cases[] = {
        {0, "0 perc, "},
        {59, "59 perc, "},
        {60, "1 óra, 0 perc, "},
        {1439, "23 óra, 59 perc, "},
        {1440, "1 nap, 0 perc, "},
        {1441, "1 nap, 1 perc, "},
        {1500, "1 nap, 1 óra, 0 perc, "},
        {0xFFFFFFFFu, "2982616 nap, 4 óra, 15 perc, "},
    };
    TWindow w;
    for (const auto& c : cases) {
        kv::PollAnswer a = GoodAnswer();
        a.WorkingTime = c.minutes;
        w.Decode(a);
        EXPECT_EQ(w.form.Label_WorkingTime->text(), QString::fromUtf8(c.text)) << c.minutes;
    }
}

TEST(StatusTexts, FirmwareAndCalibrationDates) {
    const TSeparator sep('.');
    const struct {
        std::uint16_t year;
        std::uint8_t month, day;
        const char* firmware;
        const char* calibration;
    } cases[] = {
        {2016, 10, 11, "v2016-10-11", "2016-10-11"},
        {2017, 1, 5, "v2017-01-05", "2017-01-05"},
        {987, 12, 31, "v0987-12-31", "0987-12-31"},
        {0, 7, 9, "v0000-07-09", "Kalibrálatlan!"},
    };
    TWindow w;
    for (const auto& c : cases) {
        kv::PollAnswer a = GoodAnswer();
        a.FirmwareYear = a.CalibrationYear = c.year;
        a.FirmwareMonth = a.CalibrationMonth = c.month;
        a.FirmwareDay = a.CalibrationDay = c.day;
        w.Decode(a);
        EXPECT_EQ(w.form.Label_FormverVerzio->text(), QString::fromUtf8(c.firmware));
        EXPECT_EQ(w.form.Label_KalibralasDatuma->text(), QString::fromUtf8(c.calibration));
        // The fields after the date are still read at their places.
        EXPECT_EQ(w.form.Label_MertHomerseklet->text(), QStringLiteral("31.4"));
        EXPECT_DOUBLE_EQ(w.form.InternalTemperature, double(31.4f));
    }
}

TEST(StatusTexts, DataSourcesDeviceTypeAndCounters) {
    const struct {
        std::uint8_t code;
        const char* source;
        const char* type;
    } cases[] = {
        {0, "RAM1", "KV7730"}, {1, "RAM2", "KV5510"}, {2, "FRAM1", "???"},
        {3, "FRAM2", "???"},   {4, "Gyári", "???"},   {5, "???", "???"},
        {255, "???", "???"},
    };
    TWindow w;
    for (const auto& c : cases) {
        kv::PollAnswer a = GoodAnswer();
        a.RAM1DataSource = c.code;
        a.RAM2DataSource = c.code;
        a.PCBIdentityAddress = c.code;
        w.Decode(a);
        EXPECT_EQ(w.form.Label_RAM1AdatForras->text(), QString::fromUtf8(c.source)) << int(c.code);
        EXPECT_EQ(w.form.Label_RAM2AdatForras->text(), QString::fromUtf8(c.source)) << int(c.code);
        EXPECT_EQ(w.form.Label_KeszulekAltipus->text(), QString::fromUtf8(c.type)) << int(c.code);
        EXPECT_EQ(w.form.Label_PCBIdentityAddress->text(), QString::number(c.code));
        EXPECT_EQ(w.form.PCBIdentityAddress, c.code);
    }
}

TEST(StatusTexts, ChannelCountsInGroupsOfThree) {
    TWindow w;
    kv::PollAnswer a = GoodAnswer();
    a.ADCH0Present = 5;
    a.ADCH1Present = -8388607;
    a.ADCH0Average = 12345;
    a.ADCH1Average = 0;
    a.AuCH0 = 255;
    a.Cycles = 3;
    a.ADSamplesPs = 65535;
    w.Decode(a);
    EXPECT_EQ(w.form.Label_ADCH0Present->text(), QStringLiteral("  5"));
    EXPECT_EQ(w.form.Label_ADCH1Present->text(), QStringLiteral("-8 388 607"));
    EXPECT_EQ(w.form.Label_ADCH0Average->text(), QStringLiteral(" 12 345"));
    EXPECT_EQ(w.form.Label_ADCH1Average->text(), QStringLiteral("  0"));
    EXPECT_EQ(w.form.Label_AuCH0->text(), QStringLiteral("255"));
    EXPECT_EQ(w.form.Label_Cycles->text(), QStringLiteral("3"));
    EXPECT_EQ(w.form.Label_ADSamplesPs->text(), QStringLiteral("65535"));
    EXPECT_EQ(w.form.ADCH0Average, 12345);
    EXPECT_EQ(w.form.AuCH0, 255);
}

// The channel bars span -1 to 1 over the converter's full scale.
TEST(StatusBars, AveragedCountsOverFullScale) {
    const struct {
        std::int32_t count;
        double value;
    } cases[] = {{8388607, 1.0}, {-8388607, -1.0}, {0, 0.0}, {4194304, 4194304 / 8388607.0}};
    TWindow w(true);
    for (const auto& c : cases) {
        kv::PollAnswer a = GoodAnswer();
        a.ADCH0Average = c.count;
        a.ADCH1Average = -c.count;
        w.Decode(a);
        EXPECT_DOUBLE_EQ(w.form.MBarGraph_ADCH0->MBGValue(), c.value) << c.count;
        EXPECT_DOUBLE_EQ(w.form.MBarGraph_ADCH1->MBGValue(), -c.value) << c.count;
        EXPECT_EQ(w.form.ADCH1Average, -c.count);
    }
}

// -------------------------------------------- values with decimals

class StatusDecimals : public ::testing::TestWithParam<char> {};

TEST_P(StatusDecimals, TemperaturesAndTheirSentinels) {
    const TSeparator sep(GetParam());
    const QString d{QLatin1Char(GetParam())};
    const struct {
        float internal, cjc;
        int cjcItem;
        const char* internalText;
        const char* cjcText;
    } cases[] = {
        {-200.0f, 22.7f, 0, "Hiba! Nincs adat.", "----- °C"},
        {-199.9f, 22.7f, 0, "-199#9", "-199#9 °C"},
        {std::numeric_limits<float>::quiet_NaN(), 22.7f, 0, "Hiba! Nincs adat.", "----- °C"},
        {31.4f, 22.7f, 1, "31#4", "22#7 °C"},
        {31.4f, 19.96f, 2, "31#4", "20#0 °C"},
        {31.4f, -200.0f, 1, "31#4", "----- °C"},
        {31.4f, -199.9f, 2, "31#4", "-199#9 °C"},
        {31.4f, 22.7f, 3, "31#4", "----- °C"},
    };
    for (const auto& c : cases) {
        TWindow w;
        w.form.RadioGroup_CJC->setItemIndex(c.cjcItem);
        kv::PollAnswer a = GoodAnswer();
        a.InternalTemperature = c.internal;
        a.CJCTemperature = c.cjc;
        w.Decode(a);
        EXPECT_EQ(w.form.Label_MertHomerseklet->text(), QString::fromUtf8(c.internalText).replace('#', d))
            << c.internal;
        EXPECT_EQ(w.form.Label_CJCTemp->text(), QString::fromUtf8(c.cjcText).replace('#', d))
            << c.internal << " " << c.cjc << " item " << c.cjcItem;
    }
    // The extremes are shown as they come.
    TWindow w;
    kv::PollAnswer a = GoodAnswer();
    a.InternalTemperatureMin = -250.0f;
    w.Decode(a);
    EXPECT_EQ(w.form.Label_MertHomersekletMin->text(), QStringLiteral("-250") + d + QStringLiteral("0"));
    EXPECT_EQ(w.form.Label_MertHomersekletMax->text(), QStringLiteral("44") + d + QStringLiteral("6"));
}

TEST_P(StatusDecimals, MeasuredValuesAndTheirSentinels) {
    const TSeparator sep(GetParam());
    const QString d{QLatin1Char(GetParam())};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float physical, calculated;
        std::uint8_t flags;
        const char* physicalText;
        const char* calculatedText;
    } cases[] = {
        {109.73f, 25.3f, 0xE0, "109#7 ohm", "25#3 °C"},
        {999999.9f, -299.9f, 0x80, "999999#9 ohm", "-299#9 °C"},
        {1000000.0f, -300.0f, 0x80, "----- ohm", "----- °C"},
        {-5.0f, -1e9f, 0x80, "-5#0 ohm", "----- °C"},
        {nan, nan, 0x80, "----- ohm", "----- °C"},
        {-std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(), 0x80, "----- ohm",
         "----- °C"},
        {109.73f, 25.3f, 0x60, "----- ohm", "----- °C"}, // input not calibrated
    };
    for (const auto& c : cases) {
        TWindow w;
        w.form.FizikaiErtekFormat = QStringLiteral("0.0");
        kv::PollAnswer a = GoodAnswer();
        a.PhysicalValue = c.physical;
        a.CalculatedValue = c.calculated;
        a.CalibrationFlags = c.flags;
        w.Decode(a);
        EXPECT_EQ(w.form.Label_FizikaiErtek->text(), QString::fromUtf8(c.physicalText).replace('#', d))
            << c.physical;
        EXPECT_EQ(w.form.Label_fSzamitottErtek->text(), QString::fromUtf8(c.calculatedText).replace('#', d))
            << c.calculated;
    }
}

TEST_P(StatusDecimals, OutputPercentAndBar) {
    const TSeparator sep(GetParam());
    const QString d{QLatin1Char(GetParam())};
    const struct {
        float level;
        std::uint8_t flags;
        const char* text;
        int bar;
    } cases[] = {
        {0.5f, 0x80, "50#00%", 50},   {0.5f, 0x00, "-----%", 0},   {0.125f, 0x80, "12#50%", 12},
        {0.135f, 0x80, "13#50%", 14}, {1.5f, 0x80, "150#00%", 100}, {-0.25f, 0x80, "-25#00%", 0},
        {0.0f, 0x80, "0#00%", 0},
        // A garbled level shows no level at all, never the previous one.
        {std::numeric_limits<float>::quiet_NaN(), 0x80, "-----%", 0},
        {std::numeric_limits<float>::infinity(), 0x80, "-----%", 0},
        {-std::numeric_limits<float>::infinity(), 0x80, "-----%", 0},
    };
    for (const auto& c : cases) {
        TWindow w;
        w.form.ProgressBar1_OutputPercent->setValue(77);
        kv::PollAnswer a = GoodAnswer();
        a.OutputLevel = c.level;
        a.CalibrationFlags = c.flags;
        w.Decode(a);
        EXPECT_EQ(w.form.Label_OutputPercent->text(), QString::fromUtf8(c.text).replace('#', d)) << c.level;
        EXPECT_EQ(w.form.ProgressBar1_OutputPercent->value(), c.bar) << c.level;
    }
}

TEST_P(StatusDecimals, StoredResistancesInTheirFormats) {
    const TSeparator sep(GetParam());
    const QString d{QLatin1Char(GetParam())};
    const struct {
        int mode, cjc;
        const char* text;
    } cases[] = {
        {0, 0, "1#23 ohm"},   // the physical value's format
        {2, 1, "1#2 ohm"},    // thermocouple: the Pt1000 cold-junction sensor's wires
        {2, 2, "1#23 ohm"},   // the Pt100's
        {2, 0, "unchanged"},  // internal compensation: no wires to show
        {2, 3, "unchanged"},
    };
    for (const auto& c : cases) {
        TWindow w;
        w.form.Label_Rof2Wire->setText(QStringLiteral("unchanged"));
        w.form.RadioGroup_Mode->setItemIndex(c.mode);
        w.form.RadioGroup_CJC->setItemIndex(c.cjc);
        w.Decode(GoodAnswer());
        EXPECT_EQ(w.form.Label_Rof2Wire->text(), QString::fromUtf8(c.text).replace('#', d)) << c.mode << c.cjc;
        EXPECT_EQ(w.form.Label_fRofPot0->text(), QStringLiteral("10") + d + QStringLiteral("50 ohm"));
        EXPECT_EQ(w.form.Label_fRofPot100->text(), QStringLiteral("480") + d + QStringLiteral("25 ohm"));
    }
}

INSTANTIATE_TEST_SUITE_P(BothSeparators, StatusDecimals, ::testing::Values('.', ','));

// ------------------------------------------------------------ status

TEST(StatusCode, RedForFaultsAndUnchangedForUnknownCodes) {
    TWindow w;
    const QPalette system = QApplication::palette();
    auto background = [&] { return w.form.Label_Status->palette().color(QPalette::Window); };
    auto foreground = [&] { return w.form.Label_Status->palette().color(QPalette::WindowText); };

    kv::PollAnswer a = GoodAnswer();
    w.Decode(a);
    EXPECT_EQ(w.form.Label_Status->text(), QStringLiteral("OK"));
    EXPECT_EQ(background(), system.color(QPalette::Button));
    EXPECT_EQ(foreground(), system.color(QPalette::WindowText));

    a.StatusCode = 3;
    w.Decode(a);
    EXPECT_EQ(w.form.Label_Status->text(), QStringLiteral("Kalibrálatlan potenciométer"));
    EXPECT_EQ(background(), QColor(255, 0, 0));
    EXPECT_EQ(foreground(), QColor(255, 255, 255));

    a.StatusCode = 9;
    w.Decode(a);
    EXPECT_EQ(w.form.Label_Status->text(), QStringLiteral("Kalibrálatlan potenciométer"));
    EXPECT_EQ(background(), QColor(255, 0, 0));
    EXPECT_EQ(w.form.StatusCode, 9u);

    const char* texts[] = {"OK", "Súlyos hiba", "Szenzor v. vezeték hiba", "Kalibrálatlan potenciométer",
                           "Méréstartományon kívül esik", "Kimenet tartományon kívül esik"};
    for (int code = 5; code >= 0; --code) {
        a.StatusCode = static_cast<std::uint8_t>(code);
        w.Decode(a);
        EXPECT_EQ(w.form.Label_Status->text(), QString::fromUtf8(texts[code]));
    }
    EXPECT_EQ(background(), system.color(QPalette::Button));
}

// ------------------------------------------------ flags and marks

// Each label follows its own bit (shown when set, or when clear for the
// "uncalibrated" ones), whatever the other bits say.
TEST(StatusFlags, ErrorAndAlarmLabelsFollowTheirBits) {
    TWindow w(true);
    auto& f = w.form;
    enum Byte { AD, Err, Cal };
    const struct {
        QWidget* label;
        Byte byte;
        std::uint8_t bit;
        bool shownWhenSet;
    } cases[] = {
        {f.Label_ADCH0Overrflow, AD, kv::adstat::CH0Overflow, true},
        {f.Label_ADCH0Underflow, AD, kv::adstat::CH0Underflow, true},
        {f.Label_ADCH1Overrflow, AD, kv::adstat::CH1Overflow, true},
        {f.Label_ADCH1Underflow, AD, kv::adstat::CH1Underflow, true},
        {f.Label_ErrorInputSignal, AD, kv::adstat::InputOutOfRange, true},
        {f.Label_ErrorADC, Err, kv::errflag::ADC, true},
        {f.Label_ErrorFRAM, Err, kv::errflag::FRAM, true},
        {f.Label_ErrorOutputRange, Err, kv::errflag::OutputRange, true},
        {f.Image_InputCalibrationOK, Cal, kv::calflag::Input, true},
        {f.Image_OutputCalibrationOK, Cal, kv::calflag::Output, true},
        {f.Label_ErrorUncalibratedInput, Cal, kv::calflag::Input, false},
        {f.Label_ErrorUncalibratedOutput, Cal, kv::calflag::Output, false},
        {f.Label_ErrorUncalibratedPotentiometer, Cal, kv::calflag::Potentiometer, false},
    };
    for (const auto& c : cases) {
        for (const std::uint8_t others : {std::uint8_t{0}, std::uint8_t{0xFF}}) {
            for (const bool set : {false, true}) {
                const std::uint8_t byte = set ? (others | c.bit) : (others & ~c.bit);
                kv::PollAnswer a = GoodAnswer();
                (c.byte == AD ? a.ADStatusFlags : c.byte == Err ? a.ErrorFlags : a.CalibrationFlags) = byte;
                w.Decode(a);
                EXPECT_EQ(!c.label->isHidden(), set == c.shownWhenSet)
                    << c.label->objectName().toStdString() << " byte " << int(byte);
            }
        }
    }
    EXPECT_TRUE(f.Label_ErrorWire->isHidden()); // no field drives it
}

// A maintenance action the device acknowledges is no longer pending; the
// others stay requested.
TEST(StatusAcknowledgement, ReleasesOnlyTheAcknowledgedButtons) {
    TWindow w(true);
    auto& f = w.form;
    f.SpeedButton_Pot0->setDown(true);
    f.SpeedButton_Reset->setDown(true);
    f.SpeedButton_ResetOf2Wire->setDown(true);
    f.SpeedButton_HomersekletMinMaxTorlese->setDown(true);
    kv::PollAnswer a = GoodAnswer();
    a.MaintenanceAck = kv::maint::Pot0 | kv::maint::Reset;
    w.Decode(a);
    EXPECT_FALSE(f.SpeedButton_Pot0->Down());
    EXPECT_FALSE(f.SpeedButton_Reset->Down());
    EXPECT_TRUE(f.SpeedButton_ResetOf2Wire->Down());
    EXPECT_TRUE(f.SpeedButton_HomersekletMinMaxTorlese->Down());

    // Every bit its own button.
    const struct {
        std::uint8_t bit;
        TSpeedButton* button;
    } all[] = {
        {kv::maint::Rof2Wire, f.SpeedButton_Rof2Wire},
        {kv::maint::ResetOf2Wire, f.SpeedButton_ResetOf2Wire},
        {kv::maint::Pot0, f.SpeedButton_Pot0},
        {kv::maint::Reset, f.SpeedButton_Reset},
        {kv::maint::FRAMClear, f.SpeedButton_FRAMTorlesReset},
        {kv::maint::Pot100, f.SpeedButton_Pot100},
        {kv::maint::TempMinMaxClear, f.SpeedButton_HomersekletMinMaxTorlese},
        {kv::maint::PotDefault, f.SpeedButton_PotDefault},
    };
    for (const auto& b : all) {
        a = GoodAnswer();
        a.PhysicalValue = 50.0f; // keeps the wire button enabled
        w.Decode(a);
        b.button->setDown(true);
        ASSERT_TRUE(b.button->Down());
        a.MaintenanceAck = 0;
        w.Decode(a);
        EXPECT_TRUE(b.button->Down()) << int(b.bit);
        a.MaintenanceAck = b.bit;
        w.Decode(a);
        EXPECT_FALSE(b.button->Down()) << int(b.bit);
    }
}

TEST(StatusAcknowledgement, WireButtonOnlyForPlausibleWireResistances) {
    const struct {
        float physical;
        bool enabled;
    } cases[] = {
        {-0.01f, false}, {0.0f, true}, {42.0f, true}, {100.0f, true}, {100.01f, false},
        {std::numeric_limits<float>::quiet_NaN(), false},
    };
    TWindow w;
    for (const auto& c : cases) {
        kv::PollAnswer a = GoodAnswer();
        a.PhysicalValue = 50.0f;
        w.Decode(a);
        w.form.SpeedButton_Rof2Wire->setDown(true);
        a.PhysicalValue = c.physical;
        w.Decode(a);
        EXPECT_EQ(w.form.SpeedButton_Rof2Wire->isEnabled(), c.enabled) << c.physical;
        // Out of range withdraws the request as well.
        EXPECT_EQ(w.form.SpeedButton_Rof2Wire->Down(), c.enabled) << c.physical;
    }
}

// -------------------------------------------------- odd answers

TEST(StatusAnswer, ShortAnswerReadsZeroBeyondItsEnd) {
    const TSeparator sep('.');
    TWindow w;
    w.Decode(GoodAnswer());
    kv::PollAnswer a = GoodAnswer();
    a.StatusCode = 4;
    a.CalculatedValue = 99.0f;
    std::vector<std::uint8_t> bytes = a.Encode();
    bytes.resize(43); // up to the calibration date
    w.Decode(bytes);
    EXPECT_EQ(w.form.Label_KalibralasDatuma->text(), QStringLiteral("2020-03-04"));
    EXPECT_EQ(w.form.Label_MertHomerseklet->text(), QStringLiteral("0.0"));
    EXPECT_EQ(w.form.CalculatedValue, 0.0);
    EXPECT_EQ(w.form.Label_Status->text(), QStringLiteral("OK"));
    // No calibration flags came: the input counts as uncalibrated.
    EXPECT_EQ(w.form.Label_fSzamitottErtek->text(), QStringLiteral("----- °C"));

    // Cut off inside a field: the field reads as 0 as a whole, not as the
    // bytes that came with zeros after them.
    a = GoodAnswer();
    a.ADCH0Present = 0x01020304;
    bytes = a.Encode();
    bytes.resize(6); // two of the count's four bytes
    w.Decode(bytes);
    EXPECT_EQ(w.form.Label_ADCH0Present->text(), QStringLiteral("  0"));

    // Nothing received reads as zeros (an empty answer to a poll never
    // reaches the display: it is the acknowledgement of a write).
    w.form.DecodePollAnswer(kv::PollAnswer::Decode({}));
    EXPECT_EQ(w.form.Label_FormverVerzio->text(), QStringLiteral("v0000-00-00"));
    EXPECT_EQ(w.form.Label_KalibralasDatuma->text(), QStringLiteral("Kalibrálatlan!"));
}

} // namespace
