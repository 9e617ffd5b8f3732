#include "InProcessMeter.h"

#include "MBMemoryPort.h"
#include "MBTimer.h"

#include <cmath>

namespace kvsim {

TInProcessMeter::TInProcessMeter(TMBMemoryPort& port, TMBManualClock& clock, TInProcessDevice& device, std::uint64_t seed)
    : port_(port), clock_(clock), meter_(seed), session_(meter_, clock, [&device](std::uint32_t integrationMs) {
          device.Slave().SyncModel();
          return TMeterSample{device.Model().OutputAverage(integrationMs), device.Model().Now()};
      }) {
    session_.OnAnswer = [this](const std::string& answer) {
        if (silent_)
            return;
        const QByteArray data(answer.data(), static_cast<qsizetype>(answer.size()));
        const std::uint32_t rate = port_.Rate();
        const int ms = rate ? static_cast<int>(std::lround(static_cast<double>(answer.size()) * 10.0 * 1000.0 / rate)) : 0;
        inFlight_.remove_if([](const std::unique_ptr<TMBTimer>& t) { return !t->isActive(); });
        inFlight_.push_back(clock_.createTimer(ms, true, [this, data] { port_.Push(data); }));
        inFlight_.back()->start();
    };
    port_.OnWritten = [this](const QByteArray& bytes) {
        if (!silent_)
            session_.Receive(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    };
}

TInProcessMeter::~TInProcessMeter() {
    port_.OnWritten = nullptr;
    session_.OnAnswer = nullptr;
}

} // namespace kvsim
