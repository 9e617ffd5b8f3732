#include "MeterClient.h"

#include <charconv>
#include <cmath>

namespace kv::station {

namespace {

// The overload reading of SCPI meters.
constexpr double kOverload = 9.9e37;

std::optional<double> Number(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace

std::optional<double> ParseMeterReading(std::string_view text) {
    const std::optional<double> v = Number(text);
    if (!v || std::fabs(*v) >= kOverload)
        return std::nullopt;
    return v;
}

TMeterClient::TMeterClient(TMBTimerFactory& timers, std::unique_ptr<TMBPort> port)
    : port_(port ? std::move(port) : MBCreateSystemPort()) {
    timeout_ = timers.createTimer(kAnswerTimeoutMs, true, [] {});
    port_->OnReceive = [this](qint64 waiting) { Receive(waiting); };
    port_->OnLineState = [](std::uint32_t, std::uint32_t) {};
    // Seen inside a write or a receive: acted on from a timer, not under it.
    hangUp_ = timers.createTimer(0, true, [this] {
        Close();
        Fail("the meter's port " + portName_.toStdString() + " hung up");
        if (OnHangUp)
            OnHangUp();
    });
    port_->OnHangUp = [this] {
        hungUp_ = true;
        hangUp_->start();
    };
}

TMeterClient::~TMeterClient() {
    pending_ = nullptr;
    OnHangUp = nullptr;
    if (port_->IsOpen())
        port_->Close();
    port_->OnReceive = nullptr;
    port_->OnLineState = nullptr;
    port_->OnHangUp = nullptr;
}

bool TMeterClient::Open(const QString& name, std::uint32_t rate) {
    Close();
    portName_ = name;
    if (!port_->Open(name, rate)) {
        openError_ = port_->ErrorText();
        return false;
    }
    ++session_;
    openError_.clear();
    buffer_.clear();
    hungUp_ = false;
    return true;
}

void TMeterClient::Close() {
    ++session_;
    timeout_->stop();
    hangUp_->stop();
    quiet_ = false;
    if (port_->IsOpen())
        port_->Close();
}

void TMeterClient::Fail(const std::string& why) {
    timeout_->stop();
    quiet_ = false;
    buffer_.clear();
    if (TAnswer done = std::move(pending_)) {
        pending_ = nullptr;
        done(false, why);
    }
}

void TMeterClient::Query(const std::string& command, TAnswer done) {
    const std::string line = command + "\n";
    const int session = session_;
    if (pending_ || !port_->IsOpen() ||
        port_->Write(line.data(), static_cast<qint64>(line.size())) != static_cast<qint64>(line.size())) {
        // Reported from the event loop, as an answer would be.
        const std::string why = pending_    ? "the meter is still busy with a query"
                                : hungUp_   ? "the meter's port " + portName_.toStdString() + " hung up"
                                : !port_->IsOpen() ? "the meter's port is not open"
                                                   : "cannot write to the meter's port " + portName_.toStdString();
        if (pending_)
            return done(false, why); // the query under way keeps the timer
        pending_ = std::move(done);
        timeout_->onTimeout = [this, why, session] {
            if (session == session_)
                Fail(why);
        };
        timeout_->start(0);
        return;
    }
    pending_ = std::move(done);
    buffer_.clear();
    timeout_->onTimeout = [this, command, session] {
        if (session == session_)
            Fail("no answer from the meter to " + command + " within " + std::to_string(kAnswerTimeoutMs / 1000) +
                 " s (is it on " + portName_.toStdString() + " at this rate, and does it end its lines in \\n?)");
    };
    timeout_->start(kAnswerTimeoutMs);
}

void TMeterClient::Identify(TAnswer done) {
    if (pending_)
        return done(false, "the meter is still busy with a query");
    // End whatever half line an earlier program left; the meter may answer
    // it, or an unread answer may still come: wait and throw it away.
    if (port_->IsOpen())
        port_->Write("\n", 1);
    quiet_ = true;
    pending_ = std::move(done);
    const int session = session_;
    timeout_->onTimeout = [this, session] {
        if (session != session_)
            return;
        quiet_ = false;
        buffer_.clear();
        TAnswer done = std::move(pending_);
        pending_ = nullptr;
        // *CLS first: errors an earlier program caused are not this run's.
        if (port_->IsOpen())
            port_->Write("*CLS\n", 5);
        Query("*IDN?", std::move(done));
    };
    timeout_->start(kQuietMs);
}

void TMeterClient::Measure(TMeterQuantity quantity,
                           std::function<void(std::optional<double> value, const std::string& error)> done) {
    const std::string command = quantity == meterCurrent ? "MEAS:CURR:DC?" : "MEAS:VOLT:DC?";
    Query(command, [this, command, done](bool ok, const std::string& text) {
        if (!ok)
            return done(std::nullopt, text);
        if (const std::optional<double> v = ParseMeterReading(text))
            return done(v, {});
        const std::optional<double> raw = Number(text);
        if (raw && std::fabs(*raw) >= kOverload)
            return done(std::nullopt, "the meter reports an overload to " + command);
        // Ask the meter why.
        Query("SYST:ERR?", [text, command, done](bool known, const std::string& error) {
            std::string why = "the meter answered \"" + text + "\" to " + command + ", not a reading";
            if (known && error.rfind("+0", 0) != 0 && error.rfind("0,", 0) != 0)
                why += " (its error: " + error + ")";
            done(std::nullopt, why);
        });
    });
}

void TMeterClient::Receive(qint64 waiting) {
    if (waiting <= 0)
        return;
    const QByteArray bytes = port_->Read(waiting);
    if (quiet_ || !pending_)
        return; // nobody asked: an earlier program's answer, or noise
    buffer_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    const std::size_t end = buffer_.find('\n');
    if (end == std::string::npos) {
        if (buffer_.size() > kMaxAnswer)
            Fail("the meter's answer runs over " + std::to_string(kMaxAnswer) + " characters without a line end");
        return;
    }
    std::string line = buffer_.substr(0, end);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    buffer_.clear(); // one answer a query; anything after it is nobody's
    Answer(line);
}

void TMeterClient::Answer(const std::string& line) {
    timeout_->stop();
    TAnswer done = std::move(pending_);
    pending_ = nullptr;
    if (done)
        done(true, line);
}

} // namespace kv::station
