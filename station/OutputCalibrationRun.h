#pragma once
// TOutputCalibrationRun: the output calibration wizard run without a window,
// for `kvctl calibrate output`. The same step table, stored values, test
// values, log lines and record as the window's wizard
// (OutputCalibrationWizard.h); what the operator does there with the value
// buttons and the meter, this does with a bench meter on a serial port:
//
//   steps 1, 2, 4, 5: the PWM value whose reading is closest to the step's
//       target (4 mA, 20 mA, 2 V, 10 V), found by TPWMSearch; Next stores the
//       value forced, as the page's Next does, and logs its lines;
//   steps 3, 6: the check: each of the step's test values (4, 12, 20 mA;
//       2, 6, 10 V) forced and read, its error against a tolerance;
//   step 7: the record written with command 3 (up to kWriteTries ends
//       without success);
//   then one poll without forcing that the device answers: forcing ends.
// With a fixture (RunFixture set), the meter's leads are moved by it before
// the first step on each output: `current` before steps 1-3, `voltage`
// before steps 4-6; the run reads nothing until it has exited 0, and the
// value forced before stays forced meanwhile. Without one the leads are on
// both outputs all along.
// A failure or an interruption skips to the last part while the device
// answers; a device that no longer answers keeps being asked to end the
// forcing (the command bounds how long).
//
// Before each reading the forced value must have reached the output: a poll
// that carried it has been answered; then the command waits its least settle
// time and reads until the readings agree (Settling.h), and hands the run
// their mean with the band they agreed in.
//
// Drift: after the check steps every check point is forced and read again
// before the record is written (the leads moved back where a fixture moved
// them). Two settled readings of the same forced PWM value, anywhere in the
// run, that lie farther apart than their band fail it: the meter or the
// output drifts, and what was found for the record cannot be trusted.
//
// No clock and no I/O: the command feeds it the cycle's events and the
// meter's readings and takes the readings it asks for.
#include "Certificate.h"
#include "DeviceRecords.h"
#include "MeterClient.h"
#include "OutputCalibrationWizard.h"
#include "PWMSearch.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

namespace kv::station {

class TOutputCalibrationRun {
public:
    static constexpr int kWriteTries = 5;
    // The as-left checks' tolerances: 5 uA of the loop current, 3 mV of the
    // voltage output.
    static constexpr double kCurrentTolerance = 5e-6; // A
    static constexpr double kVoltageTolerance = 3e-3; // V
    // The output's nominal full scale, for the search's first move only (the
    // readings correct it at once): PWM 65535 gives about 24 mA and 12 V.
    static constexpr double kNominalAmperePerCount = 24e-3 / 65535.0;
    static constexpr double kNominalVoltPerCount = 12.0 / 65535.0;

    TOutputCalibrationRun();

    // ---- asked by the poll cycle
    // The PWM word the next poll carries (0: not forced).
    std::uint16_t PWMWord() const { return word_; }
    // The record command 3 carries while it is pending.
    std::optional<kv::OutputCalibrationRecord> RecordToWrite;

    // ---- the events
    void Start();
    // A good poll answer; `carried`: the PWM word that poll carried.
    void OnPoll(const kv::PollAnswer& a, std::uint16_t carried);
    // The reading asked for: amperes or volts, or why there is none; `band`:
    // how far apart two readings of the same value may lie (0: not compared).
    void OnReading(std::optional<double> value, const QString& error, double band = 0);
    // The end of a command 3 (`done`: acknowledged).
    void OnWriteEnd(bool done);
    // Stops the run (Ctrl-C, a fault of the meter): forcing is ended first,
    // while the device answers.
    void Abort(const QString& why);
    // The device stopped answering: the run asks on for the end of forcing,
    // and has failed.
    void Lost(const QString& why);
    // The fixture asked for has ended: "" when it exited 0, else why not.
    void OnFixtureDone(const QString& error);

    // ---- what the run asks of the command
    // Wait the settle time, then read this quantity (OnReading).
    std::function<void(TMeterQuantity quantity)> Measure;
    // Run the fixture with these words (OnFixtureDone); unset: no fixture.
    std::function<void(const QStringList& words)> RunFixture;
    std::function<void(const QString& line)> Progress;
    std::function<void()> OnFinished;

    bool Finished() const { return phase_ == phDone; }
    // Ended with forcing ended (the device answered a poll without it).
    bool ForcingEnded() const { return forcingEnded_; }
    // The record was written and acknowledged, and the run ended on its own
    // with its checks (its own record of the adjustment) within tolerance.
    bool Adjusted() const {
        return Finished() && facts_.Write == kv::cert::TWrite::Acknowledged && !stopped_ && facts_.Failure.isEmpty();
    }
    // Stopped from outside (Abort, Lost) rather than ended by itself.
    bool Stopped() const { return stopped_; }
    // The run's facts for the certificate: the command adds the port, the
    // operator, the version, the meter and the times.
    const kv::cert::TFacts& Facts() const { return facts_; }
    kv::cert::TFacts& Facts() { return facts_; }
    // The four stored values (4 mA, 20 mA, 2 V, 10 V), as the window's wizard
    // holds them, starting with its start-up values.
    const std::array<std::int32_t, kv::outcal::stCount>& Stored() const { return stored_; }
    int Readings() const { return readings_; }
    // The PWM word of the last poll the device answered (0: not forced): what
    // the device drives while it no longer answers.
    std::uint16_t LastTaken() const { return lastTaken_; }

private:
    enum TPhase : std::uint8_t {
        phIdle,
        phFirstPoll, // the device's identity and calibration date
        phFixture,   // the fixture moves the meter's leads
        phSearch,    // steps 1, 2, 4, 5
        phCheck,     // steps 3, 6
        phRecheck,   // every check point read again: drift
        phWrite,     // step 7
        phDateAfter, // the calibration date the write left
        phRelease,   // a poll without forcing
        phDone,
    };

    void BeginStep(int index);
    void Force(std::int32_t pwm);
    void Next();
    void BeginRecheck();
    void RecheckNext();
    // The fixture moves the leads to `current`; false when they are there already.
    bool MoveLeads(bool current, const QString& title);
    void BeginRelease();
    void Fail(const QString& why);
    void Log(const std::vector<kv::outcal::TLogLine>& lines);

    kv::cert::TFacts facts_;
    TPhase phase_ = phIdle;
    int step_ = 0;                 // index into kv::outcal::kSteps
    std::uint16_t word_ = 0;       // the PWM word polls carry
    bool awaitingReading_ = false; // a poll with word_ was answered; the reading is asked for
    bool forcingEnded_ = false;
    bool stopped_ = false;
    std::optional<bool> leadsOnCurrent_; // where the fixture put the meter's leads
    bool leadsWanted_ = false;           // where the fixture under way puts them
    TPhase afterFixture_ = phSearch;     // phSearch: the step begins; phRecheck: the drift check goes on
    std::array<std::int32_t, kv::outcal::stCount> stored_;
    std::optional<TPWMSearch> search_;
    double stepSlope_[2] = {kNominalAmperePerCount, kNominalVoltPerCount};
    std::vector<kv::outcal::TTestPoint> checks_; // the check step's points still to read
    int writeFailures_ = 0;
    int readings_ = 0;
    std::uint16_t lastTaken_ = 0;
    // Settled readings by the PWM word forced and the quantity read (true:
    // current): value and band.
    std::map<std::pair<std::uint16_t, bool>, std::pair<double, double>> seen_;
};

} // namespace kv::station
