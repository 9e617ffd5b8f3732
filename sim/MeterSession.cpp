#include "MeterSession.h"

namespace kvsim {

TMeterSession::TMeterSession(TBenchMeter& meter, TMBTimerFactory& timers, std::function<TMeterReading()> output)
    : meter_(meter), output_(std::move(output)) {
    aperture_ = timers.createTimer(static_cast<int>(TBenchMeter::kApertureMs), true, [this] { Finish(); });
}

void TMeterSession::Receive(std::string_view bytes) {
    meter_.Receive(bytes);
    Next();
}

void TMeterSession::Reset() {
    aperture_->stop();
    measuring_ = {};
    std::string dropped;
    while (meter_.NextLine(dropped)) {
    }
}

void TMeterSession::Next() {
    std::string line;
    while (!aperture_->isActive() && meter_.NextLine(line)) {
        TScpiReply reply = meter_.Execute(line);
        if (reply.Measures()) {
            measuring_ = std::move(reply);
            aperture_->start();
            return;
        }
        const std::string answer = meter_.Answer(reply, {});
        if (!answer.empty() && OnAnswer)
            OnAnswer(answer);
    }
}

void TMeterSession::Finish() {
    const std::string answer = meter_.Answer(measuring_, output_());
    measuring_ = {};
    if (OnAnswer)
        OnAnswer(answer);
    Next();
}

} // namespace kvsim
