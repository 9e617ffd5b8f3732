// Which maintenance actions the settings page offers for a device's
// settings, and which pending ones a poll answer ends.
#include "SettingsActions.h"
#include "SettingsModel.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr std::uint8_t kAlways = kv::maint::Reset | kv::maint::FRAMClear | kv::maint::TempMinMaxClear;
constexpr std::uint8_t kWires = kv::maint::Rof2Wire | kv::maint::ResetOf2Wire;
constexpr std::uint8_t kPot = kv::maint::Pot0 | kv::maint::Pot100 | kv::maint::PotDefault;

} // namespace

TEST(SettingsActions, OfferedBySettings) {
    const struct {
        int mode, wires, cjc; // item indices: wires 0 is "2"
        std::uint8_t offered;
    } cases[] = {
        {0, 0, 0, kAlways | kWires}, {0, 1, 0, kAlways},         {0, 2, 0, kAlways},
        {1, 0, 3, kAlways | kWires}, {5, 0, 0, kAlways | kWires}, {6, 2, 0, kAlways},
        {2, 0, 0, kAlways},          {2, 0, 1, kAlways | kWires}, {2, 2, 2, kAlways | kWires},
        {2, 0, 3, kAlways},          {3, 0, 0, kAlways | kPot},   {4, 2, 1, kAlways | kPot},
        {7, 0, 1, kAlways},          {0, -1, 0, kAlways},         {-1, 0, 0, kAlways},
    };
    for (const auto& c : cases) {
        kv::SettingsPage page;
        page.Mode = c.mode;
        page.Wires = c.wires;
        page.CJC = c.cjc;
        EXPECT_EQ(kv::MaintenanceOffered(page), c.offered) << c.mode << " " << c.wires << " " << c.cjc;
    }
    // A record as the device sends it: 2 wires in mode 0.
    kv::SettingsRecord r;
    r.Wires = 2;
    kv::DisplayFormats formats;
    EXPECT_EQ(kv::MaintenanceOffered(kv::PageFromRecord(r, formats)), kAlways | kWires);
}

TEST(SettingsActions, EndedByAPollAnswer) {
    const struct {
        std::uint8_t ack;
        float physical;
        std::uint8_t ended;
    } cases[] = {
        {0, 50.0f, 0},
        {kv::maint::Reset | kv::maint::Pot0, 50.0f, kv::maint::Reset | kv::maint::Pot0},
        {0, 0.0f, 0},
        {0, 100.0f, 0},
        {0, -0.01f, kv::maint::Rof2Wire},
        {0, 100.01f, kv::maint::Rof2Wire},
        {kv::maint::PotDefault, std::numeric_limits<float>::quiet_NaN(), kv::maint::Rof2Wire | kv::maint::PotDefault},
        {kv::maint::Rof2Wire, 20.0f, kv::maint::Rof2Wire},
    };
    for (const auto& c : cases) {
        kv::PollAnswer a;
        a.MaintenanceAck = c.ack;
        a.PhysicalValue = c.physical;
        EXPECT_EQ(kv::MaintenanceEndedBy(a), c.ended) << int(c.ack) << " " << c.physical;
    }
}
