#pragma once
// TRunStage: one part of a station run on the shared poll cycle (StationRun.h
// runs them one after the other): a verification, the input trim, the output
// trim. What its polls carry (the PWM word, the switch byte), what it has
// pending (settings read and written, a calibration record), and the events
// it takes: the cycle's answers and ends, the fixture's end, the meter's
// settled reading, a stop from outside. It asks through its callbacks for
// the fixture and the meter, and says when it has finished.
//
// No clock and no I/O: the stages are driven by hand in their tests.
#include "DeviceRecords.h"
#include "MeterClient.h"
#include "PollCycle.h"
#include "Settling.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace kv::station {

class TRunStage {
public:
    virtual ~TRunStage() = default;

    virtual void Start() = 0;

    // ---- asked by the poll cycle
    virtual std::uint16_t PWMWord() const { return 0; }
    virtual std::uint8_t FETControl() const { return 0; }
    virtual bool IsPending(kv::TPendingCommand command) const = 0;
    // The cycle's own changes of what is pending (a settings write makes the
    // read pending, a read releases both).
    virtual void SetPending(kv::TPendingCommand, bool) {}
    virtual std::optional<std::vector<std::uint8_t>> CommandData(kv::TPendingCommand command) = 0;

    // ---- the events
    // A good poll answer; `carried`: the PWM word that poll carried.
    virtual void OnPoll(const kv::PollAnswer& a, std::uint16_t carried) = 0;
    virtual void OnSettings(const kv::SettingsRecord&) {}
    // The end of command 2, 3 or 4 (`done`: acknowledged).
    virtual void OnCommandEnd(std::uint8_t, bool) {}
    virtual void OnFixtureDone(const QString& error) = 0;
    // The settled reading asked for, or why there is none (`fault`: what
    // the meter did).
    virtual void OnReading(const std::optional<TMeterResult>&, const QString&, TMeterFault) {}
    // Stops it (Ctrl-C, a fault of the bench): what it changed on the device
    // is given back first while the device answers.
    virtual void Abort(const QString& why) = 0;
    // The device no longer answers.
    virtual void Lost(const QString& why) = 0;
    virtual bool Finished() const = 0;

    // ---- what it asks of the run around it
    std::function<void(const QStringList& words)> RunFixture;
    std::function<void(TMeterQuantity quantity)> Measure;
    std::function<void(const QString& line)> Progress;
    std::function<void()> OnFinished;
};

} // namespace kv::station
