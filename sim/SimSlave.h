#pragma once
// TSimSlave: the link engine in modeASCIISlave answering for the device model.
// It is the simulator's one piece of protocol glue, shared by kvsim (pseudo-
// terminal, Qt timers) and the in-process device (memory port, manual clock):
// bytes from the line go in with Receive(); every complete answer frame comes
// out through OnAnswer, with the faults of its request already applied
// (dropped, corrupted, noise in front). The turnaround, and the time the
// request itself took on the line, are waited on the engine's own slave delay
// timer, so the answer leaves as late as it would from a real device.
// The slave also keeps the device's time: its measuring cycle runs when due
// on a timer of the same seam (the clock's, in tests the manual clock's), so
// the loop current follows the process value whether a master polls or not.
#include "DeviceModel.h"
#include "Faults.h"
#include "MBEngine.h"

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

namespace kvsim {

class TSimSlave : public TMBEngine {
public:
    // now: the time in milliseconds that the model is advanced to before each
    // request (a monotonic clock, or the manual clock of a test).
    TSimSlave(TDeviceModel& model, TFaultInjector& faults, TMBTimerFactory* timers, std::function<std::int64_t()> now);

    // Takes the line: ASCII slave mode, receiver reset, waiting for requests.
    void Start();
    void Stop();
    // Bytes from the line.
    void Receive(const std::uint8_t* data, std::size_t n) { MBParseReceived(data, n); }
    void Receive(std::string_view s) { MBParseReceived(s); }

    // Pause between the end of a request and the first character of the answer.
    void SetTurnaround(std::uint16_t ms) { turnaround_ = ms; }
    std::uint16_t Turnaround() const { return turnaround_; }
    // The line rate used to time the request's own characters; 0: requests take no time.
    void SetLineRate(std::uint32_t rate) { lineRate_ = rate; }
    // For a server that places the answer's characters on the line itself, to
    // the microsecond: the engine's millisecond delay then hands the answer
    // over a little early (a millisecond short, rounded down) and the server
    // holds it until AnswerDelayMs() after the request's last character came.
    void SetEarlyHandOff(bool on) { earlyHandOff_ = on; }
    // Request line time plus turnaround of the latest request, unrounded.
    double AnswerDelayMs() const { return exactDelayMs_; }

    // Moves the model's time on to the clock's now. Each request and each
    // measuring cycle does it; whoever else looks at the model in real time
    // (the bench meter, the console) does it through here, so that the
    // model's time is kept in one place.
    void SyncModel();

    // A complete answer as it goes on the line (noise first, then the frame).
    std::function<void(const std::string& bytes)> OnAnswer;

    std::uint64_t Requests() const { return requests_; }
    std::uint64_t Answers() const { return answers_; }
    // Requests of a command that reached the device model (not dropped, not
    // answered with an injected error): what the device actually carried out.
    std::uint64_t Handled(std::uint8_t command) const { return handled_[command]; }

protected:
    bool MBWriteToPort(const std::uint8_t* data, std::size_t n) override;

private:
    void Handle(std::uint8_t command, std::uint16_t dataNumber);
    // The device's next measuring cycle, on the cycle timer.
    void ArmCycle();
    void Emit(const std::string& bytes);

    TDeviceModel& model_;
    TFaultInjector& faults_;
    std::function<std::int64_t()> now_;
    std::int64_t modelTime_ = 0;
    std::uint16_t turnaround_ = 2;
    std::uint32_t lineRate_ = 0;
    TAnswerFate fate_;
    std::string frame_;
    std::uint16_t delay_ = 0;  // the delay the present answer waits on the engine
    double exactDelayMs_ = 0;
    bool earlyHandOff_ = false;
    // Late answers held back beyond the engine's delay; each request is
    // answered late on its own, as a slow device would.
    std::list<std::pair<std::unique_ptr<TMBTimer>, std::string>> held_;
    bool releasing_ = false;
    std::uint64_t requests_ = 0;
    std::uint64_t answers_ = 0;
    std::array<std::uint64_t, 256> handled_{};
    // Periodic, so that a test's runUntilIdle does not wait for it to end.
    std::unique_ptr<TMBTimer> cycle_;
};

} // namespace kvsim
