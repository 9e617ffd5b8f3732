#include "StationRun.h"

#include "Fixture.h"
#include "MBEngine.h"
#include "MBTimer.h"
#include "OutputCalibrationRun.h"
#include "RunOutcome.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace kv::station {

// ---- the trims as stages -----------------------------------------------------------

namespace {

// A trim's requests handed on to its stage's callbacks, as they stand when
// the request is made.
template <typename TRun>
void Forward(TRun& run, TRunStage& stage) {
    run.RunFixture = [&stage](const QStringList& words) {
        if (stage.RunFixture)
            stage.RunFixture(words);
    };
    run.Progress = [&stage](const QString& line) {
        if (stage.Progress)
            stage.Progress(line);
    };
    run.OnFinished = [&stage] {
        if (stage.OnFinished)
            stage.OnFinished();
    };
}

} // namespace

// The input calibration run on the shared cycle: its switch byte, its
// settings reads and writes, its record.
class TInputTrim final : public TRunStage {
public:
    explicit TInputTrim(const TInputReferences& refs) : run(refs) { Forward(run, *this); }
    void Start() override { run.Start(); }
    std::uint8_t FETControl() const override { return run.FETControl(); }
    bool IsPending(kv::TPendingCommand command) const override {
        switch (command) {
        case kv::pendWriteInputCalibration: return run.RecordToWrite.has_value();
        case kv::pendReadSettings: return run.ReadSettingsPending;
        case kv::pendWriteSettings: return run.SettingsToWrite.has_value();
        default: return false;
        }
    }
    // The run keeps its own requests: it takes a write's end from OnEnd, and
    // the read the cycle makes pending after a settings write is the run's too.
    void SetPending(kv::TPendingCommand command, bool pending) override {
        if (command == kv::pendReadSettings)
            run.ReadSettingsPending = pending && !run.Finished();
    }
    std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand command) override {
        switch (command) {
        case kv::pendWriteInputCalibration:
            return run.RecordToWrite ? std::optional(run.RecordToWrite->Encode()) : std::nullopt;
        case kv::pendWriteSettings:
            return run.SettingsToWrite ? std::optional(run.SettingsToWrite->Encode()) : std::nullopt;
        case kv::pendReadSettings: return std::vector<std::uint8_t>{};
        default: return std::nullopt;
        }
    }
    void OnPoll(const kv::PollAnswer& a, std::uint16_t) override { run.OnPoll(a); }
    void OnSettings(const kv::SettingsRecord& r) override { run.OnSettings(r); }
    void OnCommandEnd(std::uint8_t command, bool done) override {
        if (command == kv::cmdWriteInputCalibration || command == kv::cmdWriteSettings)
            run.OnCommandEnd(command, done);
    }
    void OnFixtureDone(const QString& error) override { run.OnFixtureDone(error); }
    void Abort(const QString& why) override { run.Abort(why); }
    void Lost(const QString& why) override { run.Lost(why); }
    bool Finished() const override { return run.Finished(); }

    TInputCalibrationRun run;
};

// The output calibration run on the shared cycle: its PWM word, its record,
// the meter's settled readings.
class TOutputTrim final : public TRunStage {
public:
    explicit TOutputTrim(bool fixtureMovesLeads) {
        Forward(run, *this);
        if (!fixtureMovesLeads)
            run.RunFixture = nullptr; // the leads are on both outputs
        run.Measure = [this](TMeterQuantity q) {
            if (Measure)
                Measure(q);
        };
    }
    void Start() override { run.Start(); }
    std::uint16_t PWMWord() const override { return run.PWMWord(); }
    bool IsPending(kv::TPendingCommand command) const override {
        return command == kv::pendWriteOutputCalibration && run.RecordToWrite.has_value();
    }
    std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand command) override {
        if (command == kv::pendWriteOutputCalibration && run.RecordToWrite)
            return run.RecordToWrite->Encode();
        return std::nullopt;
    }
    void OnPoll(const kv::PollAnswer& a, std::uint16_t carried) override { run.OnPoll(a, carried); }
    void OnCommandEnd(std::uint8_t command, bool done) override {
        if (command == kv::cmdWriteOutputCalibration)
            run.OnWriteEnd(done);
    }
    void OnFixtureDone(const QString& error) override { run.OnFixtureDone(error); }
    void OnReading(const std::optional<TMeterResult>& r, const QString& error, TMeterFault) override {
        if (r)
            run.OnReading(r->Value, {}, r->Band);
        else
            run.OnReading(std::nullopt, error);
    }
    void Abort(const QString& why) override { run.Abort(why); }
    void Lost(const QString& why) override { run.Lost(why); }
    bool Finished() const override { return run.Finished(); }

    TOutputCalibrationRun run;
};

// ---- the run -----------------------------------------------------------------------

namespace {

// The worse of two things known of what was put back.
TPutBack Worse(TPutBack a, TPutBack b) {
    if (a == TPutBack::No || b == TPutBack::No)
        return TPutBack::No;
    if (a == TPutBack::Unknown || b == TPutBack::Unknown)
        return TPutBack::Unknown;
    return TPutBack::Yes;
}

bool SamePoint(const kv::cert::TPoint& a, const kv::cert::TPoint& b) {
    return a.Quantity == b.Quantity && a.Path == b.Path && a.Percent == b.Percent;
}

} // namespace

TStationRun::TStationRun(TMBEngine& link, TSetup setup)
    : setup_(std::move(setup)), cycle_(link, *this, *this),
      ownTimers_(setup_.Timers ? nullptr : std::make_unique<TMBQtTimerFactory>()),
      timers_(setup_.Timers ? *setup_.Timers : *ownTimers_) {
    const TBench& bench = setup_.Bench;
    if (UsesMeter())
        meter_ = std::make_unique<TMeterClient>(timers_, setup_.MakeMeterPort ? setup_.MakeMeterPort() : nullptr);
    settle_ = timers_.createTimer(setup_.SettleMs, true, [] {});
    release_ = timers_.createTimer(setup_.ReleaseMs, true, [this] {
        // The device did not take a poll without forcing in time.
        Finished();
    });
    if (!setup_.RunFixture && !bench.FixtureCommand.trimmed().isEmpty()) {
        fixture_ = std::make_unique<TFixture>(bench.FixtureCommand, timers_, bench.FixtureTimeoutS * 1000);
        fixture_->OnOutput = [this](const QString& line) {
            // What the fixture did goes into the run's log, the certificate's.
            facts_.Log << QStringLiteral("fixture: ") + line;
            if (setup_.Progress)
                setup_.Progress(QStringLiteral("fixture: ") + line);
        };
    }
    cycle_.OnEnd = [this](const kv::TCommandEnd& end) { Ended(end); };
    cycle_.OnPollAnswer = [this](const kv::PollAnswer& a) { Polled(a); };
    cycle_.OnSettingsRecord = [this](kv::TDeviceCommand command, const kv::SettingsRecord& r) {
        if (command == kv::cmdReadSettings && running_ && end_ == TEnd::Running)
            Current()->OnSettings(r);
    };
    if (meter_)
        meter_->OnHangUp = [] {}; // the query under way has failed by then

    // The stages.
    const bool fixture = static_cast<bool>(setup_.RunFixture) || fixture_ != nullptr;
    const auto add = [this](TRole role, std::unique_ptr<TRunStage> stage) {
        Wire(*stage);
        steps_.push_back({role, std::move(stage)});
    };
    if (setup_.What == TWhat::Verify) {
        add(TRole::Only, MakeVerify(TRole::Only));
    } else {
        add(TRole::AsFound, MakeVerify(TRole::AsFound));
        if (setup_.What == TWhat::Input || setup_.What == TWhat::All) {
            auto trim = std::make_unique<TInputTrim>(InputReferencesOf(bench));
            inputTrim_ = &trim->run;
            add(TRole::InputTrim, std::move(trim));
        }
        if (setup_.What == TWhat::Output || setup_.What == TWhat::All) {
            auto trim = std::make_unique<TOutputTrim>(fixture);
            outputTrim_ = &trim->run;
            add(TRole::OutputTrim, std::move(trim));
        }
        add(TRole::AsLeft, MakeVerify(TRole::AsLeft));
    }

    facts_.Kind = setup_.What == TWhat::Verify   ? kv::cert::TKind::Verification
                  : setup_.What == TWhat::Input  ? kv::cert::TKind::Input
                  : setup_.What == TWhat::Output ? kv::cert::TKind::Output
                                                 : kv::cert::TKind::All;
    facts_.Command = setup_.What == TWhat::Output  ? kv::cmdWriteOutputCalibration
                     : setup_.What == TWhat::Verify ? 0
                                                    : kv::cmdWriteInputCalibration;
    facts_.Rule = bench.Verification.Rule;
    facts_.Station = bench.Station;
}

TStationRun::~TStationRun() {
    if (fixture_)
        fixture_->Cancel();
    for (TStep& s : steps_) {
        s.Stage->RunFixture = nullptr;
        s.Stage->Measure = nullptr;
        s.Stage->OnFinished = nullptr;
        s.Stage->Progress = nullptr;
    }
    cycle_.OnEnd = nullptr;
    cycle_.OnPollAnswer = nullptr;
    cycle_.OnSettingsRecord = nullptr;
    cycle_.Stop();
}

bool TStationRun::UsesMeter() const {
    const TBench& b = setup_.Bench;
    return setup_.What != TWhat::Input && b.Meter && !b.Meter->Line.Port.isEmpty();
}

std::unique_ptr<TVerifyRun> TStationRun::MakeVerify(TRole role) const {
    const TBench& b = setup_.Bench;
    TVerifySetup v;
    v.Plan = TPlanOptions::From(b.Verification);
    v.Plan.FixtureLeads = b.FixtureLeadsOhm;
    v.Rule = b.Verification.Rule;
    v.Input = setup_.What != TWhat::Output;
    v.Output = setup_.What != TWhat::Input;
    if (setup_.What == TWhat::Input || setup_.What == TWhat::All)
        v.Paths = InputCalibrationPaths();
    v.Fixture = setup_.RunFixture || !b.FixtureCommand.trimmed().isEmpty();
    v.Meter = UsesMeter();
    v.FixtureMovesLeads = v.Fixture;
    v.Source = b.Source;
    if (b.Meter) {
        v.MeterCurrent = b.Meter->Current;
        v.MeterVoltage = b.Meter->Voltage;
    }
    v.Samples = setup_.Samples;
    v.Label = role == TRole::AsFound ? QStringLiteral("as found")
              : role == TRole::AsLeft ? QStringLiteral("as left")
                                      : QStringLiteral("verify");
    return std::make_unique<TVerifyRun>(v);
}

void TStationRun::Wire(TRunStage& stage) {
    stage.Progress = [this](const QString& line) {
        if (setup_.Progress)
            setup_.Progress(line);
    };
    stage.RunFixture = [this, &stage](const QStringList& words) {
        RunFixtureNow(words, [this, &stage](const QString& error) {
            if (running_ && Current() == &stage)
                stage.OnFixtureDone(error);
        });
    };
    stage.Measure = [this](TMeterQuantity quantity) {
        if (!meter_) {
            if (TRunStage* s = Current())
                s->OnReading(std::nullopt, QStringLiteral("no meter on the bench"), TMeterFault::NoAnswer);
            return;
        }
        settle_->onTimeout = [this, quantity] {
            settling_.emplace(setup_.Bench.Settling, quantity == meterCurrent ? setup_.Bench.Settling.CurrentFloor
                                                                               : setup_.Bench.Settling.VoltageFloor);
            settling_->Start(NowMs());
            ReadOnce(quantity);
        };
        settle_->start(setup_.SettleMs);
    };
    stage.OnFinished = [this] { StepFinished(); };
}

TRunStage* TStationRun::Current() const { return running_ && step_ < steps_.size() ? steps_[step_].Stage.get() : nullptr; }

// ---- the bench ---------------------------------------------------------------------

std::int64_t TStationRun::NowMs() const {
    if (setup_.Monotonic)
        return static_cast<std::int64_t>(std::llround(setup_.Monotonic() * 1000.0));
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void TStationRun::RunFixtureNow(const QStringList& words, std::function<void(const QString&)> done) {
    const bool leads = words.size() == 1 && (words[0] == QLatin1String("current") || words[0] == QLatin1String("voltage"));
    if (leads && leadsOn_ == words[0])
        return done({}); // there already
    if (leads)
        leadsOn_.clear(); // until the fixture has moved them
    else
        sourced_ = true;
    auto judged = [this, done = std::move(done), moved = leads ? words[0] : QString()](const QString& error) {
        if (!error.isEmpty()) {
            if (!fixtureFailed_)
                fixtureError_ = error;
            fixtureFailed_ = true;
        } else if (!moved.isEmpty())
            leadsOn_ = moved;
        done(error);
    };
    if (setup_.RunFixture)
        setup_.RunFixture(words, std::move(judged));
    else if (fixture_)
        fixture_->Run(words, std::move(judged));
    else
        judged(QStringLiteral("no fixture on the bench"));
}

void TStationRun::ReadOnce(TMeterQuantity quantity) {
    const std::int64_t asked = NowMs();
    meter_->Measure(quantity, [this, quantity, asked](const TMeterReply& r) {
        if (!settling_ || end_ != TEnd::Running)
            return;
        TRunStage* stage = Current();
        if (!r.Ok() || !r.Value) {
            if (!r.Ok() && meterFault_ == TMeterFault::None)
                meterFault_ = r.Fault;
            settling_.reset();
            if (stage)
                stage->OnReading(std::nullopt, QString::fromStdString(r.Text), r.Fault);
            return;
        }
        lastReadingText_ = r.Text;
        const bool current = quantity == meterCurrent;
        switch (settling_->Add(*r.Value, asked, NowMs())) {
        case TSettledReading::TState::More:
            return ReadOnce(quantity);
        case TSettledReading::TState::TimedOut: {
            const QString why = QStringLiteral("the output does not settle: %1")
                                    .arg(QString::fromStdString(settling_->Failure(current ? 1000.0 : 1.0,
                                                                                   current ? "mA" : "V")));
            settling_.reset();
            if (stage)
                stage->OnReading(std::nullopt, why, TMeterFault::None);
            return;
        }
        case TSettledReading::TState::Settled: {
            TMeterResult result;
            result.Value = settling_->Value();
            result.Band = settling_->Band();
            result.Readings = settling_->Window();
            result.Digit = ReadingDigit(r.Text);
            settling_.reset();
            ++readings_;
            if (stage)
                stage->OnReading(result, {}, TMeterFault::None);
            return;
        }
        }
    });
}

// ---- the cycle ---------------------------------------------------------------------

std::uint16_t TStationRun::PollPWMValue() const {
    const TRunStage* s = Current();
    composedPWM_ = s ? s->PWMWord() : 0;
    return composedPWM_;
}

std::uint8_t TStationRun::PollFETControl() const {
    const TRunStage* s = Current();
    composedFET_ = s ? s->FETControl() : 0;
    return composedFET_;
}

QDate TStationRun::Today() const { return setup_.Today ? setup_.Today() : QDate::currentDate(); }

bool TStationRun::IsPending(kv::TPendingCommand command) const {
    const TRunStage* s = Current();
    return s && s->IsPending(command);
}

void TStationRun::SetPending(kv::TPendingCommand command, bool pending) {
    if (TRunStage* s = Current())
        s->SetPending(command, pending);
}

std::optional<std::vector<std::uint8_t>> TStationRun::CommandData(kv::TPendingCommand command) {
    TRunStage* s = Current();
    return s ? s->CommandData(command) : std::nullopt;
}

void TStationRun::Polled(const kv::PollAnswer& a) {
    // The answer belongs to the poll composed last: one request is in
    // flight, and the next is composed after this.
    lastTakenPWM_ = composedPWM_;
    lastAnsweredForced_ = composedPWM_ != 0 || composedFET_ != 0;
    if (!first_)
        first_ = a;
    last_ = a;
    if (silent_ && !lastAnsweredForced_ && !running_) {
        // Back after silence, and no longer forced: nothing more to wait for.
        return Finished();
    }
    if (TRunStage* s = Current())
        s->OnPoll(a, composedPWM_);
}

void TStationRun::Ended(const kv::TCommandEnd& end) {
    if (end_ != TEnd::Running)
        return;
    if (end.Command == kv::cmdWriteInputCalibration || end.Command == kv::cmdWriteOutputCalibration ||
        end.Command == kv::cmdWriteSettings) {
        if (TRunStage* s = Current())
            s->OnCommandEnd(end.Command, end.Done);
        return;
    }
    if (end.Command == kv::cmdPoll && !end.Done && !end.Crossed && !silent_) {
        // No answer after the link's tries: the device went silent. The
        // cycle polls on (without forcing once the stage has let go), in
        // case it comes back.
        silent_ = true;
        lost_ = true;
        const QString why = QStringLiteral("the device did not answer (%1)").arg(QString::fromStdString(end.StatusText));
        if (setup_.Progress && lastAnsweredForced_)
            setup_.Progress(QStringLiteral("the device does not answer: asking it to end the forcing for up to %1 s")
                                .arg(setup_.ReleaseMs / 1000.0));
        if (facts_.Failure.isEmpty())
            facts_.Failure = why;
        StartRelease();
        if (TRunStage* s = Current())
            s->Lost(why);
    }
}

void TStationRun::StartRelease() {
    if (!release_->isActive())
        release_->start(setup_.ReleaseMs);
}

// ---- the stages --------------------------------------------------------------------

bool TStationRun::Start(QString& why) {
    started_ = setup_.Now ? setup_.Now() : QDateTime::currentDateTime();
    const auto begin = [this] {
        BeginStep(0);
        cycle_.StartPoll();
    };
    if (!meter_) {
        begin();
        return true;
    }
    const TBenchMeter& m = *setup_.Bench.Meter;
    const TMeterLine& line = m.Line;
    if (!meter_->Open(m)) {
        why = QStringLiteral("cannot open the meter's port %1 (%2 baud, %3): %4")
                  .arg(line.Port)
                  .arg(line.Baud)
                  .arg(MBFrameText(line.Settings()), meter_->OpenError().simplified());
        return false;
    }
    if (setup_.Progress)
        setup_.Progress(QStringLiteral("meter on %1 at %2 baud, %3: asking who it is")
                            .arg(line.Port)
                            .arg(line.Baud)
                            .arg(MBFrameText(line.Settings())));
    meter_->Identify([this, begin](const TMeterReply& r) {
        if (end_ != TEnd::Running)
            return; // interrupted while the meter was asked
        if (!r.Ok()) {
            // Nothing was sent to the device yet.
            meterFault_ = r.Fault;
            facts_.Failure = QString::fromStdString(r.Text);
            end_ = r.Fault == TMeterFault::Identity ? TEnd::Refused
                   : MeterAnswered(r.Fault)         ? TEnd::Failed
                                                    : TEnd::NoAnswer;
            meter_->Release();
            finished_ = setup_.Now ? setup_.Now() : QDateTime::currentDateTime();
            if (OnFinished)
                OnFinished();
            return;
        }
        meterIdentity_ = r.Text;
        if (setup_.Progress)
            setup_.Progress(QStringLiteral("meter: %1").arg(QString::fromStdString(r.Text)));
        begin();
    });
    return true;
}

void TStationRun::BeginStep(std::size_t index) {
    step_ = index;
    if (index >= steps_.size()) {
        running_ = false;
        return CloseFixture();
    }
    running_ = true;
    steps_[index].Stage->Start();
}

void TStationRun::StepFinished() {
    const TStep& done = steps_[step_];
    Take(done.Role, *done.Stage);
    running_ = false;
    if (end_ != TEnd::Running)
        return;
    if (lost_) {
        // Asked on without forcing until it answers or the time is up.
        if (!lastAnsweredForced_ || hungUp_)
            Finished();
        return;
    }
    if (interrupted_ || !facts_.Failure.isEmpty())
        return CloseFixture();
    if (done.Role == TRole::AsFound && fixtureFailed_) {
        // A bench whose fixture fails adjusts nothing.
        facts_.NotWrittenBecause = QStringLiteral("the fixture failed as found: %1").arg(fixtureError_);
        return CloseFixture();
    }
    std::size_t next = step_ + 1;
    if (done.Role == TRole::InputTrim || done.Role == TRole::OutputTrim) {
        const bool written = facts_.Write == kv::cert::TWrite::Acknowledged ||
                             facts_.OutputWrite == kv::cert::TWrite::Acknowledged;
        const bool unacknowledged = facts_.Write == kv::cert::TWrite::Unacknowledged ||
                                    facts_.OutputWrite == kv::cert::TWrite::Unacknowledged;
        const kv::cert::TFacts& trim = done.Role == TRole::InputTrim
                                           ? static_cast<const TInputTrim&>(*done.Stage).run.Facts()
                                           : static_cast<const TOutputTrim&>(*done.Stage).run.Facts();
        if (unacknowledged)
            return CloseFixture(); // the device may hold either: nothing to verify
        if (trim.Write != kv::cert::TWrite::Acknowledged) {
            if (!written)
                return CloseFixture(); // nothing adjusted, nothing to verify as left
            while (next < steps_.size() && steps_[next].Role != TRole::AsLeft)
                ++next;
        }
    }
    BeginStep(next);
}

void TStationRun::Take(TRole role, const TRunStage& stage) {
    if (role == TRole::InputTrim || role == TRole::OutputTrim) {
        const bool input = role == TRole::InputTrim;
        const kv::cert::TFacts& f = input ? static_cast<const TInputTrim&>(stage).run.Facts()
                                          : static_cast<const TOutputTrim&>(stage).run.Facts();
        const bool stopped = input ? static_cast<const TInputTrim&>(stage).run.Stopped()
                                   : static_cast<const TOutputTrim&>(stage).run.Stopped();
        facts_.Checks.insert(facts_.Checks.end(), f.Checks.begin(), f.Checks.end());
        facts_.Written.insert(facts_.Written.end(), f.Written.begin(), f.Written.end());
        for (const QString& line : f.Log)
            facts_.Log << line;
        if (input || setup_.What == TWhat::Output) {
            facts_.Record = f.Record;
            facts_.Write = f.Write;
        } else {
            facts_.OutputRecord = f.Record;
            facts_.OutputWrite = f.Write;
        }
        if (input) {
            const TInputCalibrationRun& run = static_cast<const TInputTrim&>(stage).run;
            for (const kv::cert::TReference& r : f.References)
                facts_.References.push_back(r);
            facts_.SettingsGivenBack = Worse(facts_.SettingsGivenBack, run.SettingsGivenBack());
            if (const std::optional<kv::SettingsRecord> left = run.LeftIn())
                facts_.LeftIn = SettingsName(*left);
        } else {
            const TOutputCalibrationRun& run = static_cast<const TOutputTrim&>(stage).run;
            if (!run.ForcingEnded())
                facts_.ForcingEnded = lost_ ? TPutBack::Unknown : TPutBack::No;
        }
        if (f.Failure.isEmpty())
            return;
        if (stopped) {
            if (facts_.Failure.isEmpty())
                facts_.Failure = f.Failure;
        } else if (f.Write == kv::cert::TWrite::NotSent) {
            if (facts_.NotWrittenBecause.isEmpty())
                facts_.NotWrittenBecause = f.Failure;
        } else {
            // After the write: the trim's own record of it, judged by nothing.
            facts_.Log << QStringLiteral("%1 calibration after its write: %2")
                              .arg(input ? QStringLiteral("input") : QStringLiteral("output"), f.Failure);
        }
        return;
    }
    const auto& v = static_cast<const TVerifyRun&>(stage);
    for (const kv::cert::TPoint& p : v.Points()) {
        if (role != TRole::AsLeft) {
            facts_.Points.push_back(p);
            continue;
        }
        const auto match = std::find_if(facts_.Points.begin(), facts_.Points.end(), [&](const kv::cert::TPoint& q) {
            return SamePoint(p, q) && !q.AsLeft.Value && !q.AsLeft.Result && q.AsLeft.NotMeasured.isEmpty();
        });
        const bool found = match != facts_.Points.end();
        kv::cert::TPoint& into = found ? *match : facts_.Points.emplace_back(p);
        if (!found)
            into.AsFound = {};
        else if (into.Nominal != p.Nominal || into.Source.isEmpty()) {
            // A thermocouple's point planned again with a warmer cold junction.
            into.Nominal = p.Nominal;
            into.Source = p.Source;
        }
        into.AsLeft = p.AsFound;
    }
    // What an as-found verification could not verify only informs: the
    // calibration is judged as left.
    for (const QString& n : v.NotVerified()) {
        if (role == TRole::AsFound)
            facts_.Log << QStringLiteral("as found, not verified: %1").arg(n);
        else if (!facts_.NotVerified.contains(n))
            facts_.NotVerified << n;
    }
    facts_.SettingsGivenBack = Worse(facts_.SettingsGivenBack, v.SettingsGivenBack());
    if (const std::optional<kv::SettingsRecord> left = v.LeftIn())
        facts_.LeftIn = SettingsName(*left);
    if (!v.Stopped().isEmpty() && facts_.Failure.isEmpty())
        facts_.Failure = v.Stopped();
}

// ---- the end -----------------------------------------------------------------------

void TStationRun::CloseFixture() {
    // The input is left open, as the fixture found it, unless the run could
    // not source it or the fixture failed.
    if (closing_ || !sourced_ || fixtureFailed_ || interrupted_ || hungUp_)
        return Finished();
    closing_ = true;
    if (setup_.Progress)
        setup_.Progress(QStringLiteral("fixture: open"));
    RunFixtureNow({QStringLiteral("open")}, [this](const QString& error) {
        if (!error.isEmpty())
            facts_.Log << QStringLiteral("the fixture did not leave the input open: %1").arg(error);
        Finished();
    });
}

void TStationRun::Interrupt() {
    if (end_ != TEnd::Running)
        return;
    if (interrupted_) {
        // A second Ctrl-C: leave now.
        if (facts_.Failure.isEmpty())
            facts_.Failure = QStringLiteral("interrupted twice; the device was left as it was");
        return Finished();
    }
    interrupted_ = true;
    if (fixture_)
        fixture_->Cancel();
    settle_->stop();
    settling_.reset();
    if (facts_.Failure.isEmpty())
        facts_.Failure = QStringLiteral("interrupted");
    if (closing_ || (meter_ && meterIdentity_.empty()) || !running_) {
        // Still asking the meter (the device has not been polled), or
        // leaving the input open.
        return Finished();
    }
    if (setup_.Progress)
        setup_.Progress(QStringLiteral("interrupted: giving back what the run changed (Ctrl-C again leaves at once)"));
    StartRelease();
    Current()->Abort(QStringLiteral("interrupted"));
}

void TStationRun::Lost(const QString& why) {
    if (end_ != TEnd::Running)
        return;
    lost_ = hungUp_ = true;
    if (facts_.Failure.isEmpty())
        facts_.Failure = why;
    if (TRunStage* s = Current())
        s->Lost(why); // finishes it, and with it the run
    Finished();
}

const TInputCalibrationRun* TStationRun::InputTrim() const { return inputTrim_; }

const TOutputCalibrationRun* TStationRun::OutputTrim() const { return outputTrim_; }

void TStationRun::Finished() {
    if (end_ != TEnd::Running)
        return;
    if (TRunStage* s = Current()) {
        // Left while a stage was under way (a second Ctrl-C, the time to end
        // the forcing is up, a hang-up): what it knows counts.
        running_ = false;
        s->OnFinished = nullptr;
        if (!s->Finished())
            s->Lost(facts_.Failure.isEmpty() ? QStringLiteral("the run ended") : facts_.Failure);
        Take(steps_[step_].Role, *s);
    }
    running_ = false;
    release_->stop();
    settle_->stop();
    settling_.reset();
    if (fixture_)
        fixture_->Cancel();
    cycle_.Stop();
    if (meter_)
        meter_->Release();
    finished_ = setup_.Now ? setup_.Now() : QDateTime::currentDateTime();
    if (lastAnsweredForced_)
        facts_.ForcingEnded = lost_ ? TPutBack::Unknown : TPutBack::No;
    if (interrupted_)
        end_ = TEnd::Interrupted;
    else if (lost_ || meterFault_ == TMeterFault::NoAnswer)
        end_ = TEnd::NoAnswer;
    else if (kv::station::VerdictOf(kv::cert::OutcomeOf(Facts())).Kind == TVerdictKind::Passed)
        end_ = TEnd::Passed;
    else
        end_ = TEnd::Failed;
    if (OnFinished)
        OnFinished();
}

kv::cert::TFacts TStationRun::Facts() const {
    kv::cert::TFacts f = facts_;
    f.Port = setup_.Port;
    f.Operator = setup_.Operator;
    f.ToolVersion = setup_.Version;
    f.Started = started_;
    f.Finished = finished_;
    if (first_) {
        f.Device = kv::cert::DeviceOf(*first_);
        f.Device.Before = kv::cert::CalibrationDateOf(*first_);
        if (std::isfinite(first_->InternalTemperature) && first_->InternalTemperature > kv::kNoTemperature)
            f.InternalTemperatureStart = first_->InternalTemperature;
        f.WorkingTimeMinutes = first_->WorkingTime;
    }
    if (last_) {
        if (std::isfinite(last_->InternalTemperature) && last_->InternalTemperature > kv::kNoTemperature)
            f.InternalTemperatureEnd = last_->InternalTemperature;
        if (f.Write == kv::cert::TWrite::Acknowledged || f.OutputWrite == kv::cert::TWrite::Acknowledged)
            f.Device.After = kv::cert::CalibrationDateOf(*last_);
    }
    // The bench's instruments and their traceability.
    const TBench& b = setup_.Bench;
    for (kv::cert::TReference& r : f.References)
        if (const auto it = b.References.find(r.Name); it != b.References.end() && !b.Path.isEmpty()) {
            r.Uncertainty = it->second.Uncertainty;
            r.Serial = it->second.Trace.Serial;
            r.Certificate = it->second.Trace.Certificate;
            r.Due = it->second.Trace.Due;
        }
    if (b.Source && sourced_) {
        kv::cert::TReference s;
        s.Name = QStringLiteral("source");
        s.Identity = b.Source->Name.isEmpty() ? QStringLiteral("the fixture's source") : b.Source->Name;
        s.Serial = b.Source->Trace.Serial;
        s.Certificate = b.Source->Trace.Certificate;
        s.Due = b.Source->Trace.Due;
        f.References.push_back(s);
    }
    if (!meterIdentity_.empty()) {
        kv::cert::TReference meter;
        meter.Name = QStringLiteral("meter");
        meter.Identity = QString::fromStdString(meterIdentity_) + QStringLiteral(" on ") + b.Meter->Line.Port;
        meter.Serial = b.Meter->Trace.Serial;
        meter.Certificate = b.Meter->Trace.Certificate;
        meter.Due = b.Meter->Trace.Due;
        f.References.push_back(meter);
    }
    return f;
}

} // namespace kv::station
