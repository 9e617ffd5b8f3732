#pragma once
// TCalibrateInput: `kvctl calibrate input` on the line: the run
// (InputCalibrationRun.h) on the shared poll cycle, whose polls carry the
// run's switch byte and whose pending commands are the run's settings reads
// and writes and its calibration record, and the line's fixture beside it.
// The command (KvCtlCalibrateInput.cpp) adds the output, the certificate and
// the exit code.
#include "InputCalibrationRun.h"
#include "PollCycle.h"

#include <QDateTime>

#include <functional>
#include <memory>

class TMBEngine;
class TMBTimerFactory;

namespace kvctl {

class TFixture;

class TCalibrateInput : private kv::TPollInputs, private kv::TPendingRequests {
public:
    struct TSetup {
        TInputReferences References;
        QString Fixture;  // the fixture's command line
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

    TCalibrateInput(TMBEngine& link, TSetup setup);
    ~TCalibrateInput() override;
    TCalibrateInput(const TCalibrateInput&) = delete;
    TCalibrateInput& operator=(const TCalibrateInput&) = delete;

    // Starts the poll on the open link.
    void Start();
    // Ctrl-C: the run gives back what it changed, then ends.
    void Interrupt();
    // The device or its port is gone (a hang-up): ends at once.
    void Lost(const QString& why);

    TEnd End() const { return end_; }
    std::function<void()> OnFinished;
    // The run's facts with the port, operator, version and times.
    kv::cert::TFacts Facts() const;
    const TInputCalibrationRun& Run() const { return run_; }
    kv::TPollCycle& Cycle() { return cycle_; }

private:
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

    void Finished();

    TMBEngine& link_;
    TSetup setup_;
    TInputCalibrationRun run_;
    kv::TPollCycle cycle_;
    std::unique_ptr<TFixture> fixture_;
    QDateTime started_, finished_;
    TEnd end_ = TEnd::Running;
    bool interrupted_ = false, lost_ = false;
};

} // namespace kvctl
