#pragma once
// TStationRun: a verification or a calibration on the line, as a metrologist
// runs it: as found, adjust, as left. One poll cycle over the link carries
// the stages one after the other (RunStage.h), with the bench beside them:
//
//   verify            the verification (VerifyRun.h) in the device's own
//                     settings: nothing written
//   calibrate input   as found, the input trim (InputCalibrationRun.h), as
//                     left: the own settings' points and the 2-, 3- and
//                     4-wire paths of both ranges and the millivolt path
//   calibrate output  as found, the output trim (OutputCalibrationRun.h), as
//                     left: the output in normal operation, the input
//                     sourced at the points
//   calibrate all     as found, the input trim, the output trim, as left
//
// The as-left verification comes after the device acknowledged the write,
// at points the adjustment's references did not make: what it finds judges
// the calibration (RunOutcome.h, Verdict.h); the trims' own checks stay in
// the certificate as their record. A trim that wrote nothing ends the run
// (nothing was adjusted, nothing to verify as left), unless an earlier trim
// of the same run wrote.
//
// The bench: the line's fixture (a process, TFixture, or the tests' stand-in)
// sources the input and moves the meter's leads, and is left `open` at the
// end; the bench meter (MeterClient.h) is asked who it is before the device
// is polled, and its readings count when they have settled (Settling.h),
// after the least settle time from a poll.
//
// Every way out gives back what the run changed while the device answers:
// the stage under way is stopped (Ctrl-C: it gives the device its settings
// back and ends the forcing; a second Ctrl-C leaves at once); a device that
// stops answering is asked on without forcing for ReleaseMs in case it comes
// back; a hang-up of its port ends the run at once. What is known of it is
// in the facts: whether anything was written, the settings given back, the
// forcing ended.
#include "Bench.h"
#include "Certificate.h"
#include "InputCalibrationRun.h"
#include "MeterClient.h"
#include "PollCycle.h"
#include "RunStage.h"
#include "Settling.h"
#include "VerifyRun.h"

#include <QDateTime>

#include <functional>
#include <memory>
#include <vector>

class TMBEngine;
class TMBTimerFactory;

namespace kv::station {

class TFixture;
class TOutputCalibrationRun;
class TInputTrim;
class TOutputTrim;

class TStationRun : private kv::TPollInputs, private kv::TPendingRequests {
public:
    enum class TWhat : std::uint8_t { Verify, Input, Output, All };

    struct TSetup {
        TWhat What = TWhat::Verify;
        // The bench as the command loaded it (BenchProblems found nothing):
        // its references, meter, source, fixture, settling and verification.
        TBench Bench;
        // After a poll that carried a new PWM value was answered, the least
        // time the output is given before the meter reads it.
        int SettleMs = 20;
        // How long polls without forcing go on after the device stopped answering.
        int ReleaseMs = 10000;
        int Samples = 5; // the device's measurements per verification point
        QString Operator, Port, Version;
        std::function<QDateTime()> Now;
        std::function<QDate()> Today; // the poll's date
        std::function<double()> Monotonic; // seconds, the meter readings' times; null: the system's
        std::function<void(const QString& line)> Progress;
        TMBTimerFactory* Timers = nullptr;
        // The meter's port; null: the system's.
        std::function<std::unique_ptr<TMBPort>()> MakeMeterPort;
        // Set: runs the fixture instead of a process (tests: kvsim's console).
        std::function<void(const QStringList& words, std::function<void(const QString& error)> done)> RunFixture;
    };
    // Refused: the meter on the port is not the bench's (its identity):
    // nothing was sent to the device.
    enum class TEnd : std::uint8_t { Running, Passed, Failed, NoAnswer, Interrupted, Refused };

    TStationRun(TMBEngine& link, TSetup setup);
    ~TStationRun() override;
    TStationRun(const TStationRun&) = delete;
    TStationRun& operator=(const TStationRun&) = delete;

    // Opens the meter (when the run uses one) and asks who it is, then
    // starts the poll on the open link. False (with why) when the meter's
    // port cannot be opened.
    bool Start(QString& why);
    // Ctrl-C: the stage under way gives back what it changed, then the run
    // ends; a second one ends it at once.
    void Interrupt();
    // The device's port is gone (a hang-up): nothing more can be sent.
    void Lost(const QString& why);

    TEnd End() const { return end_; }
    std::function<void()> OnFinished;
    // The run's facts for the certificate, with the port, operator, version,
    // the bench's instruments and the times.
    kv::cert::TFacts Facts() const;
    kv::TPollCycle& Cycle() { return cycle_; }
    TMeterFault MeterFault() const { return meterFault_; }
    // The device has been polled (a certificate has something to say).
    bool ReachedDevice() const { return first_.has_value(); }
    // The PWM word and switch byte of the last poll the device answered.
    std::uint16_t LastTakenPWM() const { return lastTakenPWM_; }
    // Meter readings the run took, all stages.
    int Readings() const { return readings_; }
    // The trims, when the run has them (nullptr otherwise).
    const TInputCalibrationRun* InputTrim() const;
    const TOutputCalibrationRun* OutputTrim() const;

private:
    enum class TRole : std::uint8_t { Only, AsFound, InputTrim, OutputTrim, AsLeft };
    struct TStep {
        TRole Role;
        std::unique_ptr<TRunStage> Stage;
    };

    // kv::TPollInputs
    std::uint16_t PollPWMValue() const override;
    std::uint8_t PollFETControl() const override;
    QDate Today() const override;
    // kv::TPendingRequests
    bool IsPending(kv::TPendingCommand command) const override;
    void SetPending(kv::TPendingCommand command, bool pending) override;
    std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand command) override;
    std::uint8_t MaintenanceBits() const override { return 0; }
    void ReleaseMaintenance(std::uint8_t) override {}

    TRunStage* Current() const;
    std::unique_ptr<TVerifyRun> MakeVerify(TRole role) const;
    void Wire(TRunStage& stage);
    void BeginStep(std::size_t index);
    void StepFinished();
    void Take(TRole role, const TRunStage& stage);
    void Ended(const kv::TCommandEnd& end);
    void Polled(const kv::PollAnswer& a);
    void ReadOnce(TMeterQuantity quantity);
    void RunFixtureNow(const QStringList& words, std::function<void(const QString&)> done);
    std::int64_t NowMs() const;
    void StartRelease();
    void CloseFixture();
    void Finished();
    bool UsesMeter() const;

    TSetup setup_;
    kv::TPollCycle cycle_;
    std::unique_ptr<TMBTimerFactory> ownTimers_; // when the setup gives none
    TMBTimerFactory& timers_;
    std::unique_ptr<TMeterClient> meter_;
    std::unique_ptr<TFixture> fixture_;
    std::unique_ptr<TMBTimer> settle_, release_;
    std::optional<TSettledReading> settling_;
    std::optional<std::string> lastReadingText_;
    std::string meterIdentity_;
    std::vector<TStep> steps_;
    std::size_t step_ = 0;
    bool running_ = false; // a stage is under way
    kv::cert::TFacts facts_;
    const TInputCalibrationRun* inputTrim_ = nullptr;
    const TOutputCalibrationRun* outputTrim_ = nullptr;
    // Where the fixture last put the meter's leads ("current", "voltage"):
    // a stage that asks for them there again is answered at once.
    QString leadsOn_;
    std::optional<kv::PollAnswer> first_, last_;
    mutable std::uint16_t composedPWM_ = 0;  // the poll last composed
    mutable std::uint8_t composedFET_ = 0;
    std::uint16_t lastTakenPWM_ = 0;
    bool lastAnsweredForced_ = false;
    bool sourced_ = false;        // the fixture has sourced the input
    bool fixtureFailed_ = false;
    QString fixtureError_;        // its first failure
    bool closing_ = false;        // the fixture is leaving the input open
    int readings_ = 0;
    QDateTime started_, finished_;
    TEnd end_ = TEnd::Running;
    TMeterFault meterFault_ = TMeterFault::None;
    bool interrupted_ = false, lost_ = false, silent_ = false, hungUp_ = false;
};

} // namespace kv::station
