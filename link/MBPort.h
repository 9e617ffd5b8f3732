#pragma once
// TMBPort: the link component's seam to a serial port. TMB writes through it
// and is told, on its own (GUI) thread, how many received bytes wait; it then
// reads exactly that many. The platform's port (TMBSerialPortLinux with its
// TCommThread) and the in-memory port of the tests and the in-process
// simulator (TMBMemoryPort) sit behind it.
//
// Every callback runs on the thread that created the port object (the GUI
// thread), never on a receive thread, and only while the port is open: a
// notification that was under way when the port closed is dropped.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

// Line events reported by the line-state callback (one bit each).
enum TMBLineEvent : std::uint32_t {
    evCTS = 0x0008,   // CTS changed
    evDSR = 0x0010,   // DSR changed
    evRLSD = 0x0020,  // carrier detect changed
    evBREAK = 0x0040, // a break was received
    evERR = 0x0080,   // framing, parity or overrun error
    evRING = 0x0100   // ring indicator changed
};

// Modem status bits passed with a line event.
enum TMBModemStatus : std::uint32_t {
    msCTS = 0x0010,
    msDSR = 0x0020,
    msRING = 0x0040,
    msRLSD = 0x0080
};

// A line's character frame, its handshake and who holds the modem lines.
// The default is the transmitter's line: 8N1, no handshake, DTR and RTS
// inactive after the open (a device powered or reset by those lines sees
// nothing more than the kernel's pulse at the open). Instruments wire their
// lines as their manuals say: a bench meter may want 7 data bits, parity,
// 2 stop bits, its DSR (our DTR) held true before it sends, and hardware
// handshake.
enum class TMBParity : std::uint8_t { None, Even, Odd };
enum class TMBHandshake : std::uint8_t {
    None,
    DtrDsr, // we hold DTR true and send only while DSR is true
    RtsCts, // the driver's hardware flow control (CRTSCTS)
};
struct TMBLineSettings {
    int DataBits = 8; // 7 or 8
    TMBParity Parity = TMBParity::None;
    int StopBits = 1; // 1 or 2
    TMBHandshake Handshake = TMBHandshake::None;
    // The modem lines held after the open (true: active). DtrDsr needs DTR,
    // RtsCts leaves RTS to the driver.
    bool Dtr = false, Rts = false;
    bool operator==(const TMBLineSettings&) const = default;
};
// "8N1", "7E2": data bits, parity, stop bits.
QString MBFrameText(const TMBLineSettings& line);
// Why the settings cannot be set ("7 or 8 data bits", "DTR/DSR handshake
// needs DTR held"), or empty.
QString MBLineSettingsProblem(const TMBLineSettings& line);

// Received bytes are waiting: read exactly `waiting` of them with Read().
using TMBReceiveEvent = std::function<void(qint64 waiting)>;
// A line event happened (mask of TMBLineEvent) with the modem status at that time.
using TMBLineStateEvent = std::function<void(std::uint32_t eventMask, std::uint32_t modemStatus)>;
// The device went away (adapter pulled, other end of a pseudo-terminal closed).
// Raised once per open; the port stays "open" until Close() so that the owner
// runs its ordinary close sequence.
using TMBHangUpEvent = std::function<void()>;

class TMBPort {
public:
    virtual ~TMBPort() = default;
    TMBPort(const TMBPort&) = delete;
    TMBPort& operator=(const TMBPort&) = delete;

    // Opens `name` exclusively at `rate` bits per second with the line's
    // frame and handshake, raw, the modem lines as the settings hold them,
    // both queues purged, and starts receiving. The settings are read back:
    // a driver that runs otherwise fails the open. An open port is closed
    // first. On failure returns false and ErrorText() holds the system's
    // text of the error.
    virtual bool Open(const QString& name, std::uint32_t rate, const TMBLineSettings& line) = 0;
    // The transmitter's line: 8N1, no flow control, DTR and RTS inactive.
    bool Open(const QString& name, std::uint32_t rate) { return Open(name, rate, TMBLineSettings{}); }
    virtual bool IsOpen() const = 0;
    // Stops receiving (waits for the receive thread to end) and releases the
    // device. Harmless when closed.
    virtual void Close() = 0;

    // Hands the bytes to the driver without waiting for them to leave.
    // Returns the count the driver took (may be short when its queue is
    // full, or when a DTR/DSR line's DSR stays inactive), or -1 when the
    // port is closed or the write failed.
    virtual qint64 Write(const char* data, qint64 size) = 0;
    qint64 Write(const QByteArray& bytes) { return Write(bytes.constData(), bytes.size()); }

    // Reads up to `size` waiting bytes without waiting for more; returns the
    // count read (0 when none wait), or -1 when the port is closed.
    virtual qint64 Read(char* data, qint64 size) = 0;
    QByteArray Read(qint64 size);

    // Received bytes waiting to be read.
    virtual qint64 BytesWaiting() const = 0;

    // The rate the driver actually runs at (read back at open), 0 when closed.
    virtual std::uint32_t Rate() const = 0;

    // Text of the last failed Open().
    const QString& ErrorText() const { return m_errorText; }

    TMBReceiveEvent OnReceive;
    TMBLineStateEvent OnLineState;
    TMBHangUpEvent OnHangUp;

protected:
    TMBPort() = default;
    QString m_errorText;
};

// The platform's serial port (TMBSerialPortLinux on Linux).
std::unique_ptr<TMBPort> MBCreateSystemPort();

// Appends to `list` the serial ports that can be opened now, in probing
// order: the machine's serial ports, then the paths named in the environment
// variable KV_EXTRA_PORTS (':'-separated). A port that another program (or
// this one) holds is not listed. A null list is left alone.
void MBListPorts(QStringList* list);
