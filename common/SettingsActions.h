#pragma once
// Which groups the settings page shows for a set of settings, which one-shot
// maintenance actions those groups offer, and the rules the actions follow
// once asked for. The window's page, its poll cycle and kvctl's maintenance
// command all go by these, so that kvctl never asks the device for what the
// window would not offer (storing a 4-wire sensor's whole resistance as the
// wires' resistance, for instance).
#include "DeviceRecords.h"

#include <cstdint>

namespace kv {

struct SettingsPage;

// The page's groups for a mode, wiring and CJC selection (item indices as
// the radio groups hold them, -1 for none). No mode selected: nothing
// decided (`decided` false), the page leaves its groups as they are.
struct SettingsGroups {
    bool decided = false;
    bool Wires = false;     // RadioGroup_Wires
    bool TCType = false;    // RadioGroup_TCType
    bool CJC = false;       // RadioGroup_CJC
    bool Rof2Wire = false;  // GroupBox_Rof2Wire: store / clear the wire resistance
    bool CJCTemp = false;   // GroupBox_CJCTemp
    bool PotCal = false;    // GroupBox_PotCal: potentiometer end points
    bool ThermocouplePlace = false; // GroupBox_Rof2Wire below RadioGroup_CJC
};
SettingsGroups GroupsForSelection(int mode, int wires, int cjc);

// Maintenance bits of the actions the page offers for these settings:
// restart, FRAM clear and the temperature extremes always; the wire
// resistance pair only where its group shows (2 wires, or a thermocouple's
// external cold-junction sensor); the potentiometer group only in modes 3
// and 4.
std::uint8_t MaintenanceOffered(const SettingsPage& page);

// The wire resistance can be stored as 0 ohm only while the measured
// resistance is a plausible one for wires: 0 to 100 ohm, both included.
bool WireResistanceStorable(double physicalValue);

// The pending maintenance bits a good poll answer ends: the ones the device
// acknowledged, and the wire-resistance store while the measured value is
// no plausible one for wires (its button is released and disabled then).
std::uint8_t MaintenanceEndedBy(const PollAnswer& answer);

} // namespace kv
