// Byte layouts of the device records, shared by the program and the simulator.
#include "DeviceRecords.h"

#include <gtest/gtest.h>

#include <cmath>

#include <bit>
#include <cstring>

using namespace kv;

namespace {
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
float F32(const Bytes& b, std::size_t at) { return std::bit_cast<float>(Le32(b, at)); }
std::uint16_t Le16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }
} // namespace

TEST(Records, SettingsDefaultsAreTheFifteenKnownBytes) {
    const Bytes expected = {0x00, 0x04, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC8, 0x42, 0x00, 0x00};
    EXPECT_EQ(SettingsRecord{}.Encode(), expected);
    EXPECT_EQ(SettingsRecord::Decode(expected), SettingsRecord{});
}

TEST(Records, PollRequestOfTheSixthOfDecember) {
    PollRequest r;
    r.Year = 2026;
    r.Month = 12;
    r.Day = 6;
    EXPECT_EQ(r.Encode(), (Bytes{0x00, 0x00, 0x00, 0xEA, 0x07, 0x0C, 0x06, 0x00}));
    r.PWMForceValue = 1234;
    r.MaintenanceBits = 0x30;
    r.FETControl = 0xAE;
    const Bytes b = r.Encode();
    EXPECT_EQ(b, (Bytes{0xD2, 0x04, 0x30, 0xEA, 0x07, 0x0C, 0x06, 0xAE}));
    EXPECT_EQ(PollRequest::Decode(b), r);
}

TEST(Records, PollAnswerFieldsSitAtTheirOffsets) {
    PollAnswer a;
    a.FirmwareYear = 2016;
    a.FirmwareMonth = 10;
    a.FirmwareDay = 11;
    a.ADCH0Present = -2;
    a.ADCH1Present = 0x01020304;
    a.ADCH0Average = 8388607;
    a.ADCH1Average = -8388607;
    a.RAM1DataSource = 2;
    a.RAM2DataSource = 3;
    a.ADStatusFlags = 0x88;
    a.MaintenanceAck = 0x30;
    a.AuCH0 = 4;
    a.ErrorFlags = 0x48;
    a.PhysicalValue = 109.73f;
    a.PCBIdentityAddress = 1;
    a.OutputLevel = 0.5f;
    a.WorkingTime = 1500;
    a.CalibrationYear = 2026;
    a.CalibrationMonth = 7;
    a.CalibrationDay = 9;
    a.InternalTemperature = 31.5f;
    a.InternalTemperatureMin = -199.9f;
    a.InternalTemperatureMax = 40.25f;
    a.SwitchStates = 0x0108;
    a.CalibrationFlags = 0xE0;
    a.CalculatedValue = 25.3f;
    a.CJCTemperature = -200.0f;
    a.WireResistance = 0.6f;
    a.RofPot0 = 15.0f;
    a.RofPot100 = 485.0f;
    a.Cycles = 200;
    a.ADSamplesPs = 0x1234;
    a.StatusCode = 5;
    const Bytes b = a.Encode();
    ASSERT_EQ(b.size(), 82u);
    EXPECT_EQ(Le16(b, 0), 2016);
    EXPECT_EQ(b[2], 10);
    EXPECT_EQ(b[3], 11);
    EXPECT_EQ(Le32(b, 4), 0xFFFFFFFEu);
    EXPECT_EQ(Le32(b, 8), 0x01020304u);
    EXPECT_EQ(Le32(b, 12), 8388607u);
    EXPECT_EQ(static_cast<std::int32_t>(Le32(b, 16)), -8388607);
    EXPECT_EQ(b[20], 2);
    EXPECT_EQ(b[21], 3);
    EXPECT_EQ(b[22], 0x88);
    EXPECT_EQ(b[23], 0x30);
    EXPECT_EQ(b[24], 4);
    EXPECT_EQ(b[25], 0x48);
    EXPECT_EQ(F32(b, 26), 109.73f);
    EXPECT_EQ(b[30], 1);
    EXPECT_EQ(F32(b, 31), 0.5f);
    EXPECT_EQ(Le32(b, 35), 1500u);
    EXPECT_EQ(Le16(b, 39), 2026);
    EXPECT_EQ(b[41], 7);
    EXPECT_EQ(b[42], 9);
    EXPECT_EQ(F32(b, 43), 31.5f);
    EXPECT_EQ(F32(b, 47), -199.9f);
    EXPECT_EQ(F32(b, 51), 40.25f);
    EXPECT_EQ(Le16(b, 55), 0x0108);
    EXPECT_EQ(b[57], 0xE0);
    EXPECT_EQ(F32(b, 58), 25.3f);
    EXPECT_EQ(F32(b, 62), -200.0f);
    EXPECT_EQ(F32(b, 66), 0.6f);
    EXPECT_EQ(F32(b, 70), 15.0f);
    EXPECT_EQ(F32(b, 74), 485.0f);
    EXPECT_EQ(b[78], 200);
    EXPECT_EQ(Le16(b, 79), 0x1234);
    EXPECT_EQ(b[81], 5);
    EXPECT_EQ(PollAnswer::Decode(b), a);
}

TEST(Records, CalibrationRecordsKeepTheirFieldOrder) {
    InputCalibrationRecord c;
    c.OFFSET_CH0 = -1;
    c.OFFSET_CH1_REF_500 = 2;
    c.OFFSET_CH1_REF_5K = 3;
    c.OFFSET_CH1_3W_500 = 4;
    c.OFFSET_CH1_3W_5K = 5;
    c.RREF_500_3W = 250.0f;
    c.RREF_500_2W = 251.0f;
    c.RREF_500_4W = 252.0f;
    c.RREF_5K_4W = 2500.0f;
    c.RREF_5K_3W = 2501.0f;
    c.RREF_5K_2W = 2502.0f;
    c.UREF = 1500.0f;
    c.EA_500 = 0.5f;
    c.EA_5K = 0.25f;
    c.AZ0 = 17;
    c.OFFSET_CH0_G4 = 18;
    c.OFFSET_CH0_3W_500 = 19;
    c.OFFSET_CH0_3W_5K = -20;
    const Bytes b = c.Encode();
    ASSERT_EQ(b.size(), 72u);
    EXPECT_EQ(Le32(b, 0), 0xFFFFFFFFu);
    const std::int32_t ints[] = {2, 3, 4, 5};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(static_cast<std::int32_t>(Le32(b, 4 + 4 * i)), ints[i]);
    const float reals[] = {250.0f, 251.0f, 252.0f, 2500.0f, 2501.0f, 2502.0f, 1500.0f, 0.5f, 0.25f};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(F32(b, 20 + 4 * i), reals[i]) << "real " << i;
    EXPECT_EQ(Le32(b, 56), 17u);
    EXPECT_EQ(Le32(b, 60), 18u);
    EXPECT_EQ(Le32(b, 64), 19u);
    EXPECT_EQ(static_cast<std::int32_t>(Le32(b, 68)), -20);
    EXPECT_EQ(InputCalibrationRecord::Decode(b), c);

    const OutputCalibrationRecord o{1000, 0xFFFF, 0x1234, 2};
    EXPECT_EQ(o.Encode(), (Bytes{0xE8, 0x03, 0xFF, 0xFF, 0x34, 0x12, 0x02, 0x00}));
    EXPECT_EQ(OutputCalibrationRecord::Decode(o.Encode()), o);
}

// A short answer never reads past its end: a field that does not fit reads
// as 0 and the fields before it keep their values.
TEST(Records, ShortInputReadsZeroBeyondItsEnd) {
    PollAnswer full;
    full.FirmwareYear = 2016;
    full.ADCH0Present = 77;
    full.PhysicalValue = 1.5f;
    full.StatusCode = 3;
    const Bytes b = full.Encode();
    for (std::size_t n = 0; n <= b.size(); ++n) {
        const Bytes part(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n));
        const PollAnswer a = PollAnswer::Decode(part);
        EXPECT_EQ(a.FirmwareYear, n >= 2 ? 2016 : 0) << n;
        EXPECT_EQ(a.ADCH0Present, n >= 8 ? 77 : 0) << n;
        EXPECT_EQ(a.PhysicalValue, n >= 30 ? 1.5f : 0.0f) << n;
        EXPECT_EQ(a.StatusCode, n == 82 ? 3 : 0) << n;
    }
    const Bytes three = {0x07, 0x02, 0x01};
    const SettingsRecord s = SettingsRecord::Decode(three);
    EXPECT_EQ(s.Mode, 7);
    EXPECT_EQ(s.Wires, 2);
    EXPECT_EQ(s.TCType, 1);
    EXPECT_EQ(s.CJC, 0);
    EXPECT_EQ(s.FizikaiForOutH, 0.0f);
}

TEST(Records, ReaderTakesARealBitForBit) {
    const Bytes nan = {0x00, 0x00, 0xC0, 0x7F};
    TRecordReader r(nan);
    EXPECT_TRUE(std::isnan(r.Single()));
    EXPECT_EQ(r.Position(), 4u);
    EXPECT_EQ(r.Byte(), 0);
    EXPECT_EQ(r.Position(), 4u);
}
