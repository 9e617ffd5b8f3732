#pragma once
// TMBMemoryPort: a port in memory, for tests and for the simulator linked in
// process. What TMB writes is captured (and handed to a peer if one is
// connected); what the test or the peer pushes is announced through the same
// receive callback as a real port, on the port's own (GUI) thread. It keeps
// no time of its own.
//
// A push made on the port's thread is delivered at once, unless it is made
// from inside a Write() or a callback of this port (a peer answering within
// the write of the request): then, as on a real line, it arrives later, at
// the next turn of the event loop or at DeliverPending(). A push from another
// thread is always delivered through the port thread's event loop.
#include "MBPort.h"

#include <QMutex>

#include <memory>

class QObject;

class TMBMemoryPort : public TMBPort {
public:
    TMBMemoryPort();
    ~TMBMemoryPort() override;

    bool Open(const QString& name, std::uint32_t rate, const TMBLineSettings& line) override;
    using TMBPort::Open;
    bool IsOpen() const override { return m_open; }
    void Close() override;
    qint64 Write(const char* data, qint64 size) override;
    qint64 Read(char* data, qint64 size) override;
    qint64 BytesWaiting() const override;
    std::uint32_t Rate() const override { return m_open ? m_rate : 0; }

    using TMBPort::Read;
    using TMBPort::Write;

    // Every Open() fails with `text` until it is set empty again (the text
    // stands for the system's error text).
    void SetOpenError(const QString& text) { m_openError = text; }
    // The name and rate of the last successful Open().
    const QString& OpenedName() const { return m_name; }
    std::uint32_t OpenedRate() const { return m_rate; }
    int OpenCount() const { return m_openCount; }
    // The line settings of the last successful Open(), and what was done to
    // the modem lines since the last TakeModemLineCalls(), in order
    // ("DTR on", "RTS off"), as a real port would set them.
    const TMBLineSettings& OpenedLine() const { return m_line; }
    QStringList TakeModemLineCalls();
    // The far end's modem lines (msDSR, msCTS; both active at first). With
    // the DTR/DSR handshake a write takes nothing while DSR is inactive,
    // with RTS/CTS nothing while CTS is.
    void SetModemStatus(std::uint32_t status) { m_modemStatus = status; }

    // Everything written since the last TakeWritten().
    const QByteArray& Written() const { return m_written; }
    QByteArray TakeWritten();
    // Called with each write while open (the peer's receiver).
    std::function<void(const QByteArray& bytes)> OnWritten;

    // Bytes arriving from the line, as one chunk. Ignored while closed or
    // after a hang-up. Thread-safe.
    void Push(const QByteArray& bytes);
    // Delivers a chunk that is waiting for its notification now (on the port's thread).
    void DeliverPending();
    // The device vanishes: writes fail, nothing more arrives, OnHangUp is
    // raised once. The port stays open until Close().
    void HangUp();
    bool HungUp() const { return m_hungUp; }

private:
    bool OnOwnThread() const;
    void Deliver();
    void Post(void (TMBMemoryPort::*what)());
    void RaiseHangUp();

    QString m_openError;
    QString m_name;
    std::uint32_t m_rate = 0;
    TMBLineSettings m_line;
    QStringList m_modemLineCalls;
    std::uint32_t m_modemStatus = msDSR | msCTS;
    int m_openCount = 0;
    bool m_open = false;
    bool m_hungUp = false;
    bool m_hangUpRaised = false;
    int m_busy = 0; // inside Write() or one of our callbacks
    QByteArray m_written;
    mutable QMutex m_mutex; // guards m_received and m_undelivered
    QByteArray m_received;
    bool m_undelivered = false;
    std::unique_ptr<QObject> m_context;
    std::shared_ptr<int> m_session; // a queued delivery belongs to one open
};
