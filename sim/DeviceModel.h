#pragma once
// The simulated KV5510 / KV7730 transmitter: one plain C++ class, no I/O and
// no clock of its own. It is driven by requests (Handle) and by time
// (Advance); the in-process glue of the tests and the kvsim program on a
// pseudo-terminal both serve this same model.
//
// Behaviour that the real device leaves open, as this model has it:
// - Settings written with command 4 are clamped, not refused: a mode above 7
//   becomes 7, wires outside 2..4 become 4, a type above 9 becomes 9 (U), a
//   CJC above 3 becomes 3 (none), an output type above 4 becomes 4 (0-5 V),
//   flag bits 0-5 and the reserved byte are stored as 0, and a scaling value
//   that is not a finite number takes its factory value. Command 6 returns
//   what was stored, so the program sees the clamping.
// - A command 2, 3 or 4 whose record is shorter than its layout is not stored
//   and is answered with error code 254, the only failure code the master
//   repeats on; a longer record is stored from its first bytes.
// - Maintenance bits are carried out when they first appear in a poll request
//   and acknowledged for as long as requests carry them; the memory of which
//   bits were seen survives a restart, so a restart request that is repeated
//   (its answer lost) does not restart the device again.
// - A restart (bit 4, or bit 3 after filling the FRAM) happens after the
//   answer that acknowledges it; the device then does not answer for
//   RestartMs and reports no measured values until its first measurement.
// - The wire resistance store (bit 7) takes the present raw resistance of the
//   2-wire loop: of the sensor in the resistance modes, of the external
//   cold-junction sensor in the thermocouple mode. The potentiometer stores
//   (bits 5, 2, 0) act in the potentiometer modes only; elsewhere they are
//   acknowledged and change nothing.
// - The output stage (OutputStage.h) is the board's own, from BoardSeed: a
//   PWM value puts out what that board makes of it, which a meter on the
//   output reads (Meter). In normal operation the firmware maps the output
//   fraction through the stored output calibration (the nominal PWM values
//   without one) to a PWM value. A non-zero PWM word forces that value
//   instead; the reported output level is then what the firmware believes
//   it gives, through the same calibration.
// - The converter counts come from the board's front end (FrontEnd.h, with
//   its formulas) driven by the switches: the device's own per mode, or
//   those the poll request forces. Each board (BoardSeed) has its own hidden
//   reference resistors, current sources, offsets and converter reference.
// - The measured resistances, temperatures and millivolts are computed from
//   the counts through the input calibration in use, by the firmware's
//   formulas in FrontEnd.h; so a board measures right only with its own
//   calibration, and running the factory input calibration against it (the
//   references connected with SetSensor, as each step's picture asks) finds
//   exactly that. A record that gives no finite value leaves the device
//   without a measured value. Commands 2 and 3 store their records; the
//   measured values change at the next measurement.
// - With the switches forced, a calibration's references are connected at
//   the terminals (no leads) and an open input carries no current, so the
//   channels read their offsets. Without forcing, an open sensor drives
//   channel 0 to its overflow (sensor break).
// - Without forcing, a resistor or voltage of any value put in place of the
//   sensor (SetSensor, a verification's source) hangs on the sensor's leads
//   as the sensor would: their whole loop resistance stays in a 2-wire
//   measurement until the wire resistance is stored, their mismatch in a
//   3-wire one, nothing in a 4-wire one. Millivolts at the terminals are a
//   thermocouple's with its cold junction there, at the internal temperature.
// - The measuring cycle (kCycleMs) runs in Advance; whoever holds the model
//   (TSimSlave) advances it at each cycle's due time, so the output follows
//   the process value whether a master polls or not.
// - The averaged counts of the answer are the mean of the last 4
//   measurements in the present switch configuration, started afresh when
//   the configuration changes.
// - The calibration date is the PC date of the last poll request when a
//   calibration record is stored (left as it was if no poll came yet).
#include "DeviceRecords.h"
#include "FrontEnd.h"
#include "OutputStage.h"
#include "Physics.h"
#include "Random.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kvsim {

// The sensors' physics are shared with the calibration station (kv_physics).
using kv::PtResistance;
using kv::PtTemperature;
using kv::ThermocoupleEmf;
using kv::ThermocoupleTemperature;
using kv::TThermocouple;
using enum kv::TThermocouple;

// What is connected to the input terminals: the sensor of the mode (driven
// by the process value), the sensor broken or shorted, or, as for a
// calibration, a reference resistor or voltage source of a given value.
enum TSensorState : std::uint8_t { sensorOK, sensorOpen, sensorShorted, sensorResistor, sensorVoltage };

// Where the settings and the calibration in use were loaded from (answer
// bytes 20 and 21).
enum TDataSource : std::uint8_t { srcRAM1, srcRAM2, srcFRAM1, srcFRAM2, srcFactory };

struct TDeviceConfig {
    // Identity.
    std::uint8_t PCBIdentityAddress = 0; // 0 KV7730, 1 KV5510
    std::uint16_t FirmwareYear = 2016;
    std::uint8_t FirmwareMonth = 10;
    std::uint8_t FirmwareDay = 11;
    // Settings in force at start (the factory defaults are fixed).
    kv::SettingsRecord Settings{};
    // The simulated process, in the unit of the calculated value of the mode
    // in force: °C (modes 0-2), % of travel (3, 4), ohm (5, 6), mV (7).
    double ProcessValue = 25.0;
    double DriftAmplitude = 0.5;      // slow sine around ProcessValue
    double DriftPeriodMs = 600000.0;
    double Noise = 0.02;              // standard deviation per measurement
    std::uint64_t Seed = 1;
    // The board: the hidden constants of its front end (reference resistors,
    // offsets, converter reference) and of its output stage are drawn from
    // this seed, so each seed is another board and the same seed is the same
    // board every run.
    std::uint32_t BoardSeed = 1;
    // The input calibration stored at start (while InputCalibrated) is
    // another board's (ForeignBoardSeed), as if the board had been given a
    // wrong one: it measures visibly wrong until it is calibrated. Otherwise
    // its own, as it left the factory.
    bool ForeignCalibration = false;
    // Environment.
    double Ambient = 23.0;            // °C; the terminals sit at the internal temperature
    double WarmUp = 6.0;              // °C the electronics warm the housing by
    double WarmUpMinutes = 5.0;       // time constant of the warm-up
    double LeadResistance = 0.6;      // ohm, loop resistance of a sensor's leads
    // How much the lead at terminal 1 exceeds the one at terminal 4, as a
    // share of the loop (0.01: matched to 1 %): what a 3-wire measurement
    // cannot take out.
    double LeadMismatch = 0.01;
    // Stored state at start.
    bool InputCalibrated = true;
    bool OutputCalibrated = true;
    std::uint16_t CalibrationYear = 2026;
    std::uint8_t CalibrationMonth = 11;
    std::uint8_t CalibrationDay = 20;
    std::uint32_t WorkingTimeMinutes = 0;
    // Time the device does not answer after a restart.
    std::uint32_t RestartMs = 300;

    // A device without drift, noise or warm-up, whose values tests can
    // predict exactly.
    static TDeviceConfig Steady();
};

// The device's answer to one request: error code and data.
struct TDeviceAnswer {
    std::uint8_t ErrorCode = 0;
    std::vector<std::uint8_t> Data;
};

class TDeviceModel {
public:
    // Measurement cycle of the converter (both channels and the auto-zero).
    static constexpr std::uint32_t kCycleMs = 100;
    static constexpr std::uint16_t kSamplesPerSecond = 50;

    explicit TDeviceModel(const TDeviceConfig& config = {});

    // Answers one request. No answer (nullopt) while the device restarts.
    std::optional<TDeviceAnswer> Handle(std::uint8_t command, std::span<const std::uint8_t> data);

    // Moves the device's time on: its measuring cycles (every kCycleMs) run
    // on the way, and the output follows each of them.
    void Advance(std::uint32_t ms);
    std::uint64_t Now() const { return now_; }
    // When the next measuring cycle falls due (a server that keeps the
    // device's time runs it then, polled or not).
    std::uint64_t NextCycle() const { return nextCycle_; }

    // The poll answer the device would give now, without a request.
    kv::PollAnswer Snapshot() const { return Compose(0); }

    // Inspection.
    const kv::SettingsRecord& Settings() const { return settings_; }
    static kv::SettingsRecord FactoryDefaults() { return {}; }
    // The input calibration record written by command 2 (none until one is).
    const std::optional<kv::InputCalibrationRecord>& InputCalibration() const { return inputCal_; }
    // What the device measures with: the written record, else the one it
    // started with, else (never calibrated, or the FRAM cleared) the nominal
    // board's.
    const kv::InputCalibrationRecord& CalibrationInUse() const;
    // The hidden constants of the simulated board.
    const TBoard& Board() const { return board_; }
    const std::optional<kv::OutputCalibrationRecord>& OutputCalibration() const { return outputCal_; }
    std::uint32_t Restarts() const { return restarts_; }
    // What an external meter on the output reads once the output has
    // settled (the console's "meter"), and the PWM value the output is
    // driven with.
    TMeterReading Meter() const { return outputStage_.Characteristic().Read(DrivenPWM()); }
    std::uint16_t DrivenPWM() const;
    // The PWM word of the last poll request: 0 when the output is not forced.
    std::uint16_t ForcedPWM() const { return pwmForce_; }
    // What leaves the output terminals now, through the output filter: a
    // PWM value the device took less than OutputStage().SettleMs() ago has
    // not fully arrived.
    TMeterReading OutputNow() const { return outputStage_.At(now_); }
    // Its mean over the last `ms` (at most TOutputStage::kHistoryMs): what an
    // integrating meter reads (the bench meter's reading ends now).
    TMeterReading OutputAverage(std::uint32_t ms) const {
        return outputStage_.Average(now_ > ms ? now_ - ms : 0, now_);
    }
    const TOutputStage& OutputStage() const { return outputStage_; }
    // The board's output filter and bow, changed from now on (the console's
    // "output tau" and "output bow"). The time constant is above 0 and at
    // most TOutputStage::kMaxTauMs; false otherwise.
    bool SetOutputTau(double ms) { return outputStage_.SetTau(ms, now_); }
    void SetOutputBow(double microAmp);
    bool Restarting() const { return now_ < silentUntil_; }

    // The world around the device.
    void SetProcessValue(double v) { config_.ProcessValue = v; }
    double ProcessValue() const { return config_.ProcessValue; }
    void SetDrift(double amplitude, double noise) { config_.DriftAmplitude = amplitude; config_.Noise = noise; }
    void SetSensor(TSensorState s, double value = 0.0) {
        sensor_ = s;
        connected_ = value;
    }
    double Connected() const { return connected_; }
    TSensorState Sensor() const { return sensor_; }
    void SetAmbient(double celsius) { config_.Ambient = celsius; }
    // The sensor's leads: their loop resistance and mismatch (TDeviceConfig);
    // false, and nothing changed, unless ohm >= 0 and |mismatch| <= 1.
    bool SetLeads(double ohm, double mismatch);
    double LeadResistance() const { return config_.LeadResistance; }
    double LeadMismatch() const { return config_.LeadMismatch; }
    // Hardware faults: a failed converter or FRAM.
    void SetADCFault(bool on) { adcFault_ = on; }
    void SetFRAMFault(bool on) { framFault_ = on; }
    // Identity, switchable while running.
    void SetPCBIdentityAddress(std::uint8_t a) { config_.PCBIdentityAddress = a; }
    void SetFirmwareDate(std::uint16_t y, std::uint8_t m, std::uint8_t d);

private:
    struct TMeasurement {
        bool Valid = false;          // a physical value exists
        double Physical = 0;         // ohm or mV
        bool HasCalculated = false;
        double Calculated = 0;
        double CJC = kv::kNoTemperature;
        bool OutOfRange = false;     // beyond the mode's measuring range
        bool SensorFault = false;    // open sensor or ADC failure
        bool PotUncalibrated = false;
        std::int32_t CH0 = 0, CH1 = 0;
        std::uint8_t ADStatus = 0;
    };

    struct TTerminals {
        bool Open = false;
        double Ohm = 0.0;       // resistance between the terminals
        double MilliVolt = 0.0; // source voltage between them
    };

    kv::PollAnswer Compose(std::uint8_t ack) const;
    TTerminals Terminals(double processValue) const;
    TSwitches Switches() const;
    // The terminals with the leads of the wiring in force.
    TInput Input(const TTerminals& t) const;
    TCounts NoisyCounts(const TSwitches& sw, const TInput& in, double tn) const;
    // Through the calibration in use, as the firmware computes them.
    double MeasuredResistance(const TInput& in, bool range5k, int wires, double tn) const;
    double MeasuredMilliVolt(const TInput& in, double tn) const;
    void ApplyMaintenance(std::uint8_t bits);
    void StampCalibrationDate();
    void Restart();
    void ClearFRAM();
    void MeasureCycle();
    TMeasurement Measure(double processNoise, double cjNoise) const;
    double TrueProcessValue() const;
    double TrueInternalTemperature() const;
    double RawLoopResistance() const;       // ohm of the 2-wire loop in the present mode
    // The calculated value the output follows; none with a sensor fault.
    static std::optional<double> OutputValue(const TMeasurement& m);
    // The output fraction in normal operation, from the last measurement.
    double NormalOutput(std::uint8_t& errorFlags) const;
    // The output stage follows what the firmware drives now.
    void UpdateOutput() { outputStage_.Drive(DrivenPWM(), now_); }
    TOutputPoints OutputPoints() const;
    std::uint16_t SwitchStates() const;
    bool PotCalibrated() const { return pot0Stored_ && pot100Stored_; }
    double PotRange() const;
    static kv::SettingsRecord Sanitize(const kv::SettingsRecord& s);

    TDeviceConfig config_;
    TOutputStage outputStage_;
    kv::SettingsRecord settings_;
    TBoard board_;
    std::optional<kv::InputCalibrationRecord> inputCal_;
    std::optional<kv::InputCalibrationRecord> startCal_;
    kv::InputCalibrationRecord nominalCal_;
    std::optional<kv::OutputCalibrationRecord> outputCal_;
    bool inputCalibrated_ = true;
    bool outputCalibrated_ = true;
    std::uint16_t calYear_ = 0;
    std::uint8_t calMonth_ = 0, calDay_ = 0;
    std::uint16_t pcYear_ = 0;
    std::uint8_t pcMonth_ = 0, pcDay_ = 0;
    bool settingsFromFactory_ = false;
    double wireResistance_ = 0;
    double rofPot0_ = 0, rofPot100_ = 0;
    bool pot0Stored_ = true, pot100Stored_ = true;
    float tempMin_ = 0, tempMax_ = 0;
    bool extremesValid_ = false;

    std::uint64_t now_ = 0;
    std::uint64_t workedMs_ = 0;
    std::uint64_t restartedAt_ = 0;
    std::uint64_t silentUntil_ = 0;
    std::uint64_t nextCycle_ = 0;
    std::uint32_t cycles_ = 0;
    std::uint32_t restarts_ = 0;
    TRandom rng_;

    std::uint8_t maintActive_ = 0;
    std::uint8_t fetControl_ = 0;
    std::uint16_t pwmForce_ = 0;
    bool restartPending_ = false;

    TSensorState sensor_ = sensorOK;
    double connected_ = 0.0;
    bool adcFault_ = false;
    bool framFault_ = false;

    // Last measurement and the converter's running averages.
    TMeasurement last_;
    static constexpr std::size_t kAverageCycles = 4;
    std::array<TCounts, kAverageCycles> avgRing_{};
    std::size_t avgNext_ = 0, avgCount_ = 0;
    TSwitches avgSwitches_;
    double avgCH0_ = 0, avgCH1_ = 0;
    double internalTemp_ = kv::kNoTemperature;
    double lastGoodOutput_ = 0;
    bool measured_ = false;
};

} // namespace kvsim
