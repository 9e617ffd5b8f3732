#include "InputCalibrationRun.h"

#include "CalibrationLogSeparator.h"
#include "NumberPicture.h"

#include <cmath>
#include <limits>

namespace kv::station {

namespace incal = kv::incal;
using kv::cert::TCheck;

namespace {

// The settings' input modes the checks measure in: a resistance of the
// 500 ohm and of the 5 kohm range, 4 wires (no lead enters the figure).
constexpr std::uint8_t kModeResistance500 = 5;
constexpr std::uint8_t kModeResistance5K = 6;

// The wizard's log lines with a full stop, whatever the locale: the
// certificate's numbers never follow it.
class TFullStop {
public:
    TFullStop() : saved_(kv::DecimalSeparator()) { kv::SetDecimalSeparator('.'); }
    ~TFullStop() { kv::SetDecimalSeparator(saved_); }
    TFullStop(const TFullStop&) = delete;
    TFullStop& operator=(const TFullStop&) = delete;

private:
    char saved_;
};

} // namespace

QString ParseReferences(const QString& text, TInputReferences& refs) {
    std::map<QString, double> values;
    const QString error = ParseReferenceValues(text, values, {QStringLiteral("R500"), QStringLiteral("R5K"), QStringLiteral("UREF")},
                                               QStringLiteral("R500=OHM, R5K=OHM or UREF=MV"));
    if (!error.isEmpty())
        return error;
    const auto take = [&](const char* name, double& out) {
        if (const auto it = values.find(QLatin1String(name)); it != values.end())
            out = it->second;
    };
    take("R500", refs.R500);
    take("R5K", refs.R5K);
    take("UREF", refs.UrefMilliVolt);
    return {};
}

TInputReferences InputReferencesOf(const TBench& bench) {
    TInputReferences refs;
    const auto take = [&](const char* name, double& out) {
        if (const auto it = bench.References.find(QLatin1String(name)); it != bench.References.end() && it->second.Value > 0)
            out = it->second.Value;
    };
    take("R500", refs.R500);
    take("R5K", refs.R5K);
    take("UREF", refs.UrefMilliVolt);
    return refs;
}

QStringList ConnectionWords(kv::incal::TConnection connection, const TInputReferences& refs) {
    QStringList words;
    for (const std::string& w : incal::ConnectionWords(connection, refs.R500, refs.R5K, refs.UrefMilliVolt))
        words << QString::fromStdString(w);
    return words;
}

TInputCalibrationRun::TInputCalibrationRun(const TInputReferences& refs) : refs_(refs) {
    facts_.Kind = kv::cert::TKind::Input;
    facts_.Command = kv::cmdWriteInputCalibration;
    facts_.References = {{QStringLiteral("R500"), refs.R500, QStringLiteral("ohm"), {}},
                         {QStringLiteral("R5K"), refs.R5K, QStringLiteral("ohm"), {}},
                         {QStringLiteral("UREF"), refs.UrefMilliVolt, QStringLiteral("mV"), {}}};
    facts_.Checks = {{QStringLiteral("R500"), QStringLiteral("ohm"), refs.R500, kToleranceR500, {}, {}},
                     {QStringLiteral("R5K"), QStringLiteral("ohm"), refs.R5K, kToleranceR5K, {}, {}}};
}

std::uint8_t TInputCalibrationRun::FETControl() const {
    return phase_ == phStep && step_ < incal::kLastStep ? incal::kSteps[step_].FETControl : 0;
}

void TInputCalibrationRun::Start() {
    phase_ = phReadSettings;
    ReadSettingsPending = true;
}

// ---- the checks ---------------------------------------------------------------------

kv::SettingsRecord TInputCalibrationRun::CheckSettings(std::size_t check) const {
    kv::SettingsRecord r = own_.value_or(kv::SettingsRecord{});
    r.Mode = check % 2 == 0 ? kModeResistance500 : kModeResistance5K;
    r.Wires = 4;
    return r;
}

QStringList TInputCalibrationRun::CheckWords(std::size_t check) const {
    return ConnectionWords(check % 2 == 0 ? incal::conn500 : incal::conn5K, refs_);
}

void TInputCalibrationRun::BeginCheck(std::size_t index) {
    phase_ = phCheck;
    check_ = index;
    const kv::SettingsRecord wanted = CheckSettings(index);
    if (inForce_ && inForce_->Mode == wanted.Mode && inForce_->Wires == wanted.Wires) {
        Connect(CheckWords(index));
        return;
    }
    wait_ = waitSettings;
    writeFailures_ = 0;
    SettingsToWrite = wanted;
}

void TInputCalibrationRun::TakeSample(const kv::PollAnswer& a) {
    switch (measurements_.Add(a.Cycles)) {
    case TNewMeasurements::TState::TimedOut:
        Fail(QStringLiteral("the device measured no value of %1 within %2 polls")
                 .arg(facts_.Checks[check_ % 2].Name)
                 .arg(TCycleSettling::kPolls));
        return;
    case TNewMeasurements::TState::Same: return;
    case TNewMeasurements::TState::New: break;
    }
    const bool valid = (a.CalibrationFlags & kv::calflag::Input) && a.PhysicalValue != kv::kNoPhysicalValue &&
                       std::isfinite(a.PhysicalValue);
    samples_.push_back(valid ? double(a.PhysicalValue) : std::numeric_limits<double>::quiet_NaN());
    if (samples_.size() < std::size_t(kCheckSamples))
        return;
    double sum = 0;
    for (double s : samples_)
        sum += s;
    const double mean = sum / double(samples_.size());
    TCheck& c = facts_.Checks[check_ % 2];
    const bool found = check_ < 2;
    (found ? c.AsFound : c.AsLeft) = mean;
    if (Progress)
        Progress(QStringLiteral("%1 %2: %3 ohm, error %4 ohm")
                     .arg(found ? QStringLiteral("as found") : QStringLiteral("as left"), c.Name,
                          std::isfinite(mean) ? QString::number(mean, 'f', 4) : QStringLiteral("no value"),
                          std::isfinite(mean) ? QString::number(mean - c.Target, 'f', 4) : QStringLiteral("n/a")));
    wait_ = waitNone;
    if (check_ == 0 || check_ == 2)
        BeginCheck(check_ + 1);
    else if (check_ == 1)
        BeginStep(0);
    else
        BeginRestore();
}

// ---- the steps ----------------------------------------------------------------------

void TInputCalibrationRun::BeginStep(std::size_t index) {
    phase_ = phStep;
    step_ = index;
    const incal::TStep& s = incal::kSteps[index];
    if (index == incal::kLastStep) {
        const kv::InputCalibrationRecord record = values_.Record();
        facts_.Record = record.Encode();
        facts_.Written = kv::cert::WrittenValues(record);
        const std::vector<std::string> unfit = incal::UnwritableFields(record);
        if (!unfit.empty()) {
            QStringList why;
            for (const std::string& u : unfit)
                why << QString::fromStdString(u);
            Fail(QStringLiteral("the record is not fit to write: ") + why.join(QStringLiteral(", ")));
            return;
        }
        phase_ = phWrite;
        writeFailures_ = 0;
        RecordToWrite = record;
        if (Progress)
            Progress(QStringLiteral("step %1/23: writing the calibration (command 2)").arg(s.Number));
        return;
    }
    // The wizard reads the step's reference before anything else.
    switch (s.Reference) {
    case incal::ref500: incal::StoreReference(s.Reference, refs_.R500, values_); break;
    case incal::ref5K: incal::StoreReference(s.Reference, refs_.R5K, values_); break;
    case incal::refU: incal::StoreReference(s.Reference, refs_.UrefMilliVolt, values_); break;
    case incal::refNone: break;
    }
    Connect(ConnectionWords(s.Connection, refs_));
}

void TInputCalibrationRun::NextStep(const kv::PollAnswer& a) {
    const incal::TStep& s = incal::kSteps[step_];
    incal::TStepOutcome outcome;
    {
        TFullStop fullStop;
        outcome = incal::Next(step_, a.ADCH0Average, a.ADCH1Average, values_);
    }
    Log(outcome.Lines);
    if (outcome.Failure != incal::failNone) {
        Fail(QStringLiteral("step %1/23: %2").arg(s.Number).arg(QString::fromLatin1(incal::FailureText(outcome.Failure))));
        return;
    }
    if (Progress)
        Progress(QStringLiteral("step %1/23: CH0 %2, CH1 %3").arg(s.Number).arg(a.ADCH0Average).arg(a.ADCH1Average));
    BeginStep(step_ + 1);
}

void TInputCalibrationRun::Log(const std::vector<incal::TLogLine>& lines) {
    for (const incal::TLogLine& l : lines) {
        if (l.Separator)
            facts_.Log << QString::fromLatin1(kCalibrationLogSeparator);
        facts_.Log << QString::fromStdString(l.Text);
    }
}

// ---- connections and settling -------------------------------------------------------

void TInputCalibrationRun::Connect(const QStringList& words) {
    if (words == connected_) {
        StartSettle();
        return;
    }
    connected_.clear(); // until the fixture says it is done
    wait_ = waitFixture;
    if (Progress)
        Progress(QStringLiteral("fixture: %1").arg(words.join(QLatin1Char(' '))));
    if (RunFixture)
        RunFixture(words);
    else
        OnFixtureDone({});
}

void TInputCalibrationRun::OnFixtureDone(const QString& error) {
    if (wait_ != waitFixture || (phase_ != phCheck && phase_ != phStep))
        return; // the run has moved on (stopped meanwhile)
    if (!error.isEmpty()) {
        Fail(QStringLiteral("the fixture failed: %1").arg(error));
        return;
    }
    connected_ = phase_ == phCheck ? CheckWords(check_)
                                   : ConnectionWords(incal::kSteps[step_].Connection, refs_);
    StartSettle();
}

void TInputCalibrationRun::StartSettle() {
    wait_ = waitSettle;
    settle_.Start();
}

bool TInputCalibrationRun::Settled(const kv::PollAnswer& a) {
    switch (settle_.Add(a.Cycles)) {
    case TCycleSettling::TState::TimedOut:
        Fail(QStringLiteral("the device did not measure %1 cycles within %2 polls")
                 .arg(TCycleSettling::kCycles)
                 .arg(TCycleSettling::kPolls));
        return false;
    case TCycleSettling::TState::More: return false;
    case TCycleSettling::TState::Settled: return true;
    }
    return false;
}

// ---- the cycle's events -------------------------------------------------------------

void TInputCalibrationRun::OnPoll(const kv::PollAnswer& a) {
    if (facts_.Device.Type.isEmpty()) {
        facts_.Device = kv::cert::DeviceOf(a);
        facts_.Device.Before = kv::cert::CalibrationDateOf(a);
    }
    if (wantDateAfter_) {
        facts_.Device.After = kv::cert::CalibrationDateOf(a);
        wantDateAfter_ = false;
    }
    switch (phase_) {
    case phCheck:
        if (wait_ == waitSettle && Settled(a)) {
            wait_ = waitSamples;
            samples_.clear();
            measurements_.Start();
        }
        if (wait_ == waitSamples)
            TakeSample(a);
        break;
    case phStep:
        if (wait_ == waitSettle && Settled(a))
            NextStep(a);
        break;
    case phRelease:
        // The second answer after the forcing ended was composed without it.
        if (++releasePolls_ >= 2)
            Finish();
        break;
    default:
        break;
    }
}

void TInputCalibrationRun::OnSettings(const kv::SettingsRecord& r) {
    inForce_ = r;
    ReadSettingsPending = false;
    if (SettingsToWrite)
        return; // a read before the write went out
    switch (phase_) {
    case phReadSettings:
        own_ = r;
        BeginCheck(0);
        break;
    case phCheck:
        if (wait_ != waitSettings)
            break;
        if (r.Mode != CheckSettings(check_).Mode || r.Wires != 4) {
            Fail(QStringLiteral("the device did not take the settings to measure %1").arg(facts_.Checks[check_ % 2].Name));
            break;
        }
        Connect(CheckWords(check_));
        break;
    case phRestore:
        if (!(r == *own_)) {
            givenBack_ = TPutBack::No;
            if (facts_.Failure.isEmpty())
                facts_.Failure = QStringLiteral("the device's own settings could not be given back");
        }
        phase_ = phRelease;
        releasePolls_ = 0;
        break;
    default:
        break;
    }
}

void TInputCalibrationRun::OnCommandEnd(std::uint8_t command, bool done) {
    if (command == kv::cmdWriteInputCalibration && phase_ == phWrite) {
        if (done) {
            RecordToWrite.reset();
            facts_.Write = kv::cert::TWrite::Acknowledged;
            wantDateAfter_ = true;
            if (Progress)
                Progress(QStringLiteral("the calibration is written"));
            BeginCheck(2);
            return;
        }
        facts_.Write = kv::cert::TWrite::Unacknowledged;
        if (++writeFailures_ >= kWriteTries) {
            RecordToWrite.reset();
            Fail(QStringLiteral("the device did not acknowledge the record in %1 tries").arg(kWriteTries));
        }
        return;
    }
    if (command != kv::cmdWriteSettings || !SettingsToWrite)
        return;
    if (done) {
        SettingsToWrite.reset();
        ReadSettingsPending = true; // what the device stored
        return;
    }
    if (++writeFailures_ >= kWriteTries) {
        SettingsToWrite.reset();
        if (phase_ == phRestore) {
            givenBack_ = TPutBack::No;
            if (facts_.Failure.isEmpty())
                facts_.Failure = QStringLiteral("the device's own settings could not be given back");
            phase_ = phRelease;
            releasePolls_ = 0;
        } else {
            Fail(QStringLiteral("the device did not take the settings to measure %1").arg(facts_.Checks[check_ % 2].Name));
        }
    }
}

// ---- the end ------------------------------------------------------------------------

void TInputCalibrationRun::BeginRestore() {
    phase_ = phRestore;
    wait_ = waitNone;
    RecordToWrite.reset();
    writeFailures_ = 0;
    if (!own_ || (inForce_ && *inForce_ == *own_)) {
        SettingsToWrite.reset();
        ReadSettingsPending = false;
        phase_ = phRelease;
        releasePolls_ = 0;
        return;
    }
    if (Progress)
        Progress(QStringLiteral("giving the device its own settings back"));
    SettingsToWrite = *own_;
}

void TInputCalibrationRun::Fail(const QString& why) {
    if (facts_.Failure.isEmpty())
        facts_.Failure = why;
    if (Progress)
        Progress(QStringLiteral("failed: %1").arg(why));
    wait_ = waitNone;
    if (phase_ == phDone || phase_ == phRelease || phase_ == phRestore)
        return; // already on the way out
    BeginRestore();
}

void TInputCalibrationRun::Abort(const QString& why) {
    stopped_ = true;
    if (phase_ == phIdle) {
        facts_.Failure = why;
        Finish();
        return;
    }
    Fail(why);
}

void TInputCalibrationRun::Lost(const QString& why) {
    if (phase_ == phDone)
        return;
    stopped_ = true;
    // Settings written (or on their way) and not seen given back.
    if (own_ && (SettingsToWrite || (inForce_ && !(*inForce_ == *own_)))) {
        givenBack_ = TPutBack::Unknown;
        leftIn_ = SettingsToWrite ? SettingsToWrite : inForce_;
    }
    if (facts_.Failure.isEmpty())
        facts_.Failure = why;
    Finish();
}

std::optional<kv::SettingsRecord> TInputCalibrationRun::LeftIn() const {
    if (givenBack_ == TPutBack::Yes)
        return std::nullopt;
    return leftIn_ ? leftIn_ : inForce_;
}

void TInputCalibrationRun::Finish() {
    if (phase_ == phDone)
        return;
    phase_ = phDone;
    wait_ = waitNone;
    ReadSettingsPending = false;
    SettingsToWrite.reset();
    RecordToWrite.reset();
    if (OnFinished)
        OnFinished();
}

} // namespace kv::station
