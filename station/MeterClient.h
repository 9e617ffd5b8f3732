#pragma once
// TMeterClient: the bench multimeter of a calibration bench on a serial port,
// spoken to in SCPI: one query at a time ("MEAS:CURR:DC?\n"), its answer line
// awaited with a time-out. Driven by the port's receive callback and a timer
// of the link's timer seam, so that it never blocks the event loop and tests
// run it on a memory port and a manual clock. No widgets.
//
// Before the first query Identify() clears what an earlier program may have
// left on the line: it ends a half-written line, waits kQuietMs and throws
// away whatever arrives meanwhile (an answer nobody read), empties the
// meter's error queue (*CLS) and asks for its identity.
#include "MBPort.h"
#include "MBTimer.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv::station {

enum TMeterQuantity : std::uint8_t { meterCurrent, meterVoltage };

// A reading's text ("+4.012345E-03", blanks around it allowed) as a number;
// none for anything else, and for the overload reading (9.9E+37 and beyond).
std::optional<double> ParseMeterReading(std::string_view text);

class TMeterClient {
public:
    static constexpr int kAnswerTimeoutMs = 5000;
    static constexpr int kQuietMs = 300;
    static constexpr std::size_t kMaxAnswer = 4096;

    // port: nullptr for the system's port.
    TMeterClient(TMBTimerFactory& timers, std::unique_ptr<TMBPort> port = nullptr);
    ~TMeterClient();
    TMeterClient(const TMeterClient&) = delete;
    TMeterClient& operator=(const TMeterClient&) = delete;

    // Opens the port exclusively, 8N1 at `rate`; false with OpenError().
    bool Open(const QString& name, std::uint32_t rate);
    void Close();
    const QString& OpenError() const { return openError_; }
    const QString& PortName() const { return portName_; }

    // ok: the answer line without its end; otherwise why there is none.
    using TAnswer = std::function<void(bool ok, const std::string& answerOrError)>;
    // Clears the line, then *CLS and *IDN?: the meter's identity.
    void Identify(TAnswer done);
    // One query; the answer comes through `done` from the event loop, never
    // inside this call. One query at a time: a second one while one is under
    // way is refused at once (inside the call).
    void Query(const std::string& command, TAnswer done);
    // One reading in amperes or volts. A text that is not a reading is
    // reported with the meter's own error (SYST:ERR?) when it has one.
    void Measure(TMeterQuantity quantity, std::function<void(std::optional<double> value, const std::string& error)> done);
    bool Busy() const { return static_cast<bool>(pending_); }

    // The meter's port hung up (an adapter pulled); a query under way has
    // failed by then.
    std::function<void()> OnHangUp;

private:
    void Receive(qint64 waiting);
    void Fail(const std::string& why);
    void Answer(const std::string& line);

    std::unique_ptr<TMBPort> port_;
    std::unique_ptr<TMBTimer> timeout_, hangUp_;
    QString portName_, openError_;
    std::string buffer_;
    TAnswer pending_;
    bool quiet_ = false; // throwing away what arrives
    bool hungUp_ = false;
    int session_ = 0;
};

} // namespace kv::station
