#include "MeterClient.h"

#include <QRegularExpression>

#include <charconv>
#include <cmath>

namespace kv::station {

namespace {

// The overload reading of SCPI meters.
constexpr double kOverload = 9.9e37;
// Commands kept for their echoes.
constexpr std::size_t kSentKept = 8;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<double> Number(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

// An entry of the error queue: '-221,"Settings conflict"', '+0,"No error"'.
std::optional<int> ErrorCode(std::string_view text) {
    text = Trim(text);
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    std::string_view number = Trim(text.substr(0, comma));
    if (!number.empty() && number.front() == '+')
        number.remove_prefix(1);
    int code = 0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), code);
    if (number.empty() || ec != std::errc() || end != number.data() + number.size())
        return std::nullopt;
    return code;
}

// A command's echo, with a short prompt before it at most ("=>*IDN?").
bool IsEcho(std::string_view line, std::string_view command) {
    return !command.empty() && line.size() >= command.size() && line.size() - command.size() <= 4 &&
           line.substr(line.size() - command.size()) == command;
}

} // namespace

std::optional<double> ParseMeterReading(std::string_view text) {
    const std::optional<double> v = Number(text);
    if (!v || std::fabs(*v) >= kOverload)
        return std::nullopt;
    return v;
}

std::optional<double> ReadingDigit(std::string_view text) {
    if (!ParseMeterReading(text))
        return std::nullopt;
    text = Trim(text);
    const std::size_t e = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, e);
    int exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view x = text.substr(e + 1);
        if (!x.empty() && x.front() == '+')
            x.remove_prefix(1);
        if (std::from_chars(x.data(), x.data() + x.size(), exponent).ec != std::errc())
            return std::nullopt;
    }
    const std::size_t point = mantissa.find('.');
    const int decimals = point == std::string_view::npos ? 0 : static_cast<int>(mantissa.size() - point - 1);
    return std::pow(10.0, exponent - decimals);
}

TMeterClient::TMeterClient(TMBTimerFactory& timers, std::unique_ptr<TMBPort> port)
    : port_(port ? std::move(port) : MBCreateSystemPort()) {
    timeout_ = timers.createTimer(kAnswerTimeoutMs, true, [] {});
    port_->OnReceive = [this](qint64 waiting) { Receive(waiting); };
    port_->OnLineState = [](std::uint32_t, std::uint32_t) {};
    // Seen inside a write or a receive: acted on from a timer, not under it.
    hangUp_ = timers.createTimer(0, true, [this] {
        Close();
        Fail(TMeterFault::NoAnswer, "the meter's port " + PortName().toStdString() + " hung up");
        if (OnHangUp)
            OnHangUp();
    });
    port_->OnHangUp = [this] {
        hungUp_ = true;
        hangUp_->start();
    };
}

TMeterClient::~TMeterClient() {
    pending_ = {};
    OnHangUp = nullptr;
    Release();
    port_->OnReceive = nullptr;
    port_->OnLineState = nullptr;
    port_->OnHangUp = nullptr;
}

bool TMeterClient::Open(const TBenchMeter& meter) {
    Close();
    meter_ = meter;
    if (!port_->Open(meter_.Line.Port, meter_.Line.Baud, meter_.Line.Settings())) {
        openError_ = port_->ErrorText();
        return false;
    }
    ++session_;
    openError_.clear();
    buffer_.clear();
    hungUp_ = false;
    return true;
}

bool TMeterClient::Open(const QString& name, std::uint32_t rate) {
    TBenchMeter meter;
    meter.Line.Port = name;
    meter.Line.Baud = rate;
    return Open(meter);
}

void TMeterClient::Release() {
    // The meter's front panel back to its operator, as the last word.
    if (port_->IsOpen() && !hungUp_ && !meter_.Local.isEmpty()) {
        std::string why;
        Send(meter_.Local.toStdString(), why);
    }
    Close();
}

void TMeterClient::Close() {
    ++session_;
    timeout_->stop();
    hangUp_->stop();
    quiet_ = false;
    identified_ = false;
    sent_.clear();
    if (port_->IsOpen())
        port_->Close();
}

std::string TMeterClient::LineText() const {
    const TMeterLine& l = meter_.Line;
    const char* handshake = l.Handshake == THandshake::DtrDsr   ? "DTR/DSR handshake"
                            : l.Handshake == THandshake::RtsCts ? "RTS/CTS handshake"
                                                                : "no handshake";
    return std::to_string(l.Baud) + " baud, " + MBFrameText(l.Settings()).toStdString() + ", " + handshake +
           ", DTR " + (l.Dtr ? "on" : "off") + ", RTS " + (l.Rts ? "on" : "off");
}

std::string TMeterClient::NoAnswerText(const std::string& command, bool identifying) const {
    const std::string what = "no answer from the meter to " + command + " on " + PortName().toStdString() + " within " +
                             std::to_string(kAnswerTimeoutMs / 1000) + " s";
    if (!identifying)
        return what + " (it answered before: is it still switched on, its cable in place?)";
    // A meter that answered nothing at all: the usual causes are the remote
    // mode and the handshake lines its manual asks for.
    const std::string remote = meter_.Remote.isEmpty()
                                   ? " A meter that answers only in remote mode needs its remote command first: none "
                                     "was sent ([Meter] Remote=SYST:REM sends it)."
                                   : " Its remote command " + meter_.Remote.toStdString() + " was sent first.";
    const std::string handshake =
        meter_.Line.Handshake == THandshake::DtrDsr
            ? " It sends only while its DSR is true: our DTR is held on; is it wired to the meter's DSR (a null-modem "
              "cable that carries DTR and DSR)"
            : " A meter that sends only while its DSR is true needs our DTR on and wired to it ([Meter] "
              "Handshake=dtr-dsr, DTR=on)";
    return what + " (" + LineText() + "). Is it on this port, at this rate and frame?" + remote + handshake;
}

bool TMeterClient::Send(const std::string& command, std::string& why) {
    const std::string line = command + meter_.Line.Terminator.toStdString();
    const std::string port = PortName().toStdString();
    if (hungUp_) {
        why = "the meter's port " + port + " hung up";
        return false;
    }
    if (!port_->IsOpen()) {
        why = "the meter's port is not open";
        return false;
    }
    const qint64 n = port_->Write(line.data(), static_cast<qint64>(line.size()));
    if (n == static_cast<qint64>(line.size())) {
        sent_.push_back(command);
        if (sent_.size() > kSentKept)
            sent_.pop_front();
        return true;
    }
    why = n < 0 ? "cannot write to the meter's port " + port
          : meter_.Line.Handshake == THandshake::DtrDsr
              ? "the meter holds its DTR, our DSR, off: it takes nothing on " + port +
                    " (is it switched on, and does the cable carry DTR and DSR?)"
          : meter_.Line.Handshake == THandshake::RtsCts
              ? "the meter holds its RTS, our CTS, off: it takes nothing on " + port +
                    " (is it switched on, and does the cable carry RTS and CTS?)"
              : "the meter's port " + port + " takes nothing";
    return false;
}

void TMeterClient::Fail(TMeterFault fault, const std::string& why) {
    timeout_->stop();
    quiet_ = false;
    buffer_.clear();
    if (TDone done = std::move(pending_.done)) {
        pending_ = {};
        done({fault, why, {}});
    }
}

void TMeterClient::Ask(const std::string& command, TDone done, std::function<bool(const std::string&)> stale,
                       bool identifying) {
    if (pending_.done)
        return done({TMeterFault::NoAnswer, "the meter is still busy with a query", {}}); // the query under way keeps the timer
    const int session = session_;
    std::string why;
    pending_ = {command, std::move(done), std::move(stale)};
    buffer_.clear();
    if (!Send(command, why)) {
        // Reported from the event loop, as an answer would be.
        timeout_->onTimeout = [this, why, session] {
            if (session == session_)
                Fail(TMeterFault::NoAnswer, why);
        };
        timeout_->start(0);
        return;
    }
    timeout_->onTimeout = [this, command, identifying, session] {
        if (session == session_)
            Fail(TMeterFault::NoAnswer, NoAnswerText(command, identifying));
    };
    timeout_->start(kAnswerTimeoutMs);
}

void TMeterClient::Query(const std::string& command, TDone done) {
    Ask(command, std::move(done), nullptr, !identified_);
}

void TMeterClient::Identify(TDone done) {
    if (pending_.done)
        return done({TMeterFault::NoAnswer, "the meter is still busy with a query", {}});
    // End whatever half line an earlier program left; the meter may answer
    // it, or an unread answer may still come: wait and throw it away.
    if (port_->IsOpen() && !hungUp_) {
        const std::string end = meter_.Line.Terminator.toStdString();
        port_->Write(end.data(), static_cast<qint64>(end.size()));
    }
    quiet_ = true;
    identified_ = false;
    pending_ = {"*IDN?", std::move(done), nullptr};
    const int session = session_;
    timeout_->onTimeout = [this, session] {
        if (session != session_)
            return;
        quiet_ = false;
        buffer_.clear();
        TDone done = std::move(pending_.done);
        pending_ = {};
        // The remote command first: a meter in remote-required mode takes
        // nothing else before it. Then *CLS: errors an earlier program
        // caused are not this run's. Neither is answered.
        std::string why;
        if ((!meter_.Remote.isEmpty() && !Send(meter_.Remote.toStdString(), why)) || !Send("*CLS", why)) {
            pending_.done = std::move(done);
            return Fail(TMeterFault::NoAnswer, why);
        }
        // What arrives now and is no identity is an earlier query's answer
        // coming late: a reading, an error-queue entry.
        const auto stale = [](const std::string& line) { return Number(line).has_value() || ErrorCode(line).has_value(); };
        Ask(
            "*IDN?",
            [this, done](const TMeterReply& r) {
                if (!r.Ok())
                    return done(r);
                const QString identity = QString::fromStdString(r.Text);
                if (!meter_.Identity.isEmpty() && !QRegularExpression(meter_.Identity).match(identity).hasMatch())
                    return done({TMeterFault::Identity,
                                 "the meter on " + PortName().toStdString() + " is not the bench's: it names itself \"" +
                                     r.Text + "\", which does not match [Meter] Identity=" + meter_.Identity.toStdString(),
                                 {}});
                identified_ = true;
                done(r);
            },
            stale, true);
    };
    timeout_->start(kQuietMs);
}

void TMeterClient::ReadErrors(std::shared_ptr<std::vector<std::string>> errors,
                              std::function<void(const TMeterReply&)> done) {
    Query("SYST:ERR?", [this, errors, done](const TMeterReply& r) {
        if (!r.Ok())
            return done(r);
        const std::optional<int> code = ErrorCode(r.Text);
        if (!code)
            return done({TMeterFault::Garbage,
                         "the meter answered \"" + r.Text + "\" to SYST:ERR?, not an entry of its error queue", {}});
        if (*code == 0)
            return done({});
        errors->push_back(r.Text);
        if (errors->size() >= static_cast<std::size_t>(kMaxErrors))
            return done({TMeterFault::Error,
                         "the meter's error queue does not empty (" + std::to_string(kMaxErrors) + " errors read)", {}});
        ReadErrors(errors, done);
    });
}

void TMeterClient::Measure(TMeterQuantity quantity, TDone done) {
    const std::string command = quantity == meterCurrent ? "MEAS:CURR:DC?" : "MEAS:VOLT:DC?";
    Query(command, [this, command, done](const TMeterReply& r) {
        if (!r.Ok())
            return done(r);
        const std::optional<double> raw = Number(r.Text);
        if (raw && std::fabs(*raw) >= kOverload)
            return done({TMeterFault::Overload,
                         "the meter reads an overload (" + r.Text + ") to " + command +
                             ": a wiring fault, its input sees no closed circuit (its leads not on the output this step "
                             "measures, a fixture that did not switch, a lead off)",
                         {}});
        // Every reading is followed by the error queue: an error the meter
        // queued makes the reading worthless, whatever it says.
        auto errors = std::make_shared<std::vector<std::string>>();
        ReadErrors(errors, [command, done, errors, raw, text = r.Text](const TMeterReply& e) {
            std::string named;
            for (const std::string& error : *errors)
                named += (named.empty() ? "" : "; ") + error;
            if (!e.Ok())
                return done({e.Fault, e.Text + (named.empty() ? "" : " (" + named + ")"), {}});
            if (!errors->empty())
                return done({TMeterFault::Error,
                             "the meter reported " + named + " after " + command +
                                 (raw ? " (its reading " + std::string(Trim(text)) + " is not used)" : ""),
                             {}});
            if (!raw)
                return done({TMeterFault::Garbage, "the meter answered \"" + text + "\" to " + command + ", not a reading", {}});
            done({TMeterFault::None, text, raw});
        });
    });
}

void TMeterClient::Receive(qint64 waiting) {
    if (waiting <= 0)
        return;
    const QByteArray bytes = port_->Read(waiting);
    if (quiet_ || !pending_.done)
        return; // nobody asked: an earlier program's answer, or noise
    buffer_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    for (std::size_t end; pending_.done && (end = buffer_.find('\n')) != std::string::npos;) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        Line(std::move(line));
    }
    if (pending_.done && buffer_.size() > kMaxAnswer)
        Fail(TMeterFault::Garbage,
             "the meter's answer runs over " + std::to_string(kMaxAnswer) + " characters without a line end");
}

void TMeterClient::Line(std::string line) {
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    // SCPI answers are printable ASCII; anything else arrived damaged (a
    // parity or framing error reads as NUL) or in another frame.
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u >= 0x7f)
            return Fail(TMeterFault::Garbage, "the meter's answer to " + pending_.command +
                                                  " has damaged characters: do the rate, data bits, parity and stop "
                                                  "bits match the meter's (" + LineText() + ")?");
    }
    std::string_view t = Trim(line);
    // A terminal mode's prompt before or alone on a line.
    const std::string prompt = meter_.Prompt.toStdString();
    while (!prompt.empty() && t.substr(0, prompt.size()) == prompt)
        t = Trim(t.substr(prompt.size()));
    if (t.empty())
        return;
    for (auto it = sent_.begin(); it != sent_.end(); ++it) {
        if (!IsEcho(t, *it))
            continue;
        if (!meter_.Echo)
            return Fail(TMeterFault::Echo,
                        "the meter echoes the commands (\"" + *it + "\" came back): it is in a terminal mode; turn its "
                        "echo off, or declare it in the bench ([Meter] Echo=on, and Prompt= its prompt)");
        sent_.erase(it);
        return;
    }
    if (pending_.stale && pending_.stale(std::string(t)))
        return;
    Answer(std::string(t));
}

void TMeterClient::Answer(const std::string& line) {
    timeout_->stop();
    buffer_.clear(); // one answer a query; anything after it is nobody's
    TDone done = std::move(pending_.done);
    pending_ = {};
    if (done)
        done({TMeterFault::None, line, {}});
}

} // namespace kv::station
