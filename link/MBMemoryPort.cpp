#include "MBMemoryPort.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QObject>
#include <QThread>

#include <cstring>

namespace {
struct Busy {
    int& depth;
    explicit Busy(int& d) : depth(d) { ++depth; }
    ~Busy() { --depth; }
};
} // namespace

TMBMemoryPort::TMBMemoryPort() : m_context(std::make_unique<QObject>()) {}

TMBMemoryPort::~TMBMemoryPort() { Close(); }

bool TMBMemoryPort::Open(const QString& name, std::uint32_t rate, const TMBLineSettings& line) {
    Close();
    m_errorText.clear();
    if (!m_openError.isEmpty()) {
        m_errorText = m_openError;
        return false;
    }
    if (const QString problem = MBLineSettingsProblem(line); !problem.isEmpty()) {
        m_errorText = QStringLiteral("Invalid argument: ") + problem;
        return false;
    }
    m_name = name;
    m_rate = rate;
    m_line = line;
    m_modemLineCalls << (line.Dtr ? QStringLiteral("DTR on") : QStringLiteral("DTR off"))
                     << (line.Rts ? QStringLiteral("RTS on") : QStringLiteral("RTS off"));
    m_open = true;
    m_hungUp = false;
    m_hangUpRaised = false;
    m_session = std::make_shared<int>(++m_openCount);
    return true;
}

void TMBMemoryPort::Close() {
    m_open = false;
    m_session.reset();
    QMutexLocker lock(&m_mutex);
    m_received.clear(); // a closed port's queue is gone, as after a purge
    m_undelivered = false;
}

qint64 TMBMemoryPort::Write(const char* data, qint64 size) {
    if (!m_open || m_hungUp)
        return -1;
    if (size <= 0)
        return 0;
    // The far end holds us off: nothing leaves (a real port waits a while first).
    if ((m_line.Handshake == TMBHandshake::DtrDsr && !(m_modemStatus & msDSR)) ||
        (m_line.Handshake == TMBHandshake::RtsCts && !(m_modemStatus & msCTS)))
        return 0;
    const QByteArray bytes(data, size);
    m_written += bytes;
    if (OnWritten) {
        Busy busy(m_busy);
        OnWritten(bytes);
    }
    return size;
}

qint64 TMBMemoryPort::Read(char* data, qint64 size) {
    if (!m_open)
        return -1;
    QMutexLocker lock(&m_mutex);
    const qint64 n = std::min<qint64>(std::max<qint64>(size, 0), m_received.size());
    if (n > 0) {
        std::memcpy(data, m_received.constData(), static_cast<size_t>(n));
        m_received.remove(0, n);
    }
    return n;
}

qint64 TMBMemoryPort::BytesWaiting() const {
    QMutexLocker lock(&m_mutex);
    return m_received.size();
}

QStringList TMBMemoryPort::TakeModemLineCalls() {
    QStringList calls;
    calls.swap(m_modemLineCalls);
    return calls;
}

QByteArray TMBMemoryPort::TakeWritten() {
    QByteArray bytes;
    bytes.swap(m_written);
    return bytes;
}

bool TMBMemoryPort::OnOwnThread() const { return QThread::currentThread() == m_context->thread(); }

void TMBMemoryPort::Post(void (TMBMemoryPort::*what)()) {
    std::weak_ptr<int> session = m_session;
    QMetaObject::invokeMethod(
        m_context.get(),
        [this, session, what] {
            if (!session.expired()) // still the same open
                (this->*what)();
        },
        Qt::QueuedConnection);
}

void TMBMemoryPort::Push(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    const bool own = OnOwnThread();
    if (own && (!m_open || m_hungUp))
        return;
    {
        QMutexLocker lock(&m_mutex);
        m_received += bytes;
        m_undelivered = true;
    }
    if (own && m_busy == 0)
        Deliver();
    else if (own)
        Post(&TMBMemoryPort::Deliver);
    else // the open state is only touched on the port's thread: look at it there
        QMetaObject::invokeMethod(
            m_context.get(),
            [this] {
                if (m_busy == 0)
                    Deliver();
                else
                    Post(&TMBMemoryPort::Deliver);
            },
            Qt::QueuedConnection);
}

void TMBMemoryPort::DeliverPending() {
    if (OnOwnThread())
        Deliver();
}

void TMBMemoryPort::Deliver() {
    qint64 waiting = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_undelivered)
            return;
        m_undelivered = false;
        waiting = m_received.size();
    }
    if (!m_open || waiting == 0)
        return;
    if (!OnReceive) {
        QMutexLocker lock(&m_mutex);
        m_received.remove(0, waiting); // nobody listens: the bytes are lost, as on a line
        return;
    }
    Busy busy(m_busy);
    const TMBReceiveEvent receive = OnReceive;
    receive(waiting);
}

void TMBMemoryPort::HangUp() {
    if (!OnOwnThread()) {
        QMetaObject::invokeMethod(m_context.get(), [this] { HangUp(); }, Qt::QueuedConnection);
        return;
    }
    if (!m_open || m_hungUp)
        return;
    m_hungUp = true;
    if (m_busy == 0)
        RaiseHangUp();
    else
        Post(&TMBMemoryPort::RaiseHangUp);
}

void TMBMemoryPort::RaiseHangUp() {
    if (m_hangUpRaised || !m_open)
        return;
    m_hangUpRaised = true;
    // Bytes that arrived before the device vanished are still read first.
    DeliverPending();
    if (!m_open || !OnHangUp)
        return;
    Busy busy(m_busy);
    const TMBHangUpEvent hangUp = OnHangUp;
    hangUp();
}
