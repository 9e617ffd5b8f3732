#pragma once
// TVerifyRun: the transmitter verified as a documenting calibrator verifies
// it, for `kvctl verify` and for the as-found and as-left verifications
// around the calibrations. Nothing is written to the device in its own
// settings:
//
//   1. reads the settings the device holds (command 6) and takes a poll:
//      what the points depend on (the cold junction, the stored wire
//      resistance, the potentiometer's positions);
//   2. in the device's own settings, at the points of its range
//      (PlanVerification, VerificationPoints.h): the fixture sources the
//      point's words (`resistor OHM`, `voltage MV`); the device settles
//      (CycleSettling.h); Samples of its calculated values are taken, one
//      per measuring cycle (their mean is the reading, their scatter the
//      repeatability); with a meter, its output is read settled and judged
//      against ExpectedOutput of the value the device reported meanwhile;
//      thermocouple points are planned again with the cold junction of the
//      latest poll just before each is sourced;
//   3. each further path asked for (a calibration's: the 2-, 3- and 4-wire
//      resistance of both ranges, the millivolt path) that the device's own
//      settings' points do not judge as closely as the path's own check (a
//      narrow span does, a wide one does not): the device is given SettingsForPath for the
//      measurement only, read back, and verified at PathPercents;
//   4. gives the device its own settings back (read back and compared).
// A stop (Abort) skips to 4 while the device answers; a device that stops
// answering ends it at once, and what it was left in is said.
//
// Each point's budget (Uncertainty.h), in the value's unit: the source's
// accuracy from the bench's [Source] carried through the point's
// sensitivity (the input), or the meter's accuracy with the last digit it
// gave (the output, with the scatter of the value the device reported while
// the meter read, carried into the output); the device's resolution (the
// last place of the single it reports); the repeatability. A figure the
// bench does not state enters as unknown, so that no pass rests on it, and
// what could not be verified is said (NotVerified) with why.
//
// No clock and no I/O: the run around it (StationRun.h) feeds it the
// cycle's events, runs the fixture it asks for and reads the meter.
#include "Bench.h"
#include "Certificate.h"
#include "CycleSettling.h"
#include "RunStage.h"
#include "VerificationPoints.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace kv::station {

struct TVerifySetup {
    TPlanOptions Plan;                        // the own settings' points and tolerances
    TDecisionRule Rule = TDecisionRule::Guarded;
    // Paths checked beside the device's own settings (the one its own
    // settings take is left out when their points judge it as closely), and
    // their points in per cent of the path's
    // range: the bottom, the middle and the top, inside the ends where a
    // 2-wire path's leads leave no value to source. A path's tolerance is the
    // input's own limit on it (InputFloor: 0.04 ohm, 0.4 ohm, 10 uV).
    std::vector<TInputPath> Paths;
    std::vector<double> PathPercents{10, 50, 90};
    bool Input = true;   // judge the device's calculated value
    bool Output = false; // judge its output, with the meter
    // What the bench has: a fixture to source the input, a meter on the
    // output (whose leads the fixture moves: `current` or `voltage` before
    // the first output reading), and what it states of them.
    bool Fixture = true;
    bool Meter = false;
    bool FixtureMovesLeads = false;
    std::optional<TBenchSource> Source;
    TFunctionAccuracy MeterCurrent, MeterVoltage; // empty: not stated
    int Samples = 5; // the device's measurements per point
    QString Label;   // what its progress lines begin with: "as found", "as left", "verify"
};

class TVerifyRun final : public TRunStage {
public:
    explicit TVerifyRun(TVerifySetup setup);

    void Start() override;
    bool IsPending(kv::TPendingCommand command) const override;
    void SetPending(kv::TPendingCommand command, bool pending) override;
    std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand command) override;
    void OnPoll(const kv::PollAnswer& a, std::uint16_t carried) override;
    void OnSettings(const kv::SettingsRecord& r) override;
    void OnCommandEnd(std::uint8_t command, bool done) override;
    void OnFixtureDone(const QString& error) override;
    void OnReading(const std::optional<TMeterResult>& reading, const QString& error, TMeterFault fault) override;
    void Abort(const QString& why) override;
    void Lost(const QString& why) override;
    bool Finished() const override { return phase_ == phDone; }

    // ---- the results
    // The points in order, each with its one reading in AsFound (the run
    // around it moves it to AsLeft for an as-left verification).
    const std::vector<kv::cert::TPoint>& Points() const { return points_; }
    const QStringList& NotVerified() const { return notVerified_; }
    // Why it stopped (interrupted, the device lost); empty: it ran to its end.
    const QString& Stopped() const { return stopped_; }
    TPutBack SettingsGivenBack() const { return givenBack_; }
    std::optional<kv::SettingsRecord> LeftIn() const { return givenBack_ == TPutBack::Yes ? std::nullopt : leftIn_; }
    const std::optional<kv::SettingsRecord>& Own() const { return own_; }
    // The first and the latest poll answer.
    const std::optional<kv::PollAnswer>& FirstPoll() const { return first_; }
    const std::optional<kv::PollAnswer>& LastPoll() const { return last_; }

private:
    enum TPhase : std::uint8_t { phIdle, phReadSettings, phFirstPoll, phLeg, phRestore, phDone };
    enum TWait : std::uint8_t { waitNone, waitSettings, waitLeads, waitFixture, waitSettle, waitSamples, waitMeter };

    // One set of settings the points are taken in.
    struct TLeg {
        kv::SettingsRecord Settings;
        QString Name;          // "Pt 100, 4 wires", "500 ohm range, 2 wires"
        bool Own = false;      // the device's own settings: nothing written
        bool Output = false;   // its output judged too
        TPlanOptions Options;
    };

    void BeginLeg(std::size_t index);
    void LegInForce();
    void BeginPoint(std::size_t index);
    TVerificationPoint PlanPoint(std::size_t index) const;
    void Sourced();
    void Sample(const kv::PollAnswer& a);
    void InputDone();
    void OutputDone(const std::optional<TMeterResult>& reading, const QString& error);
    void NextPoint();
    void BeginRestore();
    void Finish();
    void Say(const QString& line);
    void NotVerifiedOnce(const QString& what);
    TBudget InputBudget(const TVerificationPoint& p, const std::vector<double>& samples);
    TBudget OutputBudget(const TVerificationPoint& p, const TMeterResult& r, double scale);

    TVerifySetup setup_;
    TPhase phase_ = phIdle;
    TWait wait_ = waitNone;
    std::vector<TLeg> legs_;
    std::size_t leg_ = 0, point_ = 0;
    TVerificationPlan plan_;       // the leg's
    TVerificationPoint planned_;   // the point under way
    std::optional<kv::SettingsRecord> own_, inForce_, leftIn_;
    std::optional<kv::SettingsRecord> settingsToWrite_;
    bool readPending_ = false;
    int writeFailures_ = 0;
    std::optional<kv::PollAnswer> first_, last_;
    QStringList connected_;
    std::optional<bool> leadsOnCurrent_;
    TCycleSettling settle_;
    TNewMeasurements measurements_;
    std::vector<double> samples_;   // the device's calculated values at the point
    std::vector<double> reported_;  // those it reported while the meter read
    QString noValue_;               // why the point has no value
    QString meterFailed_;           // the meter failed once: no more readings
    std::vector<kv::cert::TPoint> points_;
    QStringList notVerified_;
    QString stopped_;
    TPutBack givenBack_ = TPutBack::Yes;
};

} // namespace kv::station
