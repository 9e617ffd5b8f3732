#include "CalibrateInput.h"

#include "Fixture.h"

namespace kv::station {

TCalibrateInput::TCalibrateInput(TSetup setup) : setup_(std::move(setup)), run_(setup_.References) {
    if (!setup_.RunFixture) {
        fixture_ = std::make_unique<TFixture>(setup_.Fixture, *setup_.Timers, setup_.FixtureTimeoutS * 1000);
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
    run_.RunFixture = [this](const QStringList& words) {
        setup_.RunFixture(words, [this](const QString& error) { run_.OnFixtureDone(error); });
    };
    run_.Progress = setup_.Progress;
    run_.OnFinished = [this] { Finished(); };

}

void TCalibrateInput::Ended(const kv::TCommandEnd& end) {
    if (end.Command == kv::cmdWriteInputCalibration || end.Command == kv::cmdWriteSettings)
        run_.OnCommandEnd(end.Command, end.Done);
    // A poll that fails after all the link's tries: the device is gone (a
    // late answer that crossed is no such failure).
    else if (end.Command == kv::cmdPoll && !end.Done && !end.Crossed)
        Lost(QStringLiteral("the device did not answer (%1)").arg(QString::fromStdString(end.StatusText)));
}

void TCalibrateInput::Settings(kv::TDeviceCommand command, const kv::SettingsRecord& r) {
    if (command == kv::cmdReadSettings)
        run_.OnSettings(r);
}

TCalibrateInput::~TCalibrateInput() = default;

void TCalibrateInput::Start() {
    started_ = setup_.Now ? setup_.Now() : QDateTime::currentDateTime();
    run_.Start();
}

void TCalibrateInput::Interrupt() {
    if (end_ != TEnd::Running)
        return;
    if (interrupted_) {
        // Asked twice: the device is left as it is.
        run_.Lost(QStringLiteral("interrupted twice; the device was left as it was"));
        return;
    }
    interrupted_ = true;
    if (fixture_)
        fixture_->Cancel();
    run_.Abort(QStringLiteral("interrupted"));
}

void TCalibrateInput::Lost(const QString& why) {
    if (end_ != TEnd::Running)
        return;
    lost_ = true;
    run_.Lost(why);
}

QDate TCalibrateInput::Today() const { return setup_.Today ? setup_.Today() : QDate::currentDate(); }

bool TCalibrateInput::IsPending(kv::TPendingCommand command) const {
    switch (command) {
    case kv::pendWriteInputCalibration: return run_.RecordToWrite.has_value();
    case kv::pendReadSettings: return run_.ReadSettingsPending;
    case kv::pendWriteSettings: return run_.SettingsToWrite.has_value();
    default: return false;
    }
}

// The run keeps its own requests: it takes a write's end from OnEnd, and the
// read the cycle makes pending after a settings write is the run's too.
void TCalibrateInput::SetPending(kv::TPendingCommand command, bool pending) {
    if (command == kv::pendReadSettings)
        run_.ReadSettingsPending = pending && !run_.Finished();
}

std::optional<std::vector<std::uint8_t>> TCalibrateInput::CommandData(kv::TPendingCommand command) {
    switch (command) {
    case kv::pendWriteInputCalibration:
        return run_.RecordToWrite ? std::optional(run_.RecordToWrite->Encode()) : std::nullopt;
    case kv::pendWriteSettings:
        return run_.SettingsToWrite ? std::optional(run_.SettingsToWrite->Encode()) : std::nullopt;
    case kv::pendReadSettings:
        return std::vector<std::uint8_t>{};
    default:
        return std::nullopt;
    }
}

void TCalibrateInput::Finished() {
    finished_ = setup_.Now ? setup_.Now() : QDateTime::currentDateTime();
    if (fixture_)
        fixture_->Cancel();
    end_ = lost_ ? TEnd::NoAnswer : interrupted_ ? TEnd::Interrupted : run_.Passed() ? TEnd::Passed : TEnd::Failed;
    if (OnFinished)
        OnFinished();
}

kv::cert::TFacts TCalibrateInput::Facts() const {
    kv::cert::TFacts f = run_.Facts();
    f.Port = setup_.Port;
    f.Operator = setup_.Operator;
    f.ToolVersion = setup_.Version;
    f.Started = started_;
    f.Finished = finished_;
    for (kv::cert::TReference& r : f.References)
        if (const auto it = setup_.BenchReferences.find(r.Name); it != setup_.BenchReferences.end()) {
            r.Uncertainty = it->second.Uncertainty;
            r.Serial = it->second.Trace.Serial;
            r.Certificate = it->second.Trace.Certificate;
            r.Due = it->second.Trace.Due;
        }
    return f;
}

} // namespace kv::station
