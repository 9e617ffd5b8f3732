#pragma once
// kvctl's maintenance actions: the words a script gives, the bit each sets in
// the poll, and what it does (shared by the command and its help).
#include "DeviceRecords.h"

#include <cstdint>

namespace kvctl {

// Polls that carry a maintenance bit before kvctl gives up waiting for the
// acknowledgement (the window would carry it until the user lets go).
constexpr int kMaintenancePolls = 100;

struct TMaintenanceAction {
    const char* name;
    std::uint8_t bit;
    const char* what;
};
inline constexpr TMaintenanceAction kActions[] = {
    {"restart", kv::maint::Reset, "restart the device"},
    {"clear-fram", kv::maint::FRAMClear, "fill the whole FRAM with 0xFF and restart (as if never calibrated)"},
    {"store-wire-resistance", kv::maint::Rof2Wire, "store the present wire resistance as 0 ohm"},
    {"clear-wire-resistance", kv::maint::ResetOf2Wire, "clear the stored wire resistance"},
    {"clear-minmax", kv::maint::TempMinMaxClear, "clear the internal temperature minimum and maximum"},
    {"pot-0", kv::maint::Pot0, "store the present potentiometer position as 0 %"},
    {"pot-100", kv::maint::Pot100, "store the present potentiometer position as 100 %"},
    {"pot-default", kv::maint::PotDefault, "restore the factory potentiometer values"},
};

} // namespace kvctl
