#pragma once
// TCalibrateOutput: `kvctl calibrate output` on the line: the run
// (OutputCalibrationRun.h) on the shared poll cycle, whose polls carry the
// run's PWM word as the window's page makes them carry its forced value and
// whose pending command is the run's record, and the bench meter beside it
// (MeterClient.h). The command (KvCtlCalibrateOutput.cpp) adds the output,
// the certificate and the exit code.
//
// Forcing ends on every way out while the device answers: at the end of the
// run, on a failure, on Ctrl-C (a second Ctrl-C leaves at once) and when the
// device stops answering, in which case polls without forcing go on for
// ReleaseMs in case it comes back. A hang-up of the device's port leaves
// nothing to send to: the run ends at once and says so. A fixture still
// running then is ended, and the meter is given its local command.
//
// A meter that answered but not with a reading (an overload, an error in its
// queue, an echo) fails the run (Failed: the meter answered, a fault of the
// wiring or the bench); a meter that answered nothing ends it as NoAnswer.
#include "Certificate.h"
#include "MeterClient.h"
#include "OutputCalibrationRun.h"
#include "Settling.h"
#include "PollCycle.h"

#include <QDateTime>

#include <functional>
#include <memory>

class TMBEngine;
class TMBTimerFactory;

namespace kv::station {

class TFixture;

class TCalibrateOutput : private kv::TPollInputs, private kv::TPendingRequests {
public:
    struct TSetup {
        // The bench meter as the bench describes it (its port, line, remote
        // and local commands, identity and traceability).
        TBenchMeter Meter;
        // After a poll that carried a new value was answered, the least
        // time the output is given before the meter reads it; then readings
        // are taken until they agree (Settling).
        int SettleMs = 20;
        TSettling Settling;
        // Seconds of a monotonic clock (the readings' times); null: the system's.
        std::function<double()> Monotonic;
        // How long polls without forcing go on after the device stopped answering.
        int ReleaseMs = 10000;
        QString Operator, Port, Version;
        std::function<QDateTime()> Now;
        std::function<QDate()> Today; // the poll's date
        std::function<void(const QString& line)> Progress;
        TMBTimerFactory* Timers = nullptr;
        // The meter's port; null: the system's.
        std::function<std::unique_ptr<TMBPort>()> MakeMeterPort;
        // The fixture that moves the meter's leads between the current loop
        // and the voltage output (TFixture); empty: they are on both.
        QString Fixture;
        int FixtureTimeoutS = 60;
        // Set: runs the fixture instead of a process (tests: kvsim's console).
        std::function<void(const QStringList& words, std::function<void(const QString& error)> done)> RunFixture;
    };
    // Refused: the meter on the port is not the bench's (its identity):
    // nothing was sent to the device.
    enum class TEnd : std::uint8_t { Running, Passed, Failed, NoAnswer, Interrupted, Refused };

    TCalibrateOutput(TMBEngine& link, TSetup setup);
    ~TCalibrateOutput() override;
    TCalibrateOutput(const TCalibrateOutput&) = delete;
    TCalibrateOutput& operator=(const TCalibrateOutput&) = delete;

    // Opens the meter and asks who it is, then starts the poll on the open
    // link. False (with why) when the meter's port cannot be opened. A meter
    // that does not answer, or is not the bench's, ends the run before the
    // device is polled.
    bool Start(QString& why);
    // Ctrl-C: forcing is ended, then the run ends; a second one ends it at once.
    void Interrupt();
    // The device's port is gone (a hang-up): nothing more can be sent.
    void Lost(const QString& why);

    TEnd End() const { return end_; }
    // Ended with the device's output no longer forced.
    bool ForcingEnded() const { return run_.ForcingEnded(); }
    // The meter's fault the run ended on, if any.
    TMeterFault MeterFault() const { return meterFault_; }
    std::function<void()> OnFinished;
    // The run's facts with the port, operator, version, meter and times.
    kv::cert::TFacts Facts() const;
    const TOutputCalibrationRun& Run() const { return run_; }
    kv::TPollCycle& Cycle() { return cycle_; }

private:
    // kv::TPollInputs
    std::uint16_t PollPWMValue() const override;
    std::uint8_t PollFETControl() const override { return 0; }
    QDate Today() const override;
    // kv::TPendingRequests
    bool IsPending(kv::TPendingCommand command) const override;
    void SetPending(kv::TPendingCommand, bool) override {}
    std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand command) override;
    std::uint8_t MaintenanceBits() const override { return 0; }
    void ReleaseMaintenance(std::uint8_t) override {}

    void Ended(const kv::TCommandEnd& end);
    // One more reading towards a settled one.
    void ReadOnce(TMeterQuantity quantity);
    std::int64_t NowMs() const;
    void StartRelease();
    void Finished();

    TSetup setup_;
    TOutputCalibrationRun run_;
    kv::TPollCycle cycle_;
    std::unique_ptr<TMBTimerFactory> ownTimers_; // when the setup gives none
    TMBTimerFactory& timers_;
    TMeterClient meter_;
    std::unique_ptr<TFixture> fixture_;
    std::unique_ptr<TMBTimer> settle_, release_;
    std::optional<TSettledReading> settling_;
    std::string meterIdentity_;
    mutable std::uint16_t composed_ = 0; // the PWM word of the poll last composed
    QDateTime started_, finished_;
    TEnd end_ = TEnd::Running;
    TMeterFault meterFault_ = TMeterFault::None; // the first the run ended on
    bool interrupted_ = false, lost_ = false, silent_ = false;
};

} // namespace kv::station
