#include "VerifyRun.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace kv::station {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kWriteTries = 5; // command 4 ends without success before giving up

double Mean(const std::vector<double>& v) {
    return v.empty() ? kNaN : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

QString Figure(double v) { return QString::number(v, 'g', 7); }

// What the device's calculated value is worth at this answer: none while it
// reports no value or a fault of its input (a break, a converter fault, a
// value beyond the mode's range); why in `why`.
std::optional<double> Calculated(const kv::PollAnswer& a, QString& why) {
    const bool status = a.StatusCode == kv::statusOK || a.StatusCode == kv::statusOutputOutOfRange;
    if (!status || a.CalculatedValue == kv::kNoCalculatedValue || !std::isfinite(a.CalculatedValue)) {
        why = QStringLiteral("the device reports no value (status %1)").arg(a.StatusCode);
        return std::nullopt;
    }
    return a.CalculatedValue;
}

// The place of the last digit of the single the device reports.
double SingleResolution(double v) {
    const float f = static_cast<float>(v);
    return std::isfinite(f) ? static_cast<double>(std::nextafter(f, std::numeric_limits<float>::infinity())) - f : kNaN;
}

// A figure the bench does not state: unknown, so that no pass rests on it.
TComponent Unknown(const QString& name, const QString& unit) {
    return {name, kNaN, unit, TDistribution::Rectangular, std::sqrt(3.0), 1.0};
}

} // namespace

TVerifyRun::TVerifyRun(TVerifySetup setup) : setup_(std::move(setup)) {}

void TVerifyRun::Say(const QString& line) {
    if (Progress)
        Progress(setup_.Label.isEmpty() ? line : setup_.Label + QStringLiteral(": ") + line);
}

void TVerifyRun::NotVerifiedOnce(const QString& what) {
    if (!notVerified_.contains(what))
        notVerified_ << what;
}

void TVerifyRun::Start() {
    phase_ = phReadSettings;
    readPending_ = true;
}

// ---- the cycle's questions ---------------------------------------------------------

bool TVerifyRun::IsPending(kv::TPendingCommand command) const {
    switch (command) {
    case kv::pendReadSettings: return readPending_;
    case kv::pendWriteSettings: return settingsToWrite_.has_value();
    default: return false;
    }
}

void TVerifyRun::SetPending(kv::TPendingCommand command, bool pending) {
    if (command == kv::pendReadSettings)
        readPending_ = pending && phase_ != phDone;
}

std::optional<std::vector<std::uint8_t>> TVerifyRun::CommandData(kv::TPendingCommand command) {
    switch (command) {
    case kv::pendReadSettings: return std::vector<std::uint8_t>{};
    case kv::pendWriteSettings:
        return settingsToWrite_ ? std::optional(settingsToWrite_->Encode()) : std::nullopt;
    default: return std::nullopt;
    }
}

// ---- the legs ----------------------------------------------------------------------

void TVerifyRun::BeginLeg(std::size_t index) {
    leg_ = index;
    point_ = 0;
    if (index >= legs_.size())
        return BeginRestore();
    phase_ = phLeg;
    const TLeg& leg = legs_[index];
    if (inForce_ && *inForce_ == leg.Settings)
        return LegInForce();
    Say(QStringLiteral("the device set to %1 for the measurement").arg(leg.Name));
    wait_ = waitSettings;
    writeFailures_ = 0;
    settingsToWrite_ = leg.Settings;
}

void TVerifyRun::LegInForce() {
    const TLeg& leg = legs_[leg_];
    plan_ = PlanVerification(leg.Settings, ReportOf(leg.Settings, *last_), leg.Options);
    if (!plan_.NotVerifiable.isEmpty()) {
        NotVerifiedOnce(QStringLiteral("%1: %2").arg(leg.Name, plan_.NotVerifiable));
        return BeginLeg(leg_ + 1);
    }
    if (leg.Output && !plan_.OutputNotVerifiable.isEmpty())
        NotVerifiedOnce(QStringLiteral("the output: %1").arg(plan_.OutputNotVerifiable));
    const std::optional<TOutputRange> range = OutputRangeOf(leg.Settings.OutputMode);
    if (leg.Output && range && setup_.FixtureMovesLeads && leadsOnCurrent_ != range->Current && meterFailed_.isEmpty()) {
        wait_ = waitLeads;
        const QString words = range->Current ? QStringLiteral("current") : QStringLiteral("voltage");
        Say(QStringLiteral("fixture: %1").arg(words));
        if (RunFixture)
            RunFixture({words});
        return;
    }
    BeginPoint(0);
}

TVerificationPoint TVerifyRun::PlanPoint(std::size_t index) const {
    // Planned again from the latest poll: a thermocouple's cold junction
    // warms with the device.
    const TLeg& leg = legs_[leg_];
    TPlanOptions o = leg.Options;
    o.Percents = {leg.Options.Percents[index]};
    const TVerificationPlan plan = PlanVerification(leg.Settings, ReportOf(leg.Settings, *last_), o);
    return plan.Points.empty() ? plan_.Points[index] : plan.Points.front();
}

void TVerifyRun::BeginPoint(std::size_t index) {
    point_ = index;
    const TLeg& leg = legs_[leg_];
    if (index >= leg.Options.Percents.size())
        return BeginLeg(leg_ + 1);
    planned_ = PlanPoint(index);
    if (!planned_.NotVerifiable.isEmpty()) {
        kv::cert::TPoint p;
        p.Quantity = QStringLiteral("input");
        p.Path = leg.Name;
        p.Percent = planned_.Percent;
        p.AsFound.NotMeasured = planned_.NotVerifiable;
        points_.push_back(p);
        return NextPoint();
    }
    wait_ = waitFixture;
    const QString words = planned_.Words.join(QLatin1Char(' '));
    Say(QStringLiteral("%1, %2 %: %3").arg(leg.Name, Figure(planned_.Percent), words));
    if (planned_.Words == connected_)
        return Sourced();
    connected_.clear(); // until the fixture says it is done
    if (RunFixture)
        RunFixture(planned_.Words);
    else
        OnFixtureDone({});
}

void TVerifyRun::OnFixtureDone(const QString& error) {
    if (phase_ != phLeg)
        return; // stopped meanwhile
    if (wait_ == waitLeads) {
        if (!error.isEmpty())
            meterFailed_ = QStringLiteral("the fixture did not move the meter's leads: %1").arg(error);
        else
            leadsOnCurrent_ = OutputRangeOf(legs_[leg_].Settings.OutputMode)->Current;
        return BeginPoint(0);
    }
    if (wait_ != waitFixture)
        return;
    if (!error.isEmpty()) {
        // The input is in no known state: nothing further can be sourced.
        const QString why = QStringLiteral("the fixture failed: %1").arg(error);
        kv::cert::TPoint p;
        p.Quantity = QStringLiteral("input");
        p.Path = legs_[leg_].Name;
        p.Percent = planned_.Percent;
        p.Source = planned_.Words.join(QLatin1Char(' '));
        p.AsFound.NotMeasured = why;
        points_.push_back(p);
        NotVerifiedOnce(QStringLiteral("the points after %1 at %2 % (%3)").arg(legs_[leg_].Name, Figure(planned_.Percent), why));
        return BeginRestore();
    }
    connected_ = planned_.Words;
    Sourced();
}

void TVerifyRun::Sourced() {
    wait_ = waitSettle;
    settle_.Start();
}

void TVerifyRun::Sample(const kv::PollAnswer& a) {
    switch (measurements_.Add(a.Cycles)) {
    case TNewMeasurements::TState::Same: return;
    case TNewMeasurements::TState::TimedOut:
        noValue_ = QStringLiteral("the device measured nothing new within %1 polls").arg(TCycleSettling::kPolls);
        samples_.push_back(kNaN);
        return InputDone();
    case TNewMeasurements::TState::New: break;
    }
    const std::optional<double> v = Calculated(a, noValue_);
    samples_.push_back(v.value_or(kNaN));
    if (!v || static_cast<int>(samples_.size()) >= std::max(setup_.Samples, 2))
        InputDone();
}

TBudget TVerifyRun::InputBudget(const TVerificationPoint& p, const std::vector<double>& samples) {
    TBudget b;
    b.Unit = p.Unit;
    const QString unit = p.SourceUnit;
    if (!setup_.Source) {
        b.Components.push_back(Unknown(QStringLiteral("source (no [Source] on the bench states its accuracy)"), unit));
        NotVerifiedOnce(QStringLiteral("the input: the bench states no accuracy of the source that gives its points ([Source])"));
    } else {
        const TFunctionAccuracy& accuracy =
            p.Kind == TSourceKind::Resistance ? setup_.Source->Resistance : setup_.Source->Voltage;
        if (std::optional<TComponent> c = FromStatedAccuracy(QStringLiteral("source"), accuracy, p.Source, 1.0, unit,
                                                            p.Sensitivity)) {
            b.Components.push_back(*c);
        } else {
            b.Components.push_back(Unknown(QStringLiteral("source (no accuracy stated for %1 %2)").arg(Figure(p.Source), unit), unit));
            NotVerifiedOnce(QStringLiteral("the input at %1 %2: the bench's [Source] states no %3 accuracy for it")
                                .arg(Figure(p.Source), unit,
                                     p.Kind == TSourceKind::Resistance ? QStringLiteral("OHM") : QStringLiteral("DCV")));
        }
    }
    const double mean = Mean(samples);
    b.Components.push_back(FromResolution(QStringLiteral("device, the last place of the value it reports"),
                                          SingleResolution(mean), p.Unit, 1.0));
    if (std::optional<TComponent> c = FromRepeatability(
            QStringLiteral("repeatability, %1 measurements").arg(samples.size()), samples, p.Unit, 1.0))
        b.Components.push_back(*c);
    return b;
}

TBudget TVerifyRun::OutputBudget(const TVerificationPoint& p, const TMeterResult& r, double scale) {
    const TPointOutput& out = *p.Output;
    TBudget b;
    b.Unit = out.Unit;
    const bool current = OutputRangeOf(legs_[leg_].Settings.OutputMode)->Current;
    const TFunctionAccuracy& accuracy = current ? setup_.MeterCurrent : setup_.MeterVoltage;
    const QString function = current ? QStringLiteral("DCI") : QStringLiteral("DCV");
    if (std::optional<TComponent> c = FromStatedAccuracy(QStringLiteral("meter"), accuracy, r.Value, scale, out.Unit, 1.0)) {
        b.Components.push_back(*c);
    } else {
        b.Components.push_back(Unknown(QStringLiteral("meter (its %1 accuracy is not stated)").arg(function), out.Unit));
        NotVerifiedOnce(QStringLiteral("the output: the bench states no %1 accuracy of the meter that holds %2 %3")
                            .arg(function, Figure(r.Value * scale), out.Unit));
    }
    if (r.Digit)
        b.Components.push_back(FromResolution(QStringLiteral("meter, its last digit"), *r.Digit * scale, out.Unit, 1.0));
    std::vector<double> readings;
    for (double v : r.Readings)
        readings.push_back(v * scale);
    if (std::optional<TComponent> c =
            FromRepeatability(QStringLiteral("repeatability, %1 meter readings").arg(readings.size()), readings, out.Unit, 1.0))
        b.Components.push_back(*c);
    // What the output had to give follows the value the device reported:
    // its scatter while the meter read, carried into the output.
    const double slope = out.Expected.Clamped || p.Span == 0 ? 0.0 : out.Span / p.Span;
    if (std::optional<TComponent> c = FromRepeatability(
            QStringLiteral("the value the device reported, %1 measurements").arg(reported_.size()), reported_, p.Unit, slope))
        b.Components.push_back(*c);
    return b;
}

void TVerifyRun::InputDone() {
    const TLeg& leg = legs_[leg_];
    // What the sourced value must read with what the device reports now (a
    // thermocouple's cold junction warms while the point settles).
    if (const std::optional<double> n = NominalOf(leg.Settings, ReportOf(leg.Settings, *last_), planned_, leg.Options))
        planned_.Nominal = *n;
    const TVerificationPoint& p = planned_;
    const bool measured = std::all_of(samples_.begin(), samples_.end(), [](double v) { return std::isfinite(v); });
    if (setup_.Input) {
        kv::cert::TPoint point;
        point.Quantity = QStringLiteral("input");
        point.Path = leg.Name;
        point.Percent = p.Percent;
        point.Source = p.Words.join(QLatin1Char(' '));
        point.Nominal = p.Nominal;
        point.Unit = p.Unit;
        point.Span = p.Span;
        point.Tolerance = p.Tolerance;
        kv::cert::TPointReading& r = point.AsFound;
        r.Readings = samples_;
        if (measured) {
            r.Value = Mean(samples_);
            r.Error = *r.Value - p.Nominal;
            r.Budget = InputBudget(p, samples_);
            r.Result = Decide(*r.Error, r.Budget->Expanded(), p.Tolerance, setup_.Rule);
            Say(QStringLiteral("reads %1 %2, error %3 %2 (tolerance ±%4 %2, U %5 %2): %6")
                    .arg(Figure(*r.Value), p.Unit, Figure(*r.Error), Figure(p.Tolerance), Figure(r.Budget->Expanded()),
                         OutcomeName(*r.Result)));
        } else {
            // The device measured nothing worth reading at a value within
            // its range: the point fails.
            r.NotMeasured = noValue_;
            r.Result = TOutcome::Fail;
            Say(QStringLiteral("no value: %1").arg(r.NotMeasured));
        }
        points_.push_back(point);
    }
    if (!(leg.Output && p.Output))
        return NextPoint();
    if (!meterFailed_.isEmpty() || !measured)
        return OutputDone(std::nullopt, !meterFailed_.isEmpty() ? meterFailed_
                                                                : QStringLiteral("the device reported no value to follow"));
    wait_ = waitMeter;
    reported_.clear();
    measurements_.Start();
    if (Measure)
        Measure(OutputRangeOf(leg.Settings.OutputMode)->Current ? meterCurrent : meterVoltage);
}

void TVerifyRun::OnReading(const std::optional<TMeterResult>& reading, const QString& error, TMeterFault) {
    if (phase_ != phLeg || wait_ != waitMeter)
        return;
    if (!reading)
        meterFailed_ = QStringLiteral("the meter failed: %1").arg(error);
    OutputDone(reading, meterFailed_);
}

void TVerifyRun::OutputDone(const std::optional<TMeterResult>& reading, const QString& error) {
    const TLeg& leg = legs_[leg_];
    const TVerificationPoint& p = planned_;
    const TPointOutput& out = *p.Output;
    kv::cert::TPoint point;
    point.Quantity = QStringLiteral("output");
    point.Path = OutputRangeName(leg.Settings.OutputMode);
    point.Percent = p.Percent;
    point.Source = p.Words.join(QLatin1Char(' '));
    point.Nominal = out.Expected.Value;
    point.Unit = out.Unit;
    point.Span = out.Span;
    point.Tolerance = out.Tolerance;
    kv::cert::TPointReading& r = point.AsFound;
    if (!reading) {
        r.NotMeasured = error;
        Say(QStringLiteral("output not read: %1").arg(error));
    } else {
        const double scale = out.Unit == QLatin1String("mA") ? 1000.0 : 1.0;
        for (double v : reading->Readings)
            r.Readings.push_back(v * scale);
        r.Value = reading->Value * scale;
        const double reported = reported_.empty() ? Mean(samples_) : Mean(reported_);
        const std::optional<TExpectedOutput> expected = ExpectedOutput(leg.Settings, reported);
        r.Expected = expected ? expected->Value : kNaN;
        r.Error = *r.Value - *r.Expected;
        r.Budget = OutputBudget(p, *reading, scale);
        r.Result = Decide(*r.Error, r.Budget->Expanded(), out.Tolerance, setup_.Rule);
        Say(QStringLiteral("output %1 %2 for %3 %2, error %4 %2 (tolerance ±%5 %2, U %6 %2): %7")
                .arg(Figure(*r.Value), out.Unit, Figure(*r.Expected), Figure(*r.Error), Figure(out.Tolerance),
                     Figure(r.Budget->Expanded()), OutcomeName(*r.Result)));
    }
    points_.push_back(point);
    NextPoint();
}

void TVerifyRun::NextPoint() { BeginPoint(point_ + 1); }

// ---- the cycle's events ------------------------------------------------------------

void TVerifyRun::OnPoll(const kv::PollAnswer& a, std::uint16_t) {
    if (!first_)
        first_ = a;
    last_ = a;
    switch (phase_) {
    case phFirstPoll: {
        const kv::SettingsRecord& own = *own_;
        // The own settings' points cover their path when they judge it as
        // closely as the path's own check would: a Pt 100 over 0-100 °C at
        // 0.104 °C is the 500 ohm range's 0.04 ohm; over -200 to 850 °C, 1 °C
        // of tolerance is not, and a type K over 0-1200 °C at 1.2 °C is not
        // the millivolt path's 10 uV.
        const TVerificationPlan ownPlan = PlanVerification(own, ReportOf(own, a), setup_.Plan);
        const std::optional<TInputPath> ownPath = PathOf(own);
        bool ownCovers = ownPlan.NotVerifiable.isEmpty() && ownPath;
        for (const TVerificationPoint& p : ownPlan.Points)
            if (p.NotVerifiable.isEmpty() && p.Tolerance > InputFloor(*ownPath) * std::fabs(p.Sensitivity) * (1 + 1e-9))
                ownCovers = false;
        if (!setup_.Fixture) {
            if (setup_.Input)
                NotVerifiedOnce(QStringLiteral("the input (no fixture on the bench to source it)"));
            if (setup_.Output)
                NotVerifiedOnce(QStringLiteral("the output in normal operation (no fixture on the bench to source the input)"));
            return BeginRestore();
        }
        if (setup_.Output && !setup_.Meter)
            NotVerifiedOnce(QStringLiteral("the output (no meter on the bench)"));
        TLeg ownLeg{own, SettingsName(own), true, setup_.Output && setup_.Meter, setup_.Plan};
        if (setup_.Input || ownLeg.Output)
            legs_.push_back(ownLeg);
        if (setup_.Input)
            for (TInputPath path : setup_.Paths) {
                if (ownCovers && ownPath == path)
                    continue; // the own settings' points judge it
                const std::optional<kv::SettingsRecord> s = SettingsForPath(path, own);
                if (!s)
                    continue;
                TLeg leg{*s, PathName(path), false, false, setup_.Plan};
                leg.Options.Percents = setup_.PathPercents;
                // A path is judged at what the input resolves, not at 0.1 %
                // of its whole range: a constant 0.05 % off moves 450 ohm by
                // 0.2 ohm, half a Pt 100's degree, well within 0.5 ohm.
                leg.Options.InputPercentOfSpan = 0;
                legs_.push_back(leg);
            }
        return BeginLeg(0);
    }
    case phLeg:
        switch (wait_) {
        case waitSettle:
            switch (settle_.Add(a.Cycles)) {
            case TCycleSettling::TState::More: return;
            case TCycleSettling::TState::TimedOut:
                noValue_ = QStringLiteral("the device did not measure %1 cycles within %2 polls")
                               .arg(TCycleSettling::kCycles)
                               .arg(TCycleSettling::kPolls);
                samples_.clear();
                samples_.push_back(kNaN);
                return InputDone();
            case TCycleSettling::TState::Settled:
                wait_ = waitSamples;
                samples_.clear();
                measurements_.Start();
                return Sample(a);
            }
            return;
        case waitSamples: return Sample(a);
        case waitMeter:
            if (measurements_.Add(a.Cycles) == TNewMeasurements::TState::New) {
                QString why;
                if (const std::optional<double> v = Calculated(a, why))
                    reported_.push_back(*v);
            }
            return;
        default: return;
        }
    default: return;
    }
}

void TVerifyRun::OnSettings(const kv::SettingsRecord& r) {
    inForce_ = r;
    readPending_ = false;
    if (settingsToWrite_)
        return; // a read before the write went out
    switch (phase_) {
    case phReadSettings:
        own_ = r;
        phase_ = phFirstPoll;
        break;
    case phLeg:
        if (wait_ != waitSettings)
            break;
        if (!(r == legs_[leg_].Settings)) {
            NotVerifiedOnce(QStringLiteral("%1: the device did not take the settings to measure it").arg(legs_[leg_].Name));
            return BeginLeg(leg_ + 1);
        }
        wait_ = waitNone;
        LegInForce();
        break;
    case phRestore:
        if (!(r == *own_)) {
            givenBack_ = TPutBack::No;
            leftIn_ = r;
        }
        Finish();
        break;
    default: break;
    }
}

void TVerifyRun::OnCommandEnd(std::uint8_t command, bool done) {
    if (command != kv::cmdWriteSettings || !settingsToWrite_)
        return;
    if (done) {
        settingsToWrite_.reset();
        readPending_ = true; // what the device stored
        return;
    }
    if (++writeFailures_ < kWriteTries)
        return;
    settingsToWrite_.reset();
    if (phase_ == phRestore) {
        givenBack_ = TPutBack::No;
        leftIn_ = inForce_;
        return Finish();
    }
    NotVerifiedOnce(QStringLiteral("%1: the device did not take the settings to measure it").arg(legs_[leg_].Name));
    BeginLeg(leg_ + 1);
}

// ---- the end -----------------------------------------------------------------------

void TVerifyRun::BeginRestore() {
    phase_ = phRestore;
    wait_ = waitNone;
    // A write still pending may be on the line: the own settings go after it.
    const bool changed = settingsToWrite_ || (own_ && inForce_ && !(*inForce_ == *own_));
    if (!own_ || !changed) {
        settingsToWrite_.reset();
        return Finish();
    }
    Say(QStringLiteral("giving the device its own settings back"));
    writeFailures_ = 0;
    settingsToWrite_ = *own_;
}

void TVerifyRun::Abort(const QString& why) {
    if (phase_ == phDone)
        return;
    if (stopped_.isEmpty())
        stopped_ = why;
    if (phase_ == phRestore)
        return; // already on the way out
    if (!own_)
        return Finish();
    BeginRestore();
}

void TVerifyRun::Lost(const QString& why) {
    if (phase_ == phDone)
        return;
    if (stopped_.isEmpty())
        stopped_ = why;
    if (own_ && (settingsToWrite_ || (inForce_ && !(*inForce_ == *own_)))) {
        givenBack_ = TPutBack::Unknown;
        leftIn_ = settingsToWrite_ && !(*settingsToWrite_ == *own_) ? settingsToWrite_ : inForce_;
    }
    Finish();
}

void TVerifyRun::Finish() {
    if (phase_ == phDone)
        return;
    phase_ = phDone;
    wait_ = waitNone;
    settingsToWrite_.reset();
    readPending_ = false;
    if (OnFinished)
        OnFinished();
}

} // namespace kv::station
