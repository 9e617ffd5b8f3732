#include "OutputCalibrationRun.h"

#include "CalibrationLogSeparator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kv::station {

namespace oc = kv::outcal;

namespace {

const TReadingUnit kMilliAmp{1000.0, "mA", 4};
const TReadingUnit kVolt{1.0, "V", 4};

QString Reading(double value, bool current) {
    const TReadingUnit& u = current ? kMilliAmp : kVolt;
    return QString::number(value * u.scale, 'f', u.decimals) + QLatin1Char(' ') + QLatin1String(u.unit);
}

QString StepTitle(int index) { return QStringLiteral("step %1/%2").arg(index + 1).arg(oc::kStepCount); }

} // namespace

TOutputCalibrationRun::TOutputCalibrationRun() {
    // The window's start-up values: a run of the wizard starts from them.
    stored_ = {0, 65535, 0, 65535};
    facts_.Kind = kv::cert::TKind::Output;
    facts_.Command = kv::cmdWriteOutputCalibration;
    for (int p = 0; p < oc::tpCount; ++p) {
        const oc::TTarget& t = oc::kTestTargets[p];
        const bool current = t.current;
        kv::cert::TCheck c;
        c.Name = QString::fromLatin1(t.name);
        c.Unit = current ? QStringLiteral("mA") : QStringLiteral("V");
        c.Target = t.value * (current ? 1000.0 : 1.0);
        c.Tolerance = current ? kCurrentTolerance * 1000.0 : kVoltageTolerance;
        facts_.Checks.push_back(c);
    }
}

void TOutputCalibrationRun::Start() {
    phase_ = phFirstPoll;
    word_ = 0;
}

void TOutputCalibrationRun::Log(const std::vector<oc::TLogLine>& lines) {
    for (const oc::TLogLine& l : lines) {
        if (l.separator)
            facts_.Log << QString::fromLatin1(kCalibrationLogSeparator);
        facts_.Log << QString::fromStdString(l.text);
    }
}

void TOutputCalibrationRun::Force(std::int32_t pwm) {
    word_ = static_cast<std::uint16_t>(oc::ForceValue(pwm));
    awaitingReading_ = false;
}

void TOutputCalibrationRun::BeginStep(int index) {
    step_ = index;
    const oc::TStepRule& rule = oc::kSteps[index];
    if (rule.stored != oc::stNone || rule.test != oc::tpNone) {
        const bool current = rule.stored != oc::stNone ? oc::kStoredTargets[rule.stored].current
                                                       : oc::kTestTargets[rule.test].current;
        if (MoveLeads(current, StepTitle(index)))
            return;
    }
    if (rule.stored != oc::stNone) {
        phase_ = phSearch;
        const oc::TTarget& t = oc::kStoredTargets[rule.stored];
        const bool current = t.current;
        const double target = t.value;
        const double slope = stepSlope_[current ? 0 : 1];
        // The low point from the nominal scale; the high one along the line
        // the low one's search found.
        std::int32_t start = static_cast<std::int32_t>(std::lround(target / slope));
        if (rule.stored == oc::stIH || rule.stored == oc::stUH) {
            const oc::TStoredPWM low = rule.stored == oc::stIH ? oc::stIL : oc::stUL;
            start = static_cast<std::int32_t>(std::lround(stored_[low] + (target - oc::kStoredTargets[low].value) / slope));
        }
        search_.emplace(target, start, slope, current ? kMilliAmp : kVolt);
        if (Progress)
            Progress(QStringLiteral("%1: the PWM value for %2").arg(StepTitle(index), QString::fromLatin1(t.name)));
        Force(*search_->Next());
        return;
    }
    if (rule.test != oc::tpNone) {
        phase_ = phCheck;
        checks_.clear();
        const bool current = oc::kTestTargets[rule.test].current;
        for (int p = 0; p < oc::tpCount; ++p)
            if (oc::kTestTargets[p].current == current)
                checks_.push_back(static_cast<oc::TTestPoint>(p));
        if (Progress)
            Progress(QStringLiteral("%1: checking %2").arg(StepTitle(index), current ? QStringLiteral("4, 12 and 20 mA")
                                                                                      : QStringLiteral("2, 6 and 10 V")));
        Force(oc::TestValue(checks_.front(), stored_));
        return;
    }
    // Step 7: every check point read again first (drift), then the record,
    // as the window's write sends it.
    if (phase_ != phRecheck)
        return BeginRecheck();
    phase_ = phWrite;
    kv::OutputCalibrationRecord record;
    record.PWMForIL = static_cast<std::uint16_t>(stored_[oc::stIL]);
    record.PWMForIH = static_cast<std::uint16_t>(stored_[oc::stIH]);
    record.PWMForUL = static_cast<std::uint16_t>(stored_[oc::stUL]);
    record.PWMForUH = static_cast<std::uint16_t>(stored_[oc::stUH]);
    RecordToWrite = record;
    facts_.Record = record.Encode();
    facts_.Written = kv::cert::WrittenValues(record);
    if (Progress)
        Progress(QStringLiteral("%1: writing the calibration (command 3)").arg(StepTitle(index)));
}

bool TOutputCalibrationRun::MoveLeads(bool current, const QString& title) {
    if (!RunFixture || leadsOnCurrent_ == current)
        return false;
    afterFixture_ = phase_ == phRecheck ? phRecheck : phSearch;
    phase_ = phFixture;
    leadsWanted_ = current;
    awaitingReading_ = false;
    const QString words = current ? QStringLiteral("current") : QStringLiteral("voltage");
    if (Progress)
        Progress(QStringLiteral("%1: fixture: %2").arg(title, words));
    RunFixture(QStringList{words});
    return true;
}

void TOutputCalibrationRun::OnFixtureDone(const QString& error) {
    if (phase_ != phFixture)
        return; // the run has moved on (stopped meanwhile)
    if (!error.isEmpty())
        return Fail(QStringLiteral("the fixture failed: %1").arg(error));
    leadsOnCurrent_ = leadsWanted_;
    if (afterFixture_ == phRecheck) {
        phase_ = phRecheck;
        return RecheckNext();
    }
    BeginStep(step_);
}

void TOutputCalibrationRun::BeginRecheck() {
    phase_ = phRecheck;
    checks_.clear();
    // The points on the quantity the leads are on first: one fixture move.
    const bool first = leadsOnCurrent_.value_or(false);
    for (const bool current : {first, !first})
        for (int p = 0; p < oc::tpCount; ++p)
            if (oc::kTestTargets[p].current == current)
                checks_.push_back(static_cast<oc::TTestPoint>(p));
    if (Progress)
        Progress(QStringLiteral("%1: reading every check point again (drift)").arg(StepTitle(step_)));
    RecheckNext();
}

void TOutputCalibrationRun::RecheckNext() {
    if (checks_.empty())
        return BeginStep(step_);
    if (MoveLeads(oc::kTestTargets[checks_.front()].current, StepTitle(step_)))
        return;
    Force(oc::TestValue(checks_.front(), stored_));
}

void TOutputCalibrationRun::OnPoll(const kv::PollAnswer& a, std::uint16_t carried) {
    lastTaken_ = carried;
    switch (phase_) {
    case phFirstPoll:
        facts_.Device = kv::cert::DeviceOf(a);
        facts_.Device.Before = kv::cert::CalibrationDateOf(a);
        BeginStep(0);
        break;
    case phSearch:
    case phCheck:
    case phRecheck:
        if (!awaitingReading_ && carried == word_ && word_ != 0) {
            // The device drives the value: once the output has settled, read it.
            awaitingReading_ = true;
            const bool current = phase_ == phSearch ? oc::kStoredTargets[oc::kSteps[step_].stored].current
                                                    : oc::kTestTargets[checks_.front()].current;
            if (Measure)
                Measure(current ? meterCurrent : meterVoltage);
        }
        break;
    case phRelease:
        if (carried == 0) {
            forcingEnded_ = true;
            if (facts_.Write == kv::cert::TWrite::Acknowledged)
                facts_.Device.After = kv::cert::CalibrationDateOf(a);
            phase_ = phDone;
            if (OnFinished)
                OnFinished();
        }
        break;
    default:
        break;
    }
}

void TOutputCalibrationRun::OnReading(std::optional<double> value, const QString& error, double band) {
    if (!awaitingReading_ || (phase_ != phSearch && phase_ != phCheck && phase_ != phRecheck))
        return;
    awaitingReading_ = false;
    if (!value)
        return Fail(error);
    ++readings_;
    const bool current = phase_ == phSearch ? oc::kStoredTargets[oc::kSteps[step_].stored].current
                                            : oc::kTestTargets[checks_.front()].current;
    if (band > 0) {
        const auto [earlier, fresh] = seen_.try_emplace(std::pair(word_, current), *value, band);
        if (!fresh && std::fabs(*value - earlier->second.first) > std::max(band, earlier->second.second))
            return Fail(QStringLiteral("the meter or the output drifts: PWM %1 read %2, and %3 when read again "
                                       "(they may differ by %4)")
                            .arg(word_)
                            .arg(Reading(earlier->second.first, current), Reading(*value, current),
                                 Reading(std::max(band, earlier->second.second), current)));
    }
    if (phase_ == phRecheck) {
        checks_.erase(checks_.begin());
        return RecheckNext();
    }
    if (phase_ == phSearch) {
        search_->Reading(*value);
        if (!search_->Ended())
            return Force(*search_->Next());
        if (!search_->Found())
            return Fail(QStringLiteral("%1: %2").arg(StepTitle(step_), QString::fromStdString(search_->Failure())));
        // The operator's last press: the value whose reading came closest,
        // which Next then stores as the page's does.
        Force(search_->Best());
        Next();
        return;
    }
    // A check: its reading, its error, on to the next point.
    const oc::TTestPoint point = checks_.front();
    kv::cert::TCheck& c = facts_.Checks[point];
    c.AsLeft = *value * (current ? 1000.0 : 1.0);
    const bool within = kv::cert::WithinTolerance(c, c.AsLeft);
    if (Progress)
        Progress(QStringLiteral("%1: %2 at PWM %3 reads %4, error %5 %6 (tolerance %7 %6)%8")
                     .arg(StepTitle(step_), c.Name)
                     .arg(word_)
                     .arg(Reading(*value, current))
                     .arg(QString::number(*c.AsLeft - c.Target, 'f', 4), c.Unit)
                     .arg(QString::number(c.Tolerance, 'f', 3))
                     .arg(within ? QString() : QStringLiteral(": OUT OF TOLERANCE")));
    if (!within)
        return Fail(QStringLiteral("%1 reads %2, out of its tolerance of %3 %4: the record is not written")
                        .arg(c.Name, Reading(*value, current), QString::number(c.Tolerance, 'f', 3), c.Unit));
    checks_.erase(checks_.begin());
    if (!checks_.empty())
        return Force(oc::TestValue(checks_.front(), stored_));
    Next();
}

void TOutputCalibrationRun::Next() {
    // The page's Next: a search step stores the value forced and logs it.
    const oc::TStepRule& rule = oc::kSteps[step_];
    if (rule.stored != oc::stNone) {
        const bool current = oc::kStoredTargets[rule.stored].current;
        stored_[rule.stored] = word_;
        Log(oc::NextLogLines(step_, word_));
        if (Progress)
            Progress(QStringLiteral("%1: %2 = %3, reads %4 (%5 readings)")
                         .arg(StepTitle(step_), QString::fromLatin1(oc::kStoredNames[rule.stored]),
                              QString::fromStdString(oc::PWMText(word_)), Reading(search_->BestReading(), current))
                         .arg(search_->Readings()));
        // The line the low point's search ended on takes the high point's
        // search most of its way.
        stepSlope_[current ? 0 : 1] = search_->Slope();
        search_.reset();
    }
    BeginStep(step_ + 1);
}

void TOutputCalibrationRun::OnWriteEnd(bool done) {
    if (done) {
        facts_.Write = kv::cert::TWrite::Acknowledged;
        RecordToWrite.reset();
        if (phase_ == phWrite) {
            if (Progress)
                Progress(QStringLiteral("%1: the device took the record").arg(StepTitle(step_)));
            BeginRelease();
        }
        return;
    }
    if (facts_.Write == kv::cert::TWrite::NotSent)
        facts_.Write = kv::cert::TWrite::Unacknowledged;
    if (++writeFailures_ >= kWriteTries && phase_ == phWrite)
        Fail(QStringLiteral("the device did not acknowledge the record (%1 tries)").arg(kWriteTries));
}

void TOutputCalibrationRun::BeginRelease() {
    phase_ = phRelease;
    RecordToWrite.reset();
    awaitingReading_ = false;
    word_ = 0;
}

void TOutputCalibrationRun::Fail(const QString& why) {
    if (phase_ == phDone)
        return;
    if (facts_.Failure.isEmpty())
        facts_.Failure = why;
    BeginRelease();
}

void TOutputCalibrationRun::Abort(const QString& why) {
    if (phase_ != phDone)
        stopped_ = true;
    Fail(why);
}

void TOutputCalibrationRun::Lost(const QString& why) {
    if (phase_ != phDone)
        stopped_ = true;
    Fail(why);
}

} // namespace kv::station
