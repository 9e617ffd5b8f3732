#pragma once
// TMeterClient: the bench multimeter of a calibration bench on a serial port,
// spoken to in SCPI as its manual describes it (the bench's [Meter]): its
// line settings and modem lines, its terminator, its remote command first
// and its local command last. One query at a time, its answer line awaited
// with a time-out. Driven by the port's receive callback and a timer of the
// link's timer seam, so that it never blocks the event loop and tests run it
// on a memory port and a manual clock. No widgets.
//
// Identify() starts the conversation: it ends a half-written line, waits
// kQuietMs and throws away whatever arrives meanwhile (an answer nobody
// read), sends the remote command (a meter in remote-required mode answers
// nothing before it), empties the meter's error queue (*CLS) and asks for
// its identity, which must match the bench's Identity. A line that arrives
// then and is no identity (a reading or an error-queue entry an earlier
// program asked for) is thrown away, not taken for the meter's name.
//
// Measure() takes one reading and then reads the error queue (SYST:ERR?)
// until it reports no error: any error fails that reading, named. The
// overload reading (±9.9E+37) is a wiring fault of its own. An echo of the
// command (a terminal mode the bench does not declare) is named, and so are
// characters that arrived damaged (another frame or rate than the meter's).
// Each failure says whether the meter answered (TMeterFault): a script must
// tell a wiring fault from a dead line.
#include "Bench.h"
#include "MBPort.h"
#include "MBTimer.h"

#include <QString>

#include <deque>
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
// The value of a reading's last digit as the meter wrote it ("+4.012345E-03"
// gives 1e-09, "12.50" 0.01): its resolution as its answer shows it. None
// for a text that is no reading.
std::optional<double> ReadingDigit(std::string_view text);

enum class TMeterFault : std::uint8_t {
    None,
    NoAnswer, // silence, the port gone or holding off: nothing came back
    Identity, // the *IDN? answer does not match the bench's Identity
    Error,    // the meter's error queue held an error after the command
    Overload, // ±9.9E+37: nothing across the input it measures
    Garbage,  // an answer that is not what was asked, or damaged characters
    Echo,     // the command came back: a terminal mode the bench does not declare
};
// The meter answered: a fault of the bench or the wiring, not of the line.
inline bool MeterAnswered(TMeterFault f) {
    return f == TMeterFault::Error || f == TMeterFault::Overload || f == TMeterFault::Garbage || f == TMeterFault::Echo;
}

struct TMeterReply {
    TMeterFault Fault = TMeterFault::None;
    std::string Text;            // the answer line, or why there is none
    std::optional<double> Value; // Measure(): the reading
    bool Ok() const { return Fault == TMeterFault::None; }
};

class TMeterClient {
public:
    static constexpr int kAnswerTimeoutMs = 5000;
    static constexpr int kQuietMs = 300;
    static constexpr std::size_t kMaxAnswer = 4096;
    // SYST:ERR? asked at most this often after one command (a queue is 10
    // to 20 entries deep): a queue that never empties is a fault itself.
    static constexpr int kMaxErrors = 32;

    // port: nullptr for the system's port.
    TMeterClient(TMBTimerFactory& timers, std::unique_ptr<TMBPort> port = nullptr);
    ~TMeterClient();
    TMeterClient(const TMeterClient&) = delete;
    TMeterClient& operator=(const TMeterClient&) = delete;

    // Opens the bench meter's port exclusively with its line settings; false
    // with OpenError().
    bool Open(const TBenchMeter& meter);
    // A meter known by its port and rate alone: 8N1, no handshake, lines
    // ending in \n, DTR and RTS raised, no remote command, any identity.
    bool Open(const QString& name, std::uint32_t rate);
    // Sends the local command (when the bench has one) and closes.
    void Release();
    void Close();
    const QString& OpenError() const { return openError_; }
    const QString& PortName() const { return meter_.Line.Port; }

    using TDone = std::function<void(const TMeterReply& reply)>;
    // Clears the line, then the remote command, *CLS and *IDN?: the meter's
    // identity (Text), checked against the bench's Identity.
    void Identify(TDone done);
    // One query; the answer comes through `done` from the event loop, never
    // inside this call. One query at a time: a second one while one is under
    // way is refused at once (inside the call).
    void Query(const std::string& command, TDone done);
    // One reading in amperes or volts (Value), the error queue read after it.
    void Measure(TMeterQuantity quantity, TDone done);
    bool Busy() const { return static_cast<bool>(pending_.done); }

    // The meter's port hung up (an adapter pulled); a query under way has
    // failed by then.
    std::function<void()> OnHangUp;

private:
    struct TPending {
        std::string command;
        TDone done;
        // Lines to throw away while this answer is awaited.
        std::function<bool(const std::string& line)> stale;
    };
    void Receive(qint64 waiting);
    void Line(std::string line);
    void Fail(TMeterFault fault, const std::string& why);
    void Answer(const std::string& line);
    // Writes the command and the terminator; false (with why) when the port
    // did not take it all.
    bool Send(const std::string& command, std::string& why);
    void Ask(const std::string& command, TDone done, std::function<bool(const std::string&)> stale, bool identifying);
    std::string NoAnswerText(const std::string& command, bool identifying) const;
    std::string LineText() const;
    // SYST:ERR? until no error; `errors` collects them.
    void ReadErrors(std::shared_ptr<std::vector<std::string>> errors, std::function<void(const TMeterReply&)> done);

    TBenchMeter meter_;
    std::unique_ptr<TMBPort> port_;
    std::unique_ptr<TMBTimer> timeout_, hangUp_;
    QString openError_;
    std::string buffer_;
    TPending pending_;
    std::deque<std::string> sent_; // the commands written lately, for their echoes
    bool quiet_ = false;           // throwing away what arrives
    bool hungUp_ = false;
    bool identified_ = false;
    int session_ = 0;
};

} // namespace kv::station
