#include "MeterServer.h"

namespace kvsim {

TMeterServer::TMeterServer(TBenchMeter& meter, TMeterOutput output, const TPtyLine::Options& options,
                           QObject* parent)
    : QObject(parent), session_(meter, timers_, std::move(output)), line_(options) {
    session_.OnAnswer = [this](const std::string& answer) { line_.Send(answer); };
    line_.OnReceive = [this](const std::uint8_t* data, std::size_t n) {
        session_.Receive(std::string_view(reinterpret_cast<const char*>(data), n));
    };
    line_.OnClose = [this] { session_.Reset(); };
    connect(&line_, &TPtyLine::opened, this, &TMeterServer::opened);
}

TMeterServer::~TMeterServer() {
    line_.Close();
    line_.OnReceive = nullptr;
    line_.OnClose = nullptr;
    session_.OnAnswer = nullptr;
}

} // namespace kvsim
