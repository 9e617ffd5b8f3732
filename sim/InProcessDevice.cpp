#include "InProcessDevice.h"

#include "MBMemoryPort.h"
#include "MBTimer.h"

#include <cmath>

namespace kvsim {

TInProcessDevice::TInProcessDevice(TMBMemoryPort& port, TMBManualClock& clock, const TDeviceConfig& config, std::uint64_t faultSeed)
    : port_(port), clock_(clock), model_(config), faults_(faultSeed),
      slave_(model_, faults_, &clock, [&clock] { return clock.now(); }) {
    slave_.OnAnswer = [this](const std::string& bytes) { Answer(bytes); };
    slave_.Start();
    port_.OnWritten = [this](const QByteArray& bytes) {
        slave_.SetLineRate(pace_ ? port_.Rate() : 0);
        slave_.Receive(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    };
}

TInProcessDevice::~TInProcessDevice() {
    port_.OnWritten = nullptr;
    slave_.OnAnswer = nullptr;
}

void TInProcessDevice::Answer(const std::string& bytes) {
    const QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const std::uint32_t rate = pace_ ? port_.Rate() : 0;
    if (rate == 0) {
        ++sent_;
        port_.Push(data);
        return;
    }
    // The answer is complete at the receiver once its last character is in.
    const int ms = static_cast<int>(std::lround(static_cast<double>(bytes.size()) * 10.0 * 1000.0 / rate));
    inFlight_.remove_if([](const std::unique_ptr<TMBTimer>& t) { return !t->isActive(); });
    inFlight_.push_back(clock_.createTimer(ms, true, [this, data] {
        ++sent_;
        port_.Push(data);
    }));
    inFlight_.back()->start();
}

std::size_t TInProcessDevice::AnswersInFlight() const {
    std::size_t n = 0;
    for (const auto& t : inFlight_)
        n += t->isActive();
    return n;
}

void TInProcessDevice::HangUp() {
    inFlight_.clear();
    port_.HangUp();
}

std::string TInProcessDevice::Console(const std::string& line, TBenchMeter* meter) {
    slave_.SyncModel(); // the line acts now, not when the model was last looked at
    TConsoleAction action = actNone;
    std::string reply = ConsoleExecute(line, faults_, model_, action, meter);
    if (action == actHangUp)
        HangUp();
    return reply;
}

} // namespace kvsim
