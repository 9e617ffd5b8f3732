#include "PtyServer.h"

namespace kvsim {

namespace {
std::int64_t MonotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(TPtyLine::Clock::now().time_since_epoch()).count();
}
} // namespace

TPtyServer::TPtyServer(TDeviceModel& model, TFaultInjector& faults, const Options& options, QObject* parent)
    : QObject(parent), line_(options) {
    slave_ = std::make_unique<TSimSlave>(model, faults, &timers_, [] { return MonotonicMs(); });
    slave_->SetTurnaround(options.Turnaround);
    slave_->SetEarlyHandOff(true);
    slave_->OnAnswer = [this](const std::string& bytes) {
        // The answer starts when the request's characters and the turnaround
        // are over (the pty delivered the request at once), or when the line
        // is free.
        const auto due = line_.LastReceived() + std::chrono::nanoseconds(
                                                    static_cast<std::int64_t>(slave_->AnswerDelayMs() * 1e6));
        line_.Send(bytes, due);
    };
    line_.OnOpen = [this] { slave_->Start(); };
    line_.OnClose = [this] { slave_->Stop(); };
    line_.OnReceive = [this](const std::uint8_t* data, std::size_t n) {
        slave_->SetLineRate(line_.LineRate());
        slave_->Receive(data, n);
    };
    connect(&line_, &TPtyLine::opened, this, &TPtyServer::opened);
    connect(&line_, &TPtyLine::hungUp, this, &TPtyServer::hungUp);
}

TPtyServer::~TPtyServer() {
    slave_->OnAnswer = nullptr;
    line_.Close();
    line_.OnReceive = nullptr;
    line_.OnOpen = line_.OnClose = nullptr;
}

} // namespace kvsim
