// The simulated transmitter: its answers, its stored state and its physics.
#include "DeviceModel.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kvsim;
using kv::PollAnswer;
using kv::PollRequest;
using kv::SettingsRecord;

namespace {

struct Device {
    explicit Device(const TDeviceConfig& c = TDeviceConfig::Steady()) : model(c) {}
    TDeviceModel model;
    PollRequest request{0, 0, 2026, 12, 6, 0};

    PollAnswer Poll(std::uint8_t maint = 0, std::uint8_t fet = 0, std::uint16_t pwm = 0) {
        request.MaintenanceBits = maint;
        request.FETControl = fet;
        request.PWMForceValue = pwm;
        const auto bytes = request.Encode();
        const auto ans = model.Handle(kv::cmdPoll, bytes);
        EXPECT_TRUE(ans.has_value());
        if (!ans)
            return {};
        EXPECT_EQ(ans->ErrorCode, 0);
        EXPECT_EQ(ans->Data.size(), PollAnswer::Size);
        return PollAnswer::Decode(ans->Data);
    }
    TDeviceAnswer Command(std::uint8_t cmd, const std::vector<std::uint8_t>& data = {}) {
        const auto ans = model.Handle(cmd, data);
        EXPECT_TRUE(ans.has_value());
        return ans.value_or(TDeviceAnswer{});
    }
    void WriteSettings(const SettingsRecord& s) {
        EXPECT_EQ(Command(kv::cmdWriteSettings, s.Encode()).ErrorCode, 0);
        model.Advance(TDeviceModel::kCycleMs);
    }
};

} // namespace

TEST(DeviceModel, PollAnswerCarriesIdentityAndDefaults) {
    TDeviceConfig c = TDeviceConfig::Steady();
    c.PCBIdentityAddress = 1;
    c.FirmwareYear = 2017;
    c.FirmwareMonth = 1;
    c.FirmwareDay = 5;
    c.WorkingTimeMinutes = 1439;
    Device d(c);
    d.model.Advance(60000);
    const PollAnswer a = d.Poll();
    EXPECT_EQ(a.FirmwareYear, 2017);
    EXPECT_EQ(a.FirmwareMonth, 1);
    EXPECT_EQ(a.FirmwareDay, 5);
    EXPECT_EQ(a.PCBIdentityAddress, 1);
    EXPECT_EQ(a.WorkingTime, 1440u);
    EXPECT_EQ(a.CalibrationFlags, kv::calflag::Input | kv::calflag::Output | kv::calflag::Potentiometer);
    EXPECT_EQ(a.CalibrationYear, 2026);
    EXPECT_EQ(a.RAM1DataSource, srcFRAM1);
    EXPECT_EQ(a.RAM2DataSource, srcFRAM2);
    EXPECT_EQ(a.StatusCode, kv::statusOK);
    EXPECT_EQ(a.ADSamplesPs, TDeviceModel::kSamplesPerSecond);
    // Pt 100, 4 wires, 25 °C, scaled 0 to 100 on 4-20 mA
    EXPECT_NEAR(a.PhysicalValue, 109.73, 0.005);
    EXPECT_NEAR(a.CalculatedValue, 25.0, 1e-4);
    EXPECT_NEAR(a.OutputLevel, 0.25, 1e-6);
    EXPECT_EQ(a.CJCTemperature, kv::kNoTemperature);
    EXPECT_NEAR(a.InternalTemperature, 23.0, 1e-4);
    EXPECT_EQ(a.SwitchStates, kv::sw::Kelvin | kv::sw::I400uA | kv::sw::AZNeg | kv::sw::ThreeWAltNeg);

    d.model.SetPCBIdentityAddress(0);
    EXPECT_EQ(d.Poll().PCBIdentityAddress, 0);
}

TEST(DeviceModel, SettingsAreStoredReadBackAndFactoryDefaultsStay) {
    Device d;
    EXPECT_EQ(d.Command(kv::cmdReadSettings).Data, SettingsRecord{}.Encode());
    SettingsRecord s;
    s.Mode = 5;
    s.Wires = 2;
    s.TCType = 6;
    s.CJC = 2;
    s.FizikaiForOutL = -10.0f;
    s.FizikaiForOutH = 400.0f;
    s.OutputMode = 2;
    s.ErrorSignalFlags = 0xC0;
    const auto w = d.Command(kv::cmdWriteSettings, s.Encode());
    EXPECT_EQ(w.ErrorCode, 0);
    EXPECT_TRUE(w.Data.empty());
    EXPECT_EQ(SettingsRecord::Decode(d.Command(kv::cmdReadSettings).Data), s);
    EXPECT_EQ(d.Command(kv::cmdReadFactoryDefaults).Data,
              (std::vector<std::uint8_t>{0x00, 0x04, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC8, 0x42, 0x00, 0x00}));
}

// Out-of-range values are clamped, and the read-back shows what is in force.
TEST(DeviceModel, SettingsOutOfRangeAreClampedAndShortRecordsRefused) {
    struct {
        std::vector<std::uint8_t> sent;
        SettingsRecord stored;
    } const table[] = {
        {{9, 1, 12, 7, 5, 0, 0, 0, 0, 0, 0, 0xC8, 0x42, 9, 0xFF}, {7, 4, 9, 3, 0, 0.0f, 100.0f, 4, 0xC0}},
        {{3, 5, 0, 0, 0, 0, 0, 0xC0, 0x7F, 0, 0, 0x80, 0x7F, 0, 0x3F}, {3, 4, 0, 0, 0, 0.0f, 100.0f, 0, 0}},
        {{1, 3, 4, 1, 0, 0, 0, 0x20, 0x41, 0, 0, 0x20, 0x41, 1, 0x40}, {1, 3, 4, 1, 0, 10.0f, 10.0f, 1, 0x40}},
    };
    for (const auto& row : table) {
        Device d;
        EXPECT_EQ(d.Command(kv::cmdWriteSettings, row.sent).ErrorCode, 0);
        EXPECT_EQ(SettingsRecord::Decode(d.Command(kv::cmdReadSettings).Data), row.stored);
    }
    Device d;
    const auto full = SettingsRecord{7, 2, 0, 0, 0, 0.0f, 1.0f, 0, 0}.Encode();
    const std::vector<std::uint8_t> shortRecord(full.begin(), full.begin() + 14);
    EXPECT_EQ(d.Command(kv::cmdWriteSettings, shortRecord).ErrorCode, kv::kErrorUnknownCommand);
    EXPECT_EQ(d.Command(kv::cmdReadSettings).Data, SettingsRecord{}.Encode());
}

TEST(DeviceModel, UnknownCommandsAreAnsweredWith254) {
    Device d;
    for (int cmd : {0, 7, 8, 100, 249, 251}) {
        const auto a = d.Command(static_cast<std::uint8_t>(cmd));
        EXPECT_EQ(a.ErrorCode, 254) << cmd;
        EXPECT_TRUE(a.Data.empty());
    }
}

TEST(DeviceModel, CalibrationCommandsStoreRecordsFlagsAndThePcDate) {
    TDeviceConfig c = TDeviceConfig::Steady();
    c.InputCalibrated = false;
    c.OutputCalibrated = false;
    Device d(c);
    PollAnswer a = d.Poll();
    EXPECT_EQ(a.CalibrationFlags & (kv::calflag::Input | kv::calflag::Output), 0);
    EXPECT_EQ(a.CalibrationYear, 0);
    EXPECT_EQ(a.RAM2DataSource, srcFactory);

    kv::InputCalibrationRecord in;
    in.OFFSET_CH0 = -5;
    in.UREF = 1500.0f;
    std::vector<std::uint8_t> bytes = in.Encode();
    bytes.pop_back();
    EXPECT_EQ(d.Command(kv::cmdWriteInputCalibration, bytes).ErrorCode, 254);
    EXPECT_FALSE(d.model.InputCalibration());

    d.request.Year = 2027;
    d.request.Month = 3;
    d.request.Day = 14;
    d.Poll();
    EXPECT_EQ(d.Command(kv::cmdWriteInputCalibration, in.Encode()).ErrorCode, 0);
    ASSERT_TRUE(d.model.InputCalibration());
    EXPECT_EQ(*d.model.InputCalibration(), in);
    a = d.Poll();
    EXPECT_EQ(a.CalibrationFlags & (kv::calflag::Input | kv::calflag::Output), kv::calflag::Input);
    EXPECT_EQ(a.CalibrationYear, 2027);
    EXPECT_EQ(a.CalibrationMonth, 3);
    EXPECT_EQ(a.CalibrationDay, 14);
    EXPECT_EQ(a.RAM2DataSource, srcFRAM2);

    const kv::OutputCalibrationRecord out{11000, 54000, 10900, 54600};
    EXPECT_EQ(d.Command(kv::cmdWriteOutputCalibration, {1, 2, 3}).ErrorCode, 254);
    EXPECT_EQ(d.Command(kv::cmdWriteOutputCalibration, out.Encode()).ErrorCode, 0);
    EXPECT_EQ(*d.model.OutputCalibration(), out);
    EXPECT_EQ(d.Poll().CalibrationFlags & kv::calflag::Output, kv::calflag::Output);
}

// A maintenance bit is carried out when it first appears and acknowledged
// for as long as the requests carry it.
TEST(DeviceModel, WireResistanceStoredOnceAndAcknowledgedWhileRequested) {
    TDeviceConfig c = TDeviceConfig::Steady();
    c.Settings.Wires = 2;
    c.LeadResistance = 0.8;
    Device d(c);
    PollAnswer a = d.Poll();
    EXPECT_NEAR(a.PhysicalValue, 109.73 + 0.8, 0.005);

    d.model.SetSensor(sensorShorted); // the operator shorts the sensor at its end
    d.model.Advance(TDeviceModel::kCycleMs);
    a = d.Poll(kv::maint::Rof2Wire);
    EXPECT_EQ(a.MaintenanceAck, kv::maint::Rof2Wire);
    EXPECT_NEAR(a.WireResistance, 0.8, 1e-6);
    EXPECT_NEAR(a.PhysicalValue, 0.0, 1e-6);

    d.model.SetSensor(sensorOK);
    d.model.Advance(TDeviceModel::kCycleMs);
    a = d.Poll(kv::maint::Rof2Wire); // still requested: acknowledged, not stored again
    EXPECT_EQ(a.MaintenanceAck, kv::maint::Rof2Wire);
    EXPECT_NEAR(a.WireResistance, 0.8, 1e-6);
    EXPECT_NEAR(a.PhysicalValue, 109.73, 0.005);
    EXPECT_NEAR(a.CalculatedValue, 25.0, 1e-3);

    a = d.Poll();
    EXPECT_EQ(a.MaintenanceAck, 0);
    a = d.Poll(kv::maint::ResetOf2Wire);
    EXPECT_EQ(a.MaintenanceAck, kv::maint::ResetOf2Wire);
    EXPECT_EQ(a.WireResistance, 0.0f);
    EXPECT_NEAR(a.PhysicalValue, 109.73 + 0.8, 0.005);
}

TEST(DeviceModel, RestartHappensOnceAfterItsAcknowledgement) {
    Device d;
    d.model.Advance(5000);
    PollAnswer a = d.Poll(kv::maint::Reset | kv::maint::Pot0);
    EXPECT_EQ(a.MaintenanceAck, kv::maint::Reset | kv::maint::Pot0);
    EXPECT_EQ(d.model.Restarts(), 1u);
    EXPECT_FALSE(d.model.Handle(kv::cmdPoll, d.request.Encode()).has_value()); // restarting: silent
    d.model.Advance(300);
    a = d.Poll(kv::maint::Reset);  // back, but nothing measured yet
    EXPECT_EQ(a.MaintenanceAck, kv::maint::Reset);
    EXPECT_EQ(a.PhysicalValue, kv::kNoPhysicalValue);
    EXPECT_EQ(a.CalculatedValue, kv::kNoCalculatedValue);
    EXPECT_EQ(a.InternalTemperature, kv::kNoTemperature);
    EXPECT_EQ(a.Cycles, 0);
    d.model.Advance(TDeviceModel::kCycleMs);
    a = d.Poll(kv::maint::Reset);
    EXPECT_EQ(d.model.Restarts(), 1u); // the bit is still there, but already carried out
    EXPECT_NEAR(a.CalculatedValue, 25.0, 1e-3);
    EXPECT_EQ(a.Cycles, 1);
    d.Poll();
    d.Poll(kv::maint::Reset); // appears again: a second restart
    EXPECT_EQ(d.model.Restarts(), 2u);
}

TEST(DeviceModel, ClearingTheFramLeavesTheDeviceUncalibratedWithFactorySettings) {
    Device d;
    SettingsRecord s;
    s.Mode = 7;
    d.WriteSettings(s);
    PollAnswer a = d.Poll(kv::maint::FRAMClear);
    EXPECT_EQ(a.MaintenanceAck, kv::maint::FRAMClear);
    EXPECT_EQ(a.CalibrationFlags, 0);
    EXPECT_EQ(a.CalibrationYear, 0);
    EXPECT_EQ(d.model.Restarts(), 1u);
    d.model.Advance(1000);
    a = d.Poll(kv::maint::FRAMClear);
    EXPECT_EQ(d.model.Restarts(), 1u);
    EXPECT_EQ(a.RAM1DataSource, srcFactory);
    EXPECT_EQ(a.RAM2DataSource, srcFactory);
    EXPECT_EQ(d.Command(kv::cmdReadSettings).Data, SettingsRecord{}.Encode());
    // Measures on with the nominal board's values, which are not this board's.
    EXPECT_NEAR(a.CalculatedValue, 25.0, 3.0);
}

TEST(DeviceModel, TemperatureExtremesFollowAndClear) {
    TDeviceConfig c = TDeviceConfig::Steady();
    Device d(c);
    d.model.SetAmbient(30.0);
    d.model.Advance(TDeviceModel::kCycleMs);
    d.model.SetAmbient(20.0);
    d.model.Advance(TDeviceModel::kCycleMs);
    d.model.SetAmbient(25.0);
    d.model.Advance(TDeviceModel::kCycleMs);
    PollAnswer a = d.Poll();
    EXPECT_NEAR(a.InternalTemperature, 25.0, 1e-4);
    EXPECT_NEAR(a.InternalTemperatureMin, 20.0, 1e-4);
    EXPECT_NEAR(a.InternalTemperatureMax, 30.0, 1e-4);
    a = d.Poll(kv::maint::TempMinMaxClear);
    EXPECT_EQ(a.MaintenanceAck, kv::maint::TempMinMaxClear);
    EXPECT_NEAR(a.InternalTemperatureMin, 25.0, 1e-4);
    EXPECT_NEAR(a.InternalTemperatureMax, 25.0, 1e-4);
}

TEST(DeviceModel, PotentiometerEndsAreStoredAndScaleThePosition) {
    TDeviceConfig c = TDeviceConfig::Steady();
    c.Settings.Mode = 3;
    c.ProcessValue = 0.0;
    Device d(c);
    PollAnswer a = d.Poll();
    EXPECT_NEAR(a.PhysicalValue, 15.0, 1e-4);         // the wiper stops at 3 % of 500 ohm
    EXPECT_NEAR(a.CalculatedValue, 3.0, 1e-4);        // factory ends 0 and 500 ohm
    a = d.Poll(kv::maint::Pot0);
    EXPECT_NEAR(a.RofPot0, 15.0, 1e-4);
    d.model.SetProcessValue(100.0);
    d.model.Advance(TDeviceModel::kCycleMs);
    a = d.Poll(kv::maint::Pot100);
    EXPECT_NEAR(a.RofPot100, 485.0, 1e-3);
    EXPECT_NEAR(a.CalculatedValue, 100.0, 1e-3);
    d.model.SetProcessValue(50.0);
    d.model.Advance(TDeviceModel::kCycleMs);
    a = d.Poll();
    EXPECT_NEAR(a.CalculatedValue, 50.0, 1e-3);
    EXPECT_NEAR(a.OutputLevel, 0.5, 1e-5);
    a = d.Poll(kv::maint::PotDefault);
    EXPECT_EQ(a.RofPot0, 0.0f);
    EXPECT_EQ(a.RofPot100, 500.0f);
    EXPECT_NEAR(a.CalculatedValue, 50.0 * 0.94 + 3.0, 1e-3);

    // An emptied FRAM forgets the ends: uncalibrated potentiometer, no value.
    d.Poll(kv::maint::FRAMClear);
    d.model.Advance(1000);
    d.WriteSettings(SettingsRecord{3, 4, 3, 0, 0, 0.0f, 100.0f, 0, 0});
    a = d.Poll();
    EXPECT_EQ(a.StatusCode, kv::statusUncalibratedPot);
    EXPECT_EQ(a.CalibrationFlags & kv::calflag::Potentiometer, 0);
    EXPECT_EQ(a.CalculatedValue, kv::kNoCalculatedValue);
}

// Sensor faults give the sentinels, a status and the configured error level.
TEST(DeviceModel, SensorFaultsDriveSentinelsStatusAndErrorLevel) {
    struct {
        std::uint8_t outputMode, flags;
        float level;
    } const table[] = {
        {0, 0x00, -0.05f}, {0, 0x40, 1.125f}, {1, 0x00, 1.1f}, {2, 0x40, 1.1f},
        {3, 0x00, -0.05f}, {3, 0x40, 1.125f}, {4, 0x00, 1.1f}, {0, 0x80, 0.25f}, // disabled: holds
    };
    for (const auto& row : table) {
        Device d;
        d.WriteSettings(SettingsRecord{0, 4, 3, 0, 0, 0.0f, 100.0f, row.outputMode, row.flags});
        d.model.SetSensor(sensorOpen);
        d.model.Advance(TDeviceModel::kCycleMs);
        const PollAnswer a = d.Poll();
        EXPECT_EQ(a.PhysicalValue, kv::kNoPhysicalValue);
        EXPECT_EQ(a.CalculatedValue, kv::kNoCalculatedValue);
        EXPECT_EQ(a.StatusCode, kv::statusSensorOrWire);
        EXPECT_TRUE(a.ADStatusFlags & kv::adstat::CH0Overflow);
        EXPECT_NEAR(a.OutputLevel, row.level, 1e-6) << int(row.outputMode) << " " << int(row.flags);
    }
}

TEST(DeviceModel, RangeAndHardwareFaultsGiveTheirStatus) {
    struct {
        std::uint8_t mode;
        double value;
        float low, high;
        bool adc, fram;
        std::uint8_t status;
        std::uint8_t adstat, errors;
    } const table[] = {
        {7, 50.0, -100.0f, 100.0f, false, false, kv::statusOK, 0, 0},
        {7, 105.0, -100.0f, 110.0f, false, false, kv::statusInputOutOfRange, kv::adstat::InputOutOfRange, 0},
        {7, 130.0, -100.0f, 100.0f, false, false, kv::statusInputOutOfRange, kv::adstat::InputOutOfRange | kv::adstat::CH0Overflow, 0},
        {7, -130.0, -100.0f, 100.0f, false, false, kv::statusInputOutOfRange, kv::adstat::InputOutOfRange | kv::adstat::CH0Underflow, 0},
        {7, 60.0, 0.0f, 50.0f, false, false, kv::statusOutputOutOfRange, 0, kv::errflag::OutputRange},
        {5, 20.0, 20.0f, 20.0f, false, false, kv::statusOutputOutOfRange, 0, kv::errflag::OutputRange},
        {0, 900.0, 0.0f, 1000.0f, false, false, kv::statusInputOutOfRange, kv::adstat::InputOutOfRange, 0},
        {0, 25.0, 0.0f, 100.0f, false, true, kv::statusSevereError, 0, kv::errflag::FRAM},
        {0, 25.0, 0.0f, 100.0f, true, false, kv::statusSevereError, kv::adstat::CH0Overflow | kv::adstat::CH1Overflow, kv::errflag::ADC},
    };
    for (const auto& row : table) {
        TDeviceConfig c = TDeviceConfig::Steady();
        c.Settings.Mode = row.mode;
        c.Settings.FizikaiForOutL = row.low;
        c.Settings.FizikaiForOutH = row.high;
        c.ProcessValue = row.value;
        Device d(c);
        d.model.SetADCFault(row.adc);
        d.model.SetFRAMFault(row.fram);
        d.model.Advance(TDeviceModel::kCycleMs);
        const PollAnswer a = d.Poll();
        EXPECT_EQ(a.StatusCode, row.status) << int(row.mode) << " " << row.value;
        EXPECT_EQ(a.ADStatusFlags, row.adstat) << int(row.mode) << " " << row.value;
        EXPECT_EQ(a.ErrorFlags, row.errors) << int(row.mode) << " " << row.value;
    }
}

// Thermocouple mode: the terminals' EMF as the physical value, compensated
// by the cold junction the settings name.
TEST(DeviceModel, ThermocoupleWithColdJunctionCompensation) {
    struct {
        std::uint8_t type, cjc;
        double expectCalculated, expectCJC;
    } const table[] = {
        {3, 0, 100.0, kv::kNoTemperature},
        {3, 1, 100.0, 23.0},
        {3, 2, 100.0, 23.0},
        {2, 0, 100.0, kv::kNoTemperature},
        {4, 0, 100.0, kv::kNoTemperature},
        {9, 2, 100.0, 23.0},
    };
    for (const auto& row : table) {
        TDeviceConfig c = TDeviceConfig::Steady();
        c.Settings.Mode = 2;
        c.Settings.TCType = row.type;
        c.Settings.CJC = row.cjc;
        c.Settings.Wires = 2;
        c.ProcessValue = 100.0;
        c.LeadResistance = 0.0;
        Device d(c);
        d.model.Advance(TDeviceModel::kCycleMs);
        const PollAnswer a = d.Poll();
        const auto tc = static_cast<TThermocouple>(row.type);
        EXPECT_NEAR(a.PhysicalValue, ThermocoupleEmf(tc, 100.0) - ThermocoupleEmf(tc, 23.0), 1e-5);
        EXPECT_NEAR(a.CalculatedValue, row.expectCalculated, 1e-3) << int(row.type) << " " << int(row.cjc);
        EXPECT_NEAR(a.CJCTemperature, row.expectCJC, 1e-3);
        EXPECT_EQ(a.SwitchStates & kv::sw::PotFix, kv::sw::PotFix); // the voltage path
        EXPECT_EQ(a.AuCH0, 4);
    }
    // Without compensation the device reads the junction difference only.
    TDeviceConfig c = TDeviceConfig::Steady();
    c.Settings.Mode = 2;
    c.Settings.CJC = 3;
    c.ProcessValue = 100.0;
    Device d(c);
    double t = 0;
    ASSERT_TRUE(ThermocoupleTemperature(tcK, ThermocoupleEmf(tcK, 100.0) - ThermocoupleEmf(tcK, 23.0), t));
    EXPECT_NEAR(d.Poll().CalculatedValue, t, 1e-3);
}

TEST(DeviceModel, ForcedSwitchesAndPwmShowWhileRequested) {
    Device d;
    PollAnswer a = d.Poll(0, 0xAE);
    EXPECT_EQ(a.SwitchStates, kv::sw::AZ | kv::sw::PotFix | kv::sw::ThreeWAlt | kv::sw::I400uA | kv::sw::KelvinNeg);
    a = d.Poll(0, 0x92);
    EXPECT_EQ(a.SwitchStates, kv::sw::Kelvin | kv::sw::I400uA | kv::sw::AZNeg | kv::sw::ThreeWAltNeg);
    a = d.Poll(0, 0x00);
    EXPECT_EQ(a.SwitchStates, kv::sw::Kelvin | kv::sw::I400uA | kv::sw::AZNeg | kv::sw::ThreeWAltNeg);
    a = d.Poll(0, 0x40); // without bit 7 nothing is forced
    EXPECT_EQ(a.SwitchStates & kv::sw::ThreeW, 0);

    // Uncalibrated output: nominal PWM values 10923 (4 mA) and 54613 (20 mA).
    a = d.Poll(0, 0, 32768);
    EXPECT_NEAR(a.OutputLevel, (32768.0 - 10923.0) / (54613.0 - 10923.0), 1e-6);
    EXPECT_EQ(d.Command(kv::cmdWriteOutputCalibration, kv::OutputCalibrationRecord{1000, 2000, 0, 1}.Encode()).ErrorCode, 0);
    a = d.Poll(0, 0, 1500);
    EXPECT_NEAR(a.OutputLevel, 0.5, 1e-6);
    a = d.Poll(0, 0, 0);
    EXPECT_NEAR(a.OutputLevel, 0.25, 1e-6);
}

TEST(DeviceModel, CountsFollowTheMeasuredQuantity) {
    Device d;
    auto settle = [&](double value) {
        d.model.SetProcessValue(value);
        for (int i = 0; i < 60; ++i)
            d.model.Advance(TDeviceModel::kCycleMs);
        return d.Poll();
    };
    const PollAnswer cold = settle(25.0), warm = settle(100.0), hot = settle(200.0);
    EXPECT_LT(cold.ADCH0Present, warm.ADCH0Present);
    EXPECT_LT(warm.ADCH0Present, hot.ADCH0Present);
    // Linear in the resistance, and the averages settle on the present count.
    const double slope1 = (warm.ADCH0Present - cold.ADCH0Present) / (PtResistance(100, 100) - PtResistance(100, 25));
    const double slope2 = (hot.ADCH0Present - warm.ADCH0Present) / (PtResistance(100, 200) - PtResistance(100, 100));
    EXPECT_NEAR(slope1 / slope2, 1.0, 1e-5);
    EXPECT_NEAR(hot.ADCH0Average, hot.ADCH0Present, 2);
    EXPECT_EQ(cold.ADCH1Present, hot.ADCH1Present); // the reference does not move
    EXPECT_EQ(hot.Cycles, 181);
}

// A reference resistor in place of the sensor reads as the sensor would.
TEST(DeviceModel, ReferenceSourcesReplaceTheSensor) {
    struct {
        std::uint8_t mode;
        TSensorState state;
        double value, calculated;
    } const table[] = {
        {0, sensorResistor, 138.5055, 100.0}, {1, sensorResistor, 1000.0, 0.0}, {5, sensorResistor, 250.0, 250.0},
        {7, sensorVoltage, -42.5, -42.5},     {2, sensorVoltage, 4.096, 100.0 + 0.0}, {7, sensorShorted, 0.0, 0.0},
    };
    for (const auto& row : table) {
        TDeviceConfig c = TDeviceConfig::Steady();
        c.Settings.Mode = row.mode;
        c.Settings.CJC = 3; // none: the calibrator's voltage is the whole EMF
        Device d(c);
        d.model.SetSensor(row.state, row.value);
        d.model.Advance(TDeviceModel::kCycleMs);
        EXPECT_NEAR(d.Poll().CalculatedValue, row.calculated, 0.01) << int(row.mode) << " " << row.value;
    }
}

// The factory's input calibration, run against the model with the
// references each step connects, finds the board's true values; stored, they
// make a board that started with another board's calibration measure right.
TEST(DeviceModel, InputCalibrationStepsFindTheBoardValues) {
    TDeviceConfig config = TDeviceConfig::Steady();
    config.BoardSeed = 7;
    config.ForeignCalibration = true;
    Device d(config);
    d.model.Advance(TDeviceModel::kCycleMs);
    EXPECT_GT(std::fabs(d.Poll().CalculatedValue - 25.0), 0.1);
    auto read = [&](std::uint8_t fet, TSensorState s, double value) {
        d.model.SetSensor(s, value);
        d.Poll(0, fet);
        d.model.Advance(TDeviceModel::kCycleMs);
        const PollAnswer a = d.Poll(0, fet);
        return std::pair<std::int32_t, std::int32_t>{a.ADCH0Present, a.ADCH1Present};
    };
    const double e500 = 500.0, e5k = 5000.0, eu = 125.0 * 1000.0;
    auto [s1ch0, s1ch1] = read(0x92, sensorOpen, 0);
    const std::int32_t OFFSET_CH0 = s1ch0, OFFSET_CH1_REF_500 = s1ch1;
    const std::int32_t OFFSET_CH1_REF_5K = read(0x80, sensorOpen, 0).second;
    auto [s3ch0, s3ch1] = read(0xC6, sensorOpen, 0);
    auto [s5ch0, s5ch1] = read(0xC4, sensorOpen, 0);
    const std::int32_t OFFSET_CH1_3W_500 = s3ch1, OFFSET_CH1_3W_5K = s5ch1;
    auto [s6ch0, s6ch1] = read(0xD2, sensorResistor, e500);
    const std::int32_t a6 = s6ch0 - OFFSET_CH0, d6 = s6ch1 - OFFSET_CH1_REF_500;
    const std::int32_t b7 = read(0xC6, sensorResistor, e500).second - OFFSET_CH1_3W_500;
    const double RREF_500_3W = d6 * e500 / -b7, EA_500 = static_cast<double>(a6) / -b7;
    auto [s10ch0, s10ch1] = read(0xC0, sensorResistor, e5k);
    const std::int32_t a10 = s10ch0 - OFFSET_CH0, d10 = s10ch1 - OFFSET_CH1_REF_5K;
    const std::int32_t b11 = read(0xC4, sensorResistor, e5k).second - OFFSET_CH1_3W_5K;
    const double RREF_5K_3W = d10 * e5k / -b11, EA_5K = static_cast<double>(a10) / -b11;
    const std::int32_t b13 = read(0xAE, sensorResistor, e500).second - OFFSET_CH1_3W_500;
    const double RREF_500_2W = (read(0x9A, sensorResistor, e500).second - OFFSET_CH1_REF_500) * e500 / -b13;
    const std::int32_t b16 = read(0xAC, sensorResistor, e5k).second - OFFSET_CH1_3W_5K;
    const double RREF_5K_2W = (read(0xA8, sensorResistor, e5k).second - OFFSET_CH1_REF_5K) * e5k / -b16;
    auto [s18ch0, s18ch1] = read(0x92, sensorResistor, e500);
    const double RREF_500_4W = static_cast<double>(s18ch1 - OFFSET_CH1_REF_500) * e500 / (s18ch0 - OFFSET_CH0);
    auto [s19ch0, s19ch1] = read(0x80, sensorResistor, e5k);
    const double RREF_5K_4W = static_cast<double>(s19ch1 - OFFSET_CH1_REF_5K) * e5k / (s19ch0 - OFFSET_CH0);
    const std::int32_t OFFSET_CH0_G4 = read(0x98, sensorShorted, 0).first;
    const std::int32_t AZ0 = read(0xA8, sensorShorted, 0).first;
    const double UREF = 8388608.0 / (read(0x88, sensorVoltage, 125.0).first - OFFSET_CH0_G4) * 3 * 2 * eu / 1000.0;

    const kv::InputCalibrationRecord board = d.model.Board().Calibration();
    const kv::InputCalibrationRecord found{OFFSET_CH0, OFFSET_CH1_REF_500, OFFSET_CH1_REF_5K, OFFSET_CH1_3W_500,
        OFFSET_CH1_3W_5K, float(RREF_500_3W), float(RREF_500_2W), float(RREF_500_4W), float(RREF_5K_4W),
        float(RREF_5K_3W), float(RREF_5K_2W), float(UREF), float(EA_500), float(EA_5K), AZ0, OFFSET_CH0_G4,
        s3ch0, s5ch0};
    const struct {
        float found, board;
    } reals[] = {{found.RREF_500_3W, board.RREF_500_3W}, {found.RREF_500_2W, board.RREF_500_2W},
                 {found.RREF_500_4W, board.RREF_500_4W}, {found.RREF_5K_4W, board.RREF_5K_4W},
                 {found.RREF_5K_3W, board.RREF_5K_3W},   {found.RREF_5K_2W, board.RREF_5K_2W},
                 {found.UREF, board.UREF},               {found.EA_500, board.EA_500},
                 {found.EA_5K, board.EA_5K}};
    for (const auto& r : reals)
        EXPECT_NEAR(r.found / r.board, 1.0, 2e-6) << r.found << " " << r.board;
    for (auto [f, b] : {std::pair{found.OFFSET_CH0, board.OFFSET_CH0}, {found.OFFSET_CH1_REF_500, board.OFFSET_CH1_REF_500},
                        {found.OFFSET_CH1_REF_5K, board.OFFSET_CH1_REF_5K}, {found.OFFSET_CH1_3W_500, board.OFFSET_CH1_3W_500},
                        {found.OFFSET_CH1_3W_5K, board.OFFSET_CH1_3W_5K}, {found.AZ0, board.AZ0},
                        {found.OFFSET_CH0_G4, board.OFFSET_CH0_G4}, {found.OFFSET_CH0_3W_500, board.OFFSET_CH0_3W_500},
                        {found.OFFSET_CH0_3W_5K, board.OFFSET_CH0_3W_5K}})
        EXPECT_EQ(f, b);

    // Stored, the record makes every wiring and the voltage path measure right.
    EXPECT_EQ(d.Command(kv::cmdWriteInputCalibration, found.Encode()).ErrorCode, 0);
    d.model.SetSensor(sensorOK);
    const struct {
        std::uint8_t mode, wires;
        double value, tolerance; // the residual lead mismatch of 3 wires
    } table[] = {{0, 4, 25.0, 2e-3}, {1, 4, 25.0, 2e-3}, {0, 3, 25.0, 0.02}, {5, 4, 250.0, 2e-3}, {7, 4, 25.0, 1e-4}};
    for (const auto& row : table) {
        SettingsRecord settings;
        settings.Mode = row.mode;
        settings.Wires = row.wires;
        d.WriteSettings(settings);
        d.model.SetProcessValue(row.value);
        d.model.Advance(TDeviceModel::kCycleMs);
        EXPECT_NEAR(d.Poll().CalculatedValue, row.value, row.tolerance) << int(row.mode) << " " << int(row.wires);
    }
}

TEST(DeviceModel, DriftAndNoiseAreSeededAndSmall) {
    TDeviceConfig c;
    c.Seed = 42;
    TDeviceModel a(c), b(c);
    c.Seed = 43;
    TDeviceModel other(c);
    bool differs = false;
    for (int i = 0; i < 100; ++i) {
        a.Advance(1000);
        b.Advance(1000);
        other.Advance(1000);
        EXPECT_EQ(a.Snapshot(), b.Snapshot());
        differs |= !(a.Snapshot() == other.Snapshot());
        EXPECT_NEAR(a.Snapshot().CalculatedValue, 25.0, 0.5 + 0.2);
    }
    EXPECT_TRUE(differs);
}

// Whatever arrives, the device answers within its records and keeps sane state.
TEST(DeviceModel, GarbledRequestsNeverBreakIt) {
    TDeviceModel model;
    std::uint64_t r = 12345;
    auto next = [&r] {
        r ^= r << 13;
        r ^= r >> 7;
        r ^= r << 17;
        return r;
    };
    for (int i = 0; i < 5000; ++i) {
        std::vector<std::uint8_t> data(next() % 90);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(next());
        const auto cmd = static_cast<std::uint8_t>(next() % 9);
        model.Advance(static_cast<std::uint32_t>(next() % 2000));
        const auto a = model.Handle(cmd, data);
        if (!a)
            continue; // restarting
        if (cmd == kv::cmdPoll)
            EXPECT_EQ(a->Data.size(), PollAnswer::Size);
        else if (cmd == kv::cmdReadSettings || cmd == kv::cmdReadFactoryDefaults)
            EXPECT_EQ(a->Data.size(), SettingsRecord::Size);
        else
            EXPECT_TRUE(a->Data.empty());
        const SettingsRecord s = model.Settings();
        EXPECT_LE(s.Mode, 7);
        EXPECT_GE(s.Wires, 2);
        EXPECT_LE(s.Wires, 4);
        EXPECT_TRUE(std::isfinite(s.FizikaiForOutL) && std::isfinite(s.FizikaiForOutH));
    }
}

// Whatever a verification sources in place of the sensor (a resistance from
// the platinum tables, a thermocouple's millivolts), the device measures it
// as it would that sensor on its leads: 4 wires sense them away, 3 leave
// their mismatch, 2 their whole resistance until it is stored.
TEST(DeviceModel, AnySourcedValueIsMeasuredOnTheLeadsOfItsWiring) {
    struct {
        std::uint8_t mode;
        double ohm;
    } const sources[] = {
        {0, PtResistance(100.0, -199.5)}, {0, PtResistance(100.0, -38.25)}, {0, PtResistance(100.0, 0.0)},
        {0, PtResistance(100.0, 156.6)},  {0, PtResistance(100.0, 419.5)},  {1, PtResistance(1000.0, -50.0)},
        {1, PtResistance(1000.0, 231.9)}, {1, PtResistance(1000.0, 660.3)}, {5, 12.34},
        {5, 487.0},                       {6, 1234.5},                      {6, 4999.0},
    };
    const double leads = 1.6, mismatch = 0.02;
    for (const auto& src : sources) {
        for (std::uint8_t wires : {2, 3, 4}) {
            SCOPED_TRACE(testing::Message() << "mode " << int(src.mode) << ", " << src.ohm << " ohm, " << int(wires) << " wires");
            TDeviceConfig c = TDeviceConfig::Steady();
            c.BoardSeed = 11; // its own calibration: it measures right
            c.Settings.Mode = src.mode;
            c.Settings.Wires = wires;
            Device d(c);
            ASSERT_TRUE(d.model.SetLeads(leads, mismatch));
            d.model.SetSensor(sensorResistor, src.ohm);
            d.model.Advance(TDeviceModel::kCycleMs);
            const double left = wires == 2 ? leads : wires == 3 ? leads * mismatch : 0.0;
            PollAnswer a = d.Poll();
            // The record's and the answer's singles carry 7 digits.
            const double digits = 1e-4 + 1e-7 * src.ohm;
            EXPECT_NEAR(a.PhysicalValue, src.ohm + left, digits);
            const double r0 = src.mode == 0 ? 100.0 : 1000.0;
            double expected = src.ohm + left;
            if (src.mode <= 1) {
                ASSERT_TRUE(PtTemperature(r0, src.ohm + left, expected));
            }
            EXPECT_NEAR(a.CalculatedValue, expected, 1e-3);
            if (wires != 2)
                continue;
            // The leads shorted at the sensor's end, their resistance stored:
            // from then on 2 wires measure the source itself.
            d.model.SetSensor(sensorShorted);
            d.model.Advance(TDeviceModel::kCycleMs);
            EXPECT_NEAR(d.Poll(kv::maint::Rof2Wire).WireResistance, leads, 1e-4);
            d.model.SetSensor(sensorResistor, src.ohm);
            d.model.Advance(TDeviceModel::kCycleMs);
            a = d.Poll();
            EXPECT_NEAR(a.PhysicalValue, src.ohm, digits);
        }
    }
    TDeviceModel m;
    EXPECT_FALSE(m.SetLeads(-0.1, 0.0));
    EXPECT_FALSE(m.SetLeads(1.0, 1.5));
    EXPECT_FALSE(m.SetLeads(std::nan(""), 0.0));
    EXPECT_EQ(m.LeadResistance(), TDeviceConfig{}.LeadResistance);
}

// Millivolts at the terminals: the thermocouple mode adds the cold
// junction's EMF at the device's internal temperature (internal
// compensation), or at 0 °C without compensation; the millivolt mode reads
// them as they are.
TEST(DeviceModel, AnySourcedMillivoltsAreMeasuredWithTheColdJunctionAtTheTerminals) {
    struct {
        std::uint8_t mode, type, cjc;
        double mv;
    } const table[] = {
        {2, tcK, 0, -5.0}, {2, tcK, 0, 0.0},   {2, tcK, 0, 4.096}, {2, tcK, 0, 41.276}, {2, tcJ, 0, 21.848},
        {2, tcT, 0, -3.5}, {2, tcS, 0, 9.587}, {2, tcK, 3, 4.096}, {2, tcN, 3, 12.0},   {7, tcK, 0, -73.25},
        {7, tcK, 0, 0.125}, {7, tcK, 0, 99.9},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(testing::Message() << "mode " << int(row.mode) << " type " << int(row.type) << " cjc "
                                        << int(row.cjc) << " " << row.mv << " mV");
        TDeviceConfig c = TDeviceConfig::Steady();
        c.Settings.Mode = row.mode;
        c.Settings.TCType = row.type;
        c.Settings.CJC = row.cjc;
        c.Ambient = 27.5; // the internal temperature, without warm-up
        Device d(c);
        d.model.SetSensor(sensorVoltage, row.mv);
        d.model.Advance(TDeviceModel::kCycleMs);
        const PollAnswer a = d.Poll();
        EXPECT_NEAR(a.PhysicalValue, row.mv, 1e-4);
        double expected = row.mv;
        if (row.mode == 2) {
            const auto type = static_cast<TThermocouple>(row.type);
            const double junction = row.cjc == 0 ? 27.5 : 0.0;
            ASSERT_TRUE(ThermocoupleTemperature(type, row.mv + ThermocoupleEmf(type, junction), expected));
        }
        EXPECT_NEAR(a.CalculatedValue, expected, 2e-3);
    }
}
