#include "MeterSession.h"

namespace kvsim {

TMeterSession::TMeterSession(TBenchMeter& meter, TMBTimerFactory& timers, TMeterOutput output)
    : meter_(meter), output_(std::move(output)) {
    integration_ = timers.createTimer(static_cast<int>(TBenchMeter::kDefaultIntegrationMs), true, [this] { Finish(); });
}

void TMeterSession::Receive(std::string_view bytes) {
    meter_.Receive(bytes);
    Next();
}

void TMeterSession::Reset() {
    integration_->stop();
    measuring_ = {};
    std::string dropped;
    while (meter_.NextLine(dropped)) {
    }
}

void TMeterSession::Send(const std::string& bytes) {
    if (!bytes.empty() && OnAnswer)
        OnAnswer(bytes);
}

void TMeterSession::Next() {
    std::string line, ending;
    while (!integration_->isActive() && meter_.NextLine(line, &ending)) {
        TScpiReply reply = meter_.Execute(line);
        if (reply.Ignored)
            continue;
        const std::string echo = meter_.Terminal() ? line + ending : std::string();
        if (reply.Measures()) {
            Send(echo);
            measuring_ = std::move(reply);
            integratingMs_ = meter_.IntegrationMs();
            integration_->start(static_cast<int>(integratingMs_));
            return;
        }
        Send(echo + meter_.Answer(reply, {}) + meter_.Prompt());
    }
}

void TMeterSession::Finish() {
    const std::string answer = meter_.Answer(measuring_, output_(integratingMs_)) + meter_.Prompt();
    measuring_ = {};
    Send(answer);
    Next();
}

} // namespace kvsim
