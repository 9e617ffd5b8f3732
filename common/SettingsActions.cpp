#include "SettingsActions.h"

#include "SettingsModel.h"

namespace kv {

SettingsGroups GroupsForSelection(int mode, int wires, int cjc) {
    SettingsGroups g;
    if (mode < 0)
        return g;
    g.decided = true;
    switch (mode) {
    case 0: // Pt 100, Pt 1000 and the resistances: the wiring matters,
    case 1: // and a 2-wire sensor's wire resistance can be stored
    case 5:
    case 6:
        g.Wires = true;
        g.Rof2Wire = wires == 0;
        break;
    case 2: // thermocouple: an external cold-junction sensor is wired
        g.TCType = true;
        g.CJC = true;
        g.Rof2Wire = cjc == 1 || cjc == 2;
        g.CJCTemp = cjc < 3;
        g.ThermocouplePlace = true;
        break;
    case 3: // potentiometers
    case 4:
        g.Wires = true;
        g.PotCal = true;
        break;
    default: // voltage
        break;
    }
    return g;
}

std::uint8_t MaintenanceOffered(const SettingsPage& page) {
    std::uint8_t bits = maint::Reset | maint::FRAMClear | maint::TempMinMaxClear;
    const SettingsGroups g = GroupsForSelection(page.Mode, page.Wires, page.CJC);
    if (g.Rof2Wire)
        bits |= maint::Rof2Wire | maint::ResetOf2Wire;
    if (g.PotCal)
        bits |= maint::Pot0 | maint::Pot100 | maint::PotDefault;
    return bits;
}

bool WireResistanceStorable(double physicalValue) {
    return physicalValue >= 0 && physicalValue <= 100; // false for NaN
}

std::uint8_t MaintenanceEndedBy(const PollAnswer& answer) {
    std::uint8_t bits = answer.MaintenanceAck;
    if (!WireResistanceStorable(answer.PhysicalValue))
        bits |= maint::Rof2Wire;
    return bits;
}

} // namespace kv
