#pragma once
// TInProcessDevice: the simulated transmitter wired to an in-memory port, for
// the program's tests. A TMB (or any master) that writes to the TMBMemoryPort
// is answered by the device model through the link engine in ASCII slave mode,
// with all times on the test's TMBManualClock: the request's characters, the
// turnaround and the answer's characters each take their time at the port's
// rate (SetPaceLine(false) makes the line itself take no time), so a test
// moves the clock on and sees the answer arrive when a real device's would.
// A turnaround of 0 without line time answers inside the master's write; the
// memory port then hands the answer over at DeliverPending() or at the next
// turn of the event loop. The device takes the port's OnWritten.
// The TInProcessDevice must not outlive the port and the clock.
#include "DeviceModel.h"
#include "Faults.h"
#include "SimSlave.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string>

class TMBMemoryPort;
class TMBManualClock;
class TMBTimer;

namespace kvsim {

class TInProcessDevice {
public:
    TInProcessDevice(TMBMemoryPort& port, TMBManualClock& clock, const TDeviceConfig& config = {}, std::uint64_t faultSeed = 1);
    ~TInProcessDevice();
    TInProcessDevice(const TInProcessDevice&) = delete;
    TInProcessDevice& operator=(const TInProcessDevice&) = delete;

    TDeviceModel& Model() { return model_; }
    TFaultInjector& Faults() { return faults_; }
    TSimSlave& Slave() { return slave_; }

    void SetTurnaround(std::uint16_t ms) { slave_.SetTurnaround(ms); }
    void SetPaceLine(bool on) { pace_ = on; }
    // The device vanishes from the line (the port reports the hang-up once).
    void HangUp();
    // A console line as kvsim takes it on its standard input ("drop 0.3",
    // "error 254", "hangup", ...), at the clock's time; returns the reply.
    // The bench meter's words need the meter.
    std::string Console(const std::string& line, TBenchMeter* meter = nullptr);
    // What an external meter on the device's output reads (kvsim's "meter").
    TMeterReading Meter() const { return model_.Meter(); }

    // Answers written to the line so far, and those still on their way.
    std::uint64_t AnswersSent() const { return sent_; }
    std::size_t AnswersInFlight() const;

private:
    void Answer(const std::string& bytes);

    TMBMemoryPort& port_;
    TMBManualClock& clock_;
    TDeviceModel model_;
    TFaultInjector faults_;
    TSimSlave slave_;
    bool pace_ = true;
    std::uint64_t sent_ = 0;
    std::list<std::unique_ptr<TMBTimer>> inFlight_;
};

} // namespace kvsim
