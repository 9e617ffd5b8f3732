#include "MeterServer.h"

namespace kvsim {

TMeterServer::TMeterServer(TBenchMeter& meter, std::function<TMeterReading()> output, const TPtyLine::Options& options,
                           QObject* parent)
    : QObject(parent), meter_(meter), output_(std::move(output)), line_(options) {
    aperture_.setSingleShot(true);
    aperture_.setTimerType(Qt::PreciseTimer);
    connect(&aperture_, &QTimer::timeout, this, [this] { Finish(); });
    line_.OnReceive = [this](const std::uint8_t* data, std::size_t n) {
        meter_.Receive(std::string_view(reinterpret_cast<const char*>(data), n));
        Next();
    };
    // Whatever was half-said on a line that went away is forgotten.
    line_.OnClose = [this] {
        aperture_.stop();
        measuring_ = {};
        std::string dropped;
        while (meter_.NextLine(dropped)) {
        }
    };
    connect(&line_, &TPtyLine::opened, this, &TMeterServer::opened);
}

TMeterServer::~TMeterServer() {
    line_.Close();
    line_.OnReceive = nullptr;
    line_.OnClose = nullptr;
}

void TMeterServer::Next() {
    std::string line;
    while (!aperture_.isActive() && meter_.NextLine(line)) {
        TScpiReply reply = meter_.Execute(line);
        if (reply.Measures()) {
            measuring_ = std::move(reply);
            aperture_.start(static_cast<int>(TBenchMeter::kApertureMs));
            return;
        }
        const std::string answer = meter_.Answer(reply, {});
        if (!answer.empty())
            line_.Send(answer);
    }
}

void TMeterServer::Finish() {
    const std::string answer = meter_.Answer(measuring_, output_());
    measuring_ = {};
    line_.Send(answer);
    Next();
}

} // namespace kvsim
