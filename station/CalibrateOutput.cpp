#include "CalibrateOutput.h"

#include "Fixture.h"
#include "MBEngine.h"
#include "MBTimer.h"

#include <chrono>
#include <cmath>

namespace kv::station {

TCalibrateOutput::TCalibrateOutput(TMBEngine& link, TSetup setup)
    : setup_(std::move(setup)), cycle_(link, *this, *this),
      ownTimers_(setup_.Timers ? nullptr : std::make_unique<TMBQtTimerFactory>()),
      timers_(setup_.Timers ? *setup_.Timers : *ownTimers_),
      meter_(timers_, setup_.MakeMeterPort ? setup_.MakeMeterPort() : nullptr) {
    settle_ = timers_.createTimer(setup_.SettleMs, true, [] {});
    release_ = timers_.createTimer(setup_.ReleaseMs, true, [this] {
        // The device did not take a poll without forcing in time.
        Finished();
    });
    run_.Progress = [this](const QString& line) {
        if (setup_.Progress)
            setup_.Progress(line);
    };
    run_.Measure = [this](TMeterQuantity quantity) {
        settle_->onTimeout = [this, quantity] {
            settling_.emplace(setup_.Settling, quantity == meterCurrent ? setup_.Settling.CurrentFloor
                                                                         : setup_.Settling.VoltageFloor);
            settling_->Start(NowMs());
            ReadOnce(quantity);
        };
        settle_->start(setup_.SettleMs);
    };
    if (!setup_.RunFixture && !setup_.Fixture.trimmed().isEmpty()) {
        fixture_ = std::make_unique<TFixture>(setup_.Fixture, timers_, setup_.FixtureTimeoutS * 1000);
        fixture_->OnOutput = [this](const QString& line) {
            // What the fixture did goes into the run's log, the certificate's.
            run_.Facts().Log << QStringLiteral("fixture: ") + line;
            if (setup_.Progress)
                setup_.Progress(QStringLiteral("fixture: ") + line);
        };
        setup_.RunFixture = [this](const QStringList& words, std::function<void(const QString&)> done) {
            fixture_->Run(words, std::move(done));
        };
    }
    if (setup_.RunFixture)
        run_.RunFixture = [this](const QStringList& words) {
            setup_.RunFixture(words, [this](const QString& error) { run_.OnFixtureDone(error); });
        };
    run_.OnFinished = [this] { Finished(); };
    cycle_.OnEnd = [this](const kv::TCommandEnd& end) { Ended(end); };
    cycle_.OnPollAnswer = [this](const kv::PollAnswer& a) {
        // The answer belongs to the poll composed last: one request is in
        // flight, and the next is composed after this.
        run_.OnPoll(a, composed_);
    };
    meter_.OnHangUp = [] {}; // the query under way has failed by then
}

TCalibrateOutput::~TCalibrateOutput() {
    if (fixture_)
        fixture_->Cancel();
    run_.RunFixture = nullptr;
    run_.OnFinished = nullptr;
    run_.Measure = nullptr;
    cycle_.OnEnd = nullptr;
    cycle_.OnPollAnswer = nullptr;
    cycle_.Stop();
}

std::int64_t TCalibrateOutput::NowMs() const {
    if (setup_.Monotonic)
        return static_cast<std::int64_t>(std::llround(setup_.Monotonic() * 1000.0));
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void TCalibrateOutput::ReadOnce(TMeterQuantity quantity) {
    const std::int64_t asked = NowMs();
    meter_.Measure(quantity, [this, quantity, asked](const TMeterReply& r) {
        if (!settling_ || end_ != TEnd::Running)
            return;
        if (!r.Ok() || !r.Value) {
            if (!r.Ok() && meterFault_ == TMeterFault::None)
                meterFault_ = r.Fault;
            settling_.reset();
            run_.OnReading(std::nullopt, QString::fromStdString(r.Text));
            return;
        }
        const bool current = quantity == meterCurrent;
        switch (settling_->Add(*r.Value, asked, NowMs())) {
        case TSettledReading::TState::More:
            return ReadOnce(quantity);
        case TSettledReading::TState::TimedOut: {
            const QString why = QStringLiteral("the output does not settle: %1")
                                    .arg(QString::fromStdString(settling_->Failure(current ? 1000.0 : 1.0,
                                                                                   current ? "mA" : "V")));
            settling_.reset();
            run_.OnReading(std::nullopt, why);
            return;
        }
        case TSettledReading::TState::Settled: {
            const double settled = settling_->Value(), band = settling_->Band();
            settling_.reset();
            run_.OnReading(settled, {}, band);
            return;
        }
        }
    });
}

std::uint16_t TCalibrateOutput::PollPWMValue() const {
    composed_ = run_.PWMWord();
    return composed_;
}

QDate TCalibrateOutput::Today() const { return setup_.Today ? setup_.Today() : QDate::currentDate(); }

bool TCalibrateOutput::IsPending(kv::TPendingCommand command) const {
    return command == kv::pendWriteOutputCalibration && run_.RecordToWrite.has_value();
}

std::optional<std::vector<std::uint8_t>> TCalibrateOutput::CommandData(kv::TPendingCommand command) {
    if (command == kv::pendWriteOutputCalibration && run_.RecordToWrite)
        return run_.RecordToWrite->Encode();
    return std::nullopt;
}

bool TCalibrateOutput::Start(QString& why) {
    started_ = setup_.Now ? setup_.Now() : QDateTime::currentDateTime();
    const TMeterLine& line = setup_.Meter.Line;
    if (!meter_.Open(setup_.Meter)) {
        why = QStringLiteral("cannot open the meter's port %1 (%2 baud, %3): %4")
                  .arg(line.Port)
                  .arg(line.Baud)
                  .arg(MBFrameText(line.Settings()), meter_.OpenError().simplified());
        return false;
    }
    if (setup_.Progress)
        setup_.Progress(QStringLiteral("meter on %1 at %2 baud, %3: asking who it is")
                            .arg(line.Port)
                            .arg(line.Baud)
                            .arg(MBFrameText(line.Settings())));
    meter_.Identify([this](const TMeterReply& r) {
        if (end_ != TEnd::Running)
            return; // interrupted while the meter was asked
        if (!r.Ok()) {
            // Nothing was sent to the device yet.
            meterFault_ = r.Fault;
            run_.Facts().Failure = QString::fromStdString(r.Text);
            end_ = r.Fault == TMeterFault::Identity ? TEnd::Refused
                   : MeterAnswered(r.Fault)         ? TEnd::Failed
                                                    : TEnd::NoAnswer;
            meter_.Release();
            finished_ = setup_.Now ? setup_.Now() : QDateTime::currentDateTime();
            if (OnFinished)
                OnFinished();
            return;
        }
        const std::string& answer = r.Text;
        meterIdentity_ = answer;
        if (setup_.Progress)
            setup_.Progress(QStringLiteral("meter: %1").arg(QString::fromStdString(answer)));
        run_.Start();
        cycle_.StartPoll();
    });
    return true;
}

void TCalibrateOutput::Ended(const kv::TCommandEnd& end) {
    if (end_ != TEnd::Running)
        return;
    if (end.Command == kv::cmdWriteOutputCalibration) {
        run_.OnWriteEnd(end.Done);
        return;
    }
    if (end.Command == kv::cmdPoll && !end.Done && !end.Crossed && !silent_) {
        // No answer after the link's tries: the device went silent. The
        // cycle polls on (without forcing now), in case it comes back.
        silent_ = true;
        lost_ = true;
        run_.Lost(QStringLiteral("the device did not answer (%1)").arg(QString::fromStdString(end.StatusText)));
        if (setup_.Progress)
            setup_.Progress(QStringLiteral("the device does not answer: asking it to end the forcing for up to %1 s")
                                .arg(setup_.ReleaseMs / 1000.0));
        StartRelease();
    }
}

void TCalibrateOutput::StartRelease() {
    if (!release_->isActive())
        release_->start(setup_.ReleaseMs);
}

void TCalibrateOutput::Interrupt() {
    if (end_ != TEnd::Running)
        return;
    if (interrupted_) {
        // A second Ctrl-C: leave now.
        Finished();
        return;
    }
    interrupted_ = true;
    if (fixture_)
        fixture_->Cancel();
    if (meterIdentity_.empty()) {
        // Still asking the meter: the device has not been polled.
        run_.Facts().Failure = QStringLiteral("interrupted");
        Finished();
        return;
    }
    if (setup_.Progress)
        setup_.Progress(QStringLiteral("interrupted: ending the forcing (Ctrl-C again leaves at once)"));
    run_.Abort(QStringLiteral("interrupted"));
    StartRelease();
}

void TCalibrateOutput::Lost(const QString& why) {
    if (end_ != TEnd::Running)
        return;
    lost_ = true;
    run_.Lost(why);
    Finished();
}

void TCalibrateOutput::Finished() {
    if (end_ != TEnd::Running)
        return;
    release_->stop();
    settle_->stop();
    settling_.reset();
    if (fixture_)
        fixture_->Cancel();
    cycle_.Stop();
    meter_.Release();
    finished_ = setup_.Now ? setup_.Now() : QDateTime::currentDateTime();
    if (interrupted_)
        end_ = TEnd::Interrupted;
    else if (lost_ || meterFault_ == TMeterFault::NoAnswer)
        end_ = TEnd::NoAnswer;
    else if (run_.Passed())
        end_ = TEnd::Passed;
    else
        end_ = TEnd::Failed;
    if (OnFinished)
        OnFinished();
}

kv::cert::TFacts TCalibrateOutput::Facts() const {
    kv::cert::TFacts f = run_.Facts();
    f.Port = setup_.Port;
    f.Operator = setup_.Operator;
    f.ToolVersion = setup_.Version;
    f.Started = started_;
    f.Finished = finished_;
    kv::cert::TReference meter;
    meter.Name = QStringLiteral("meter");
    meter.Identity = QString::fromStdString(meterIdentity_) + QStringLiteral(" on ") + setup_.Meter.Line.Port;
    meter.Serial = setup_.Meter.Trace.Serial;
    meter.Certificate = setup_.Meter.Trace.Certificate;
    meter.Due = setup_.Meter.Trace.Due;
    f.References.push_back(meter);
    if (end_ == TEnd::Interrupted && f.Failure.isEmpty())
        f.Failure = QStringLiteral("interrupted");
    if (!run_.ForcingEnded() && end_ != TEnd::Running && !f.Failure.isEmpty() && !meterIdentity_.empty())
        f.Failure += QStringLiteral("; the device's output may still be forced");
    return f;
}

} // namespace kv::station
