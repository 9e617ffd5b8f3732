#pragma once
// TCalibrateInput: `kvctl calibrate input` on the line: the run
// (InputCalibrationRun.h) as what the shared poll cycle is given (its polls
// carry the run's switch byte, its pending commands are the run's settings
// reads and writes and its calibration record) and as what takes the
// cycle's events, with the line's fixture beside it. The command
// (KvCtlCalibrateInput.cpp) wires it to kvctl's cycle and adds the output,
// the certificate and the exit code.
#include "InputCalibrationRun.h"
#include "PollCycle.h"

#include <QDateTime>

#include <functional>
#include <memory>

class TMBTimerFactory;

namespace kv::station {

class TFixture;

class TCalibrateInput final : public kv::TPollInputs, public kv::TPendingRequests {
public:
    struct TSetup {
        TInputReferences References;
        // The bench file's references by name, for their traceability on
        // the certificate; empty from options alone.
        std::map<QString, TBenchReference> BenchReferences;
        QString Fixture;  // the fixture's command line
        int FixtureTimeoutS = 60;
        QString Operator, Port, Version;
        std::function<QDateTime()> Now;
        std::function<QDate()> Today; // the poll's date
        // Runs the fixture with a step's words; null: the command line as a
        // process (TFixture). Tests connect kvsim's console instead.
        std::function<void(const QStringList& words, std::function<void(const QString& error)> done)> RunFixture;
        std::function<void(const QString& line)> Progress;
        TMBTimerFactory* Timers = nullptr; // the fixture's time-out
    };
    enum class TEnd : std::uint8_t { Running, Passed, Failed, NoAnswer, Interrupted };

    explicit TCalibrateInput(TSetup setup);
    ~TCalibrateInput() override;
    TCalibrateInput(const TCalibrateInput&) = delete;
    TCalibrateInput& operator=(const TCalibrateInput&) = delete;

    // The run begins; the cycle's first poll follows.
    void Start();
    // The cycle's events.
    void Ended(const kv::TCommandEnd& end);
    void Poll(const kv::PollAnswer& a) { run_.OnPoll(a); }
    void Settings(kv::TDeviceCommand command, const kv::SettingsRecord& r);
    // Ctrl-C: the run gives back what it changed, then ends.
    void Interrupt();
    // The device or its port is gone (a hang-up): ends at once.
    void Lost(const QString& why);

    TEnd End() const { return end_; }
    std::function<void()> OnFinished;
    // The run's facts with the port, operator, version and times.
    kv::cert::TFacts Facts() const;
    const TInputCalibrationRun& Run() const { return run_; }


    // kv::TPollInputs
    std::uint16_t PollPWMValue() const override { return 0; }
    std::uint8_t PollFETControl() const override { return run_.FETControl(); }
    QDate Today() const override;
    // kv::TPendingRequests
    bool IsPending(kv::TPendingCommand command) const override;
    void SetPending(kv::TPendingCommand command, bool pending) override;
    std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand command) override;
    std::uint8_t MaintenanceBits() const override { return 0; }
    void ReleaseMaintenance(std::uint8_t) override {}

private:
    void Finished();

    TSetup setup_;
    TInputCalibrationRun run_;
    std::unique_ptr<TFixture> fixture_;
    QDateTime started_, finished_;
    TEnd end_ = TEnd::Running;
    bool interrupted_ = false, lost_ = false;
};

} // namespace kv::station
