#pragma once
// The measuring physics of temperature sensors: platinum resistance
// thermometers and thermocouples. Pure functions, no state. The simulated
// transmitter measures with them, and the calibration station computes with
// the same functions what its fixture must source for a temperature.
#include <cstdint>

namespace kv {

// Thermocouple types in the order of the settings record's type byte.
enum TThermocouple : std::uint8_t { tcB, tcE, tcJ, tcK, tcL, tcN, tcR, tcS, tcT, tcU, tcCount };

struct TTemperatureRange {
    double Low;
    double High;
};

// Callendar-Van Dusen (IEC 60751, alpha 0.00385): resistance in ohm of a
// platinum sensor with resistance r0 at 0 °C. Defined for -200 to 850 °C;
// evaluated outside as well.
double PtResistance(double r0, double celsius);
// Inverse of PtResistance; false when the resistance lies outside the sensor
// range (-200 to 850 °C).
bool PtTemperature(double r0, double ohm, double& celsius);
// dR/dt of PtResistance, ohm per °C.
double PtSlope(double r0, double celsius);
inline constexpr TTemperatureRange kPtRange{-200.0, 850.0};

// Thermocouple EMF in mV against a reference junction at 0 °C. The eight
// letter types follow the ITS-90 reference functions; L and U follow the
// DIN 43710 table (interpolated between its 100 °C points, within about
// 0.02 mV of the table). Outside the type's range the nearest range end's
// polynomial is extrapolated.
double ThermocoupleEmf(TThermocouple type, double celsius);
// Temperature whose EMF is mv (reference at 0 °C); false when mv lies outside
// the EMF range of the type.
bool ThermocoupleTemperature(TThermocouple type, double mv, double& celsius);
TTemperatureRange ThermocoupleRange(TThermocouple type);
// dE/dt of ThermocoupleEmf (the Seebeck coefficient), mV per °C.
double ThermocoupleSeebeck(TThermocouple type, double celsius);
// The type's letter as the settings name it: 'B' ... 'U'; '?' beyond them.
char ThermocoupleLetter(TThermocouple type);

} // namespace kv
