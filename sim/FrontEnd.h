#pragma once
// The simulated transmitter's input front end and the arithmetic by which
// its firmware turns converter counts into ohms and millivolts through the
// stored input calibration record. Plain functions and values, no state.
//
// The front end (switch names as on the FET page):
// - A current source (400 uA with "I 400 uA", else 40 uA) drives terminal 1,
//   the input, terminal 4 and the reference resistor of the range (500 ohm
//   with "I 400 uA", 5 kohm without) in series. An open input carries no
//   current.
// - The resistive path converts at kc = 2^23 / (Uref / 10) counts per volt:
//   channel 0 takes the input's drop (terminals 2-3 with "Kelvin", from
//   terminal 1 with "3W", the whole loop 1-4 with neither), channel 1 the
//   reference resistor's drop; with "3W Alt" channel 1 takes the loop from
//   its other side, negative, through the alternate path's gain G (G2 with
//   "Pot. Fix" also on).
// - With "Pot. Fix" (and without "AZ") channel 0 is the voltage path, which
//   takes no excitation current: the input's voltage times 6 (3 x the gain factor 2) against Uref, 2^23 counts
//   at full scale. "AZ" shorts channel 0 inside: it reads its zero count.
// - Each channel has its own offset per configuration: channel 0 one on the
//   resistive path (another with "3W Alt", per range), one on the voltage
//   path and the zero count; channel 1 one per range on the reference and
//   one per range on the alternate path.
//
// With I the current, Rx the input, L1 and L4 the leads at terminals 1 and 4,
// the counts are:
//   CH0 = Off0 + kc I Rx                        (Kelvin, 4-wire)
//   CH0 = Off0[3W Alt: Off0_3W(range)] + kc I (Rx + L1)   (3W)
//   CH0 = Off0_G4 + 6 U 2^23 / Uref             (Pot. Fix, voltage path)
//   CH0 = AZ                                    (AZ)
//   CH1 = Off1_Ref(range) + kc I Rref(range)
//   CH1 = Off1_Alt(range) - kc G I (L1 + Rx + L4)          (3W Alt)
//
// The firmware's formulas (the record's fields in capitals, r the range):
//   4-wire: R = (CH0 - OFFSET_CH0) x RREF_r_4W / (CH1 - OFFSET_CH1_REF_r)
//   3-wire: R = (2 (CH0' - OFFSET_CH0_3W_r) / EA_r + (CH1' - OFFSET_CH1_3W_r))
//               x RREF_r_3W / (CH1 - OFFSET_CH1_REF_r)
//           CH0', CH1' with 3W and 3W Alt: the lead at terminal 1 counted
//           twice less the whole loop leaves Rx when the leads are equal
//   2-wire: R = -(CH1'' - OFFSET_CH1_3W_r) x RREF_r_2W / (CH1 - OFFSET_CH1_REF_r)
//           CH1'' with 3W Alt and Pot. Fix: the whole loop, leads included
//   voltage: U = (CH0 - OFFSET_CH0_G4 - (AZ - AZ0)) x UREF / (6 x 2^23)
// Run against a board, the wizard's steps find exactly the values that make
// these formulas return the true input: RREF_r_4W = Rref(r),
// RREF_r_3W = Rref(r) / G, EA_r = 1 / G, RREF_r_2W = Rref(r) / G2,
// UREF = Uref, and the offsets and zero count as they are.
#include "DeviceRecords.h"

#include <cstdint>

namespace kvsim {

// The switches of the front end, the device's own or those a poll forces.
struct TSwitches {
    bool ThreeW = false, AZ = false, Kelvin = false, I400uA = false, PotFix = false, ThreeWAlt = false;
    bool operator==(const TSwitches&) const = default;
};

// One board's hidden constants. Each board has its own, within the
// tolerances of its parts.
struct TBoard {
    double Rref[2] = {500.0, 5000.0};  // ohm, 500 and 5k ranges (±0.2 %)
    double UrefMilliVolt = 2500.0;     // converter reference (±0.5 %)
    double Current[2] = {400e-6, 40e-6}; // A, the two sources (±1 %)
    double AltGain = 1.0;              // G (±0.3 %)
    double AltGainPotFix = 1.0;        // G2 (±0.3 %)
    // Offsets in whole counts.
    double Off0 = 0, Off0ThreeW[2] = {0, 0}, Off0G4 = 0, AutoZero = 0;
    double Off1Ref[2] = {0, 0}, Off1Alt[2] = {0, 0};

    // The board of a seed; the same seed is always the same board.
    static TBoard FromSeed(std::uint32_t seed);
    // The nominal board the firmware assumes while it has no calibration.
    static TBoard Nominal() { return {}; }
    // The record a faultless run of the input calibration finds for it.
    kv::InputCalibrationRecord Calibration() const;
};

// The board whose calibration a board starts with when it is given a wrong
// one: the first of the other boards whose record makes a Pt 100 at 100 °C
// (4-wire) read at least 0.2 ohm (about 0.5 °C) off on this board, so the
// error is plain to see.
std::uint32_t ForeignBoardSeed(std::uint32_t boardSeed);

// The terminals as the front end sees them.
struct TInput {
    bool Open = false;
    double Ohm = 0;       // between the sensor's ends
    double MilliVolt = 0; // source voltage
    double Lead1 = 0, Lead4 = 0; // lead resistances at terminals 1 and 4
};

struct TCounts {
    double CH0 = 0, CH1 = 0; // unrounded; the converter rounds and clips
};

// The counts the board gives in a configuration.
TCounts Convert(const TBoard& board, const TSwitches& sw, const TInput& in);

// The firmware's arithmetic; `range5k` picks the range's fields. Results
// may be infinite or NaN with a nonsense record: callers check.
double Resistance4W(const kv::InputCalibrationRecord& c, bool range5k, const TCounts& kelvin);
double Resistance3W(const kv::InputCalibrationRecord& c, bool range5k, const TCounts& alt, const TCounts& ref);
double Resistance2W(const kv::InputCalibrationRecord& c, bool range5k, const TCounts& alt, const TCounts& ref);
double MilliVolt(const kv::InputCalibrationRecord& c, const TCounts& voltage, double autoZero);

// The configurations those formulas measure in.
TSwitches Kelvin4W(bool range5k);
TSwitches Alt3W(bool range5k);
TSwitches Alt2W(bool range5k);
TSwitches VoltagePath();
TSwitches AutoZeroPath();

} // namespace kvsim
