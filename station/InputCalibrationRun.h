#pragma once
// TInputCalibrationRun: the input calibration wizard run without a window,
// for `kvctl calibrate input`. The same step table, arithmetic, log lines and
// record as the window's wizard (InputCalibrationWizard.h); what the
// operator does there, this does through the line's fixture and the device's
// measuring cycles:
//
//   1. reads the settings the device holds, to give them back at the end;
//   2. as found: measures the 500 ohm and the 5 kohm reference as the device
//      measures a resistance (its settings set to "resistance 0-500 ohm" and
//      "0-5k ohm", 4 wires, for the measurement only);
//   3. the steps: before each, the fixture connects what the step's picture
//      shows (only when that changes); the poll forces the step's switches;
//      when the averages have settled, Next computes as the window's does;
//   4. writes the record (command 2), refused when it is unfit to write;
//   5. as left: measures both references again, through the new calibration;
//   6. gives the device its own settings back and ends the forcing.
// A failure or an interruption skips to 6 while the device answers.
//
// Settling: a change (a new connection, switch configuration or setting)
// counts when the device has measured after it as CycleSettling.h says; the
// checks average kCheckSamples measurements, one per measuring cycle.
//
// Its checks of R500 and R5K are the adjustment's own record (the
// certificate's Checks): measured with the references the adjustment uses,
// they cannot judge those references. What the device holds afterwards is
// judged by the verification around the run (VerifyRun.h).
//
// No clock and no I/O: the command feeds it the cycle's events and runs the
// fixture it asks for.
#include "Bench.h"
#include "Certificate.h"
#include "CycleSettling.h"
#include "DeviceRecords.h"
#include "InputCalibrationWizard.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kv::station {

// The references of the line, as the wizard's edits would hold them.
struct TInputReferences {
    double R500 = 500.0;           // ohm
    double R5K = 5000.0;           // ohm
    double UrefMilliVolt = 125.0;  // mV
};
// "R500=500.012,R5K=4999.87,UREF=125.000": any of the three, each once,
// numbers with a full stop, above 0. Empty on success, else the reason.
QString ParseReferences(const QString& text, TInputReferences& refs);
// The bench's three references; a value it does not give keeps its default.
TInputReferences InputReferencesOf(const TBench& bench);

// What a step's picture connects, as the fixture's words ("resistor 500");
// the same words kvsim's console takes after "sensor".
QStringList ConnectionWords(kv::incal::TConnection connection, const TInputReferences& refs);

class TInputCalibrationRun {
public:
    static constexpr int kCheckSamples = 8;    // measurements averaged per check
    static constexpr int kWriteTries = 5;      // command 2 ends without success before giving up
    static constexpr double kToleranceR500 = 0.02;  // ohm (0.05 °C of a Pt 100)
    static constexpr double kToleranceR5K = 0.2;    // ohm (0.05 °C of a Pt 1000)

    explicit TInputCalibrationRun(const TInputReferences& refs);

    // ---- asked by the poll cycle
    std::uint8_t FETControl() const;  // the switch byte the next poll carries
    bool ReadSettingsPending = false;
    std::optional<kv::SettingsRecord> SettingsToWrite;         // command 4 pending
    std::optional<kv::InputCalibrationRecord> RecordToWrite;   // command 2 pending

    // ---- the cycle's events
    void Start();
    void OnPoll(const kv::PollAnswer& a);
    void OnSettings(const kv::SettingsRecord& r);
    // The end of a command 2 or 4 (`done`: acknowledged).
    void OnCommandEnd(std::uint8_t command, bool done);
    void OnFixtureDone(const QString& error); // empty: done
    // Stops the run (Ctrl-C, a fault of the command): what it changed on the
    // device is given back first while the device answers.
    void Abort(const QString& why);
    // The device no longer answers: nothing can be given back.
    void Lost(const QString& why);

    // ---- what the run asks of the command
    std::function<void(const QStringList& words)> RunFixture;
    std::function<void(const QString& line)> Progress;
    std::function<void()> OnFinished;

    bool Finished() const { return phase_ == phDone; }
    // The record was written and acknowledged and the run ended on its own
    // (its own checks aside: they judge nothing).
    bool Adjusted() const {
        return Finished() && facts_.Write == kv::cert::TWrite::Acknowledged && !stopped_ && facts_.Failure.isEmpty();
    }
    // Stopped from outside (Abort, Lost) rather than ended by itself.
    bool Stopped() const { return stopped_; }
    // Whether the device has its own settings again, and if not, what it
    // was last given.
    TPutBack SettingsGivenBack() const { return givenBack_; }
    std::optional<kv::SettingsRecord> LeftIn() const;
    // The run's facts for the certificate: the command adds the port, the
    // operator, the version and the times.
    const kv::cert::TFacts& Facts() const { return facts_; }
    kv::cert::TFacts& Facts() { return facts_; }
    const kv::incal::TValues& Values() const { return values_; }
    // The number of the step under way ("Step 7/23": 7), 0 outside the steps.
    int Step() const { return phase_ == phStep || phase_ == phWrite ? kv::incal::kSteps[step_].Number : 0; }

private:
    enum TPhase : std::uint8_t {
        phIdle,
        phReadSettings,  // the device's own settings
        phCheck,         // as found / as left, one reference
        phStep,          // one step of the wizard
        phWrite,         // command 2
        phRestore,       // the device's own settings written back and read
        phRelease,       // one poll without forcing
        phDone,
    };
    // Within a check or a step: what it waits for.
    enum TWait : std::uint8_t { waitSettings, waitFixture, waitSettle, waitSamples, waitNone };

    void BeginCheck(std::size_t index);
    void BeginStep(std::size_t index);
    void Connect(const QStringList& words);
    void StartSettle();
    bool Settled(const kv::PollAnswer& a);
    void TakeSample(const kv::PollAnswer& a);
    void NextStep(const kv::PollAnswer& a);
    void AfterChecks();
    void BeginRestore();
    void Fail(const QString& why);
    void Finish();
    void Log(const std::vector<kv::incal::TLogLine>& lines);
    kv::SettingsRecord CheckSettings(std::size_t check) const;
    QStringList CheckWords(std::size_t check) const;

    TInputReferences refs_;
    kv::incal::TValues values_;
    kv::cert::TFacts facts_;
    TPhase phase_ = phIdle;
    TWait wait_ = waitNone;
    std::size_t step_ = 0;       // index into kv::incal::kSteps
    std::size_t check_ = 0;      // 0, 1 as found; 2, 3 as left
    std::optional<kv::SettingsRecord> own_, inForce_, leftIn_;
    QStringList connected_;
    TCycleSettling settle_;
    TNewMeasurements measurements_;
    bool stopped_ = false;
    TPutBack givenBack_ = TPutBack::Yes;
    std::vector<double> samples_;
    int writeFailures_ = 0;
    bool wantDateAfter_ = false;
    int releasePolls_ = 0;
};

} // namespace kv::station
