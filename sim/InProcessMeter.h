#pragma once
// TInProcessMeter: kvsim's bench meter on an in-memory port, for the tests of
// the programs that read it: a TMeterSession on the test's TMBManualClock,
// reading the output of an in-process device over its integration up to the
// clock's time (the device's model is moved on to it first). An answer reaches the port when
// its last character would have at the port's rate.
// The TInProcessMeter must not outlive the port, the clock and the device.
#include "BenchMeter.h"
#include "InProcessDevice.h"
#include "MeterSession.h"

#include <list>
#include <memory>

class TMBMemoryPort;
class TMBManualClock;

namespace kvsim {

class TInProcessMeter {
public:
    TInProcessMeter(TMBMemoryPort& port, TMBManualClock& clock, TInProcessDevice& device, std::uint64_t seed = 1);
    ~TInProcessMeter();
    TInProcessMeter(const TInProcessMeter&) = delete;
    TInProcessMeter& operator=(const TInProcessMeter&) = delete;

    TBenchMeter& Meter() { return meter_; }
    // The meter stops answering (unplugged from its port, switched off).
    void SetSilent(bool on) { silent_ = on; }

private:
    TMBMemoryPort& port_;
    TMBManualClock& clock_;
    TBenchMeter meter_;
    TMeterSession session_;
    bool silent_ = false;
    std::list<std::unique_ptr<TMBTimer>> inFlight_;
};

} // namespace kvsim
