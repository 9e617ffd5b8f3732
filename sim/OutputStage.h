#pragma once
// The simulated transmitter's analogue output stage, and the external meter
// on it.
//
// One 16-bit PWM value drives both outputs: the loop current (a 24 mA
// full-scale source) and the voltage (12 V full scale). A real board misses
// those nominal values by its component tolerances: each board has a gain
// and an offset for current and for voltage, and a slight bow (the filter's
// and the output transistor's non-linearity), drawn from its board seed. So
// the PWM values for 4 mA, 20 mA, 2 V and 10 V differ from board to board,
// and the factory's output calibration (four PWM values measured with a
// meter) is what makes "4 mA" mean 4.000 mA on the loop.
//
// The firmware maps a target through two of the four PWM values, linearly
// through (and beyond) them: 4 and 20 mA for the current outputs, 2 and 10 V
// for the voltage outputs. Without a stored calibration it uses the nominal
// values of an ideal board.
//
// The PWM's ripple is smoothed by the output filter, a first-order low-pass
// whose time constant is the board's (TOutputStage::kDefaultTauMs, 2.5 ms,
// unless set otherwise: a slower board's filter takes tens of milliseconds).
// A new PWM value reaches the terminals gradually: only SettleMs() after the
// change (20 time constants, 50 ms at the default) is the output within 2e-9
// of the step from its end value, below one count of a 6 1/2-digit meter;
// n time constants leave e^-n of the step (14 leave less than 1e-6 of it).
// Whoever reads the output with a meter after changing the PWM value (the
// calibration) waits that long after the device took the new value.
//
// The stage remembers how its output went over the last kHistoryMs, so that
// an integrating meter can take the output's mean over its integration time
// (Average), exactly, however often the PWM value changed meanwhile.
#include "DeviceRecords.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace kvsim {

// What a meter on the output reads.
struct TMeterReading {
    double MilliAmp = 0.0;
    double Volt = 0.0;
};

// "meter 4.000 mA 2.000 V": three decimals, as a 5½-digit meter shows them.
std::string FormatMeter(const TMeterReading& r);

// A board's output: PWM value to what leaves its terminals.
struct TOutputCharacteristic {
    double CurrentGain = 1.0;   // of the 24 mA full scale
    double CurrentOffset = 0.0; // mA
    double CurrentBow = 0.0;    // mA at half scale, away from the straight line
    double VoltageGain = 1.0;   // of the 12 V full scale
    double VoltageOffset = 0.0; // V
    double VoltageBow = 0.0;    // V at half scale

    // The board of `boardSeed`. Its error is beyond 0.05 mA everywhere from
    // 4 to 20 mA (an uncalibrated board is plainly off), while its bow is a
    // few microamperes: a board calibrated at 4 and 20 mA is within 1.5 uA
    // of the straight line between them (0.7 mV between 2 and 10 V).
    static TOutputCharacteristic ForBoard(std::uint32_t boardSeed);
    // An ideal board: the nominal values exactly.
    static TOutputCharacteristic Ideal() { return {}; }

    TMeterReading Read(std::uint16_t pwm) const;
    // Another bow: `microAmp` at half scale, the voltage's the same share of
    // its full scale (0.5 mV a microampere).
    void SetBow(double microAmp);
    double BowMicroAmp() const { return CurrentBow * 1000.0; }
};

// The output types of the settings record (0 4-20 mA, 1 0-20 mA, 2 0-10 V,
// 3 2-10 V, 4 0-5 V).
bool IsCurrentOutput(std::uint8_t outputMode);

// The output stage of one board in time: the PWM value the firmware drives,
// and what leaves the terminals through the output filter. Times are the
// model's milliseconds; each call's time is never earlier than the last
// change's (an earlier one counts as that moment).
class TOutputStage {
public:
    static constexpr double kDefaultTauMs = 2.5;
    static constexpr double kMaxTauMs = 10000.0;
    // How far back Average can look: the longest integration of a meter.
    static constexpr std::uint32_t kHistoryMs = 10000;

    // Settled at `pwm` (as a board powered on long ago).
    explicit TOutputStage(const TOutputCharacteristic& board, std::uint16_t pwm = 0);

    const TOutputCharacteristic& Characteristic() const { return board_; }
    // The firmware drives `pwm` from `atMs` on. The same value again changes
    // nothing.
    void Drive(std::uint16_t pwm, std::uint64_t atMs);
    std::uint16_t Driven() const { return pwm_; }
    std::uint64_t ChangedAt() const { return segments_.back().At; }
    // What leaves the terminals at `atMs` (not before the last change).
    TMeterReading At(std::uint64_t atMs) const;
    // What they settle to: the driven value without the filter's lag.
    TMeterReading Settled() const { return board_.Read(pwm_); }
    // The mean of what left the terminals from `fromMs` to `toMs` (the value
    // at `toMs` when they are the same moment). Before the remembered
    // history the output counts as it was at its start.
    TMeterReading Average(std::uint64_t fromMs, std::uint64_t toMs) const;

    // The filter's time constant in ms (above 0, at most kMaxTauMs; false
    // otherwise), from `atMs` on: the output goes on from where it is.
    bool SetTau(double ms, std::uint64_t atMs);
    double Tau() const { return segments_.back().Tau; }
    // 20 time constants, rounded up to whole milliseconds.
    std::uint32_t SettleMs() const;
    // Another characteristic from `atMs` on (the console's bow), reached
    // through the filter like a new PWM value.
    void SetCharacteristic(const TOutputCharacteristic& board, std::uint64_t atMs);

private:
    // From At on, the output goes from From towards To with time constant Tau.
    struct TSegment {
        std::uint64_t At;
        TMeterReading From, To;
        double Tau;
        TMeterReading Value(double t) const;          // t >= At
        TMeterReading Integral(double a, double b) const; // At <= a <= b
    };
    // A new segment from `atMs` on towards `to`, starting where the output is.
    void Change(const TMeterReading& to, double tau, std::uint64_t atMs);

    TOutputCharacteristic board_;
    std::uint16_t pwm_ = 0;
    std::deque<TSegment> segments_; // the last is the present one
};

// The firmware's output in normal operation, as a fraction of the output
// type's range (beyond 0..1 for the error levels).
//
// The error level of the settings' output type (22 mA or 3.2 mA of 4-20 mA,
// as the error-signal flags choose; no level below a zero low end).
double ErrorLevel(const kv::SettingsRecord& settings);
// The fraction for a calculated value (nullopt: none, or a sensor fault),
// scaled by the settings; lastGood is held when error signalling is off.
// Sets kv::errflag::OutputRange in errorFlags when the value lies outside the
// scaling (the output then stays at the range's end).
double OutputFraction(const kv::SettingsRecord& settings, std::optional<double> calculated, double lastGood,
                      std::uint8_t& errorFlags);

// The four PWM values the firmware maps targets through.
struct TOutputPoints {
    std::uint16_t IL, IH, UL, UH;
    // An ideal board's: 4 mA of 24 and 2 V of 12 are both 1/6 of the scale.
    static TOutputPoints Nominal() { return {10923, 54613, 10923, 54613}; }
    // A stored calibration, or the nominal points when there is none or a
    // pair of it cannot span a line.
    static TOutputPoints From(const kv::OutputCalibrationRecord* stored);

    // The PWM value that puts out `fraction` of the output type's range
    // (beyond 0..1 for the error levels), rounded and held within 16 bits.
    std::uint16_t PWMFor(std::uint8_t outputMode, double fraction) const;
    // The fraction of the range the firmware believes a PWM value gives.
    double FractionFor(std::uint8_t outputMode, std::uint16_t pwm) const;
};

} // namespace kvsim
