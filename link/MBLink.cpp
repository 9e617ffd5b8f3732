#include "MBLink.h"

#include <QMetaObject>
#include <QObject>

TMBLink::TMBLink(TMBTimerFactory* timers, std::unique_ptr<TMBPort> port)
    : TMBEngine(timers), FDevice(port ? std::move(port) : MBCreateSystemPort()),
      FContext(std::make_unique<QObject>()) {
    ConnectDevice();
}

TMBLink::~TMBLink() {
    MBClosePort();
    DisconnectDevice();
}

void TMBLink::ConnectDevice() {
    // The port calls back on this thread, and only while it is open.
    FDevice->OnReceive = [this](qint64 waiting) { MBReceiveChunk(waiting); };
    FDevice->OnLineState = FLineState;
    FDevice->OnHangUp = [this] {
        // From the event loop: the hang-up may be noticed in the middle of a
        // write or a receive, and the close must not run under it.
        const int session = FSession;
        QMetaObject::invokeMethod(FContext.get(), [this, session] { HungUp(session); }, Qt::QueuedConnection);
    };
}

void TMBLink::DisconnectDevice() {
    FDevice->OnReceive = nullptr;
    FDevice->OnLineState = nullptr;
    FDevice->OnHangUp = nullptr;
}

void TMBLink::MBSetPortDevice(std::unique_ptr<TMBPort> port) {
    if (FOpen)
        return;
    DisconnectDevice();
    FDevice = port ? std::move(port) : MBCreateSystemPort();
    ConnectDevice();
}

void TMBLink::MBSetLineStateHandler(TMBLineStateEvent handler) {
    FLineState = std::move(handler);
    FDevice->OnLineState = FLineState;
}

// ---- open and close -----------------------------------------------------------------------

bool TMBLink::MBOpenLink(const QString& port) {
    MBCloseLink();
    FPort = port;
    MBEnginePortOpened(false);
    try {
        MBOpenPort();
    } catch (const EComError& e) {
        FLastOpenError = QString::fromUtf8(e.what());
        MBEnginePortClosed(); // nothing was under way: no end event
        return false;
    }
    MBRestartSecondTimer();
    return true;
}

void TMBLink::MBCloseLink() {
    if (MBPortOpen())
        MBEnginePortClosed();
    MBClosePort();
}

void TMBLink::MBOpenPort() {
    if (FOpen)
        return;
    if (!FDevice->Open(FPort, MBBaudRate()))
        throw EComError((QStringLiteral("TMB : cannot open ") + FPort + QLatin1Char('\r') + FDevice->ErrorText())
                            .toStdString());
    ++FSession;
    FOpen = true;
    if (FObserver)
        FObserver->Note("port " + FPort.toStdString() + " open at " + std::to_string(MBBaudRate()) + " baud");
}

void TMBLink::MBClosePort() {
    if (!FOpen)
        return;
    FOpen = false;
    FTxGather.clear();
    FDevice->Close();
}

// ---- the device lost ----------------------------------------------------------------------------

void TMBLink::HungUp(int session) {
    if (session != FSession || !FOpen || !MBPortOpen())
        return;
    if (FObserver)
        FObserver->Note("port " + FPort.toStdString() + " hung up");
    LoseDevice();
}

void TMBLink::LoseDevice() {
    MBDeviceLost();
    if (const TMBDeviceLost h = OnMBDeviceLost)
        h();
}

void TMBLink::MBDeviceLost() { MBCloseLink(); }

// ---- writing and receiving ------------------------------------------------------------------------

void TMBLink::MBWriteText(const QByteArray& bytes) {
    if (!FOpen)
        return;
    const qint64 n = FDevice->Write(bytes);
    if (FObserver && n > 0)
        FObserver->Sent(std::string_view(bytes.constData(), static_cast<std::size_t>(n)), 0);
}

bool TMBLink::MBWriteToPort(const std::uint8_t* data, std::size_t n) {
    if (!FOpen) {
        FTxGather.clear();
        return false;
    }
    FTxGather.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(n));
    return true;
}

bool TMBLink::MBFlushFrame() {
    QByteArray frame;
    frame.swap(FTxGather);
    if (frame.isEmpty())
        return true;
    if (!FOpen)
        return false;
    // The port waits for room in a full driver queue; what it still cannot
    // take means the device is lost. Closed here, while the frame is being
    // sent, the transaction ends once, as on a close.
    const qint64 taken = FDevice->Write(frame);
    if (FObserver && taken > 0)
        FObserver->Sent(std::string_view(frame.constData(), static_cast<std::size_t>(taken)), MBSendingTry());
    if (taken == frame.size())
        return true;
    if (FObserver)
        FObserver->Note("port " + FPort.toStdString() + " took " + std::to_string(taken < 0 ? 0 : taken) + " of " +
                        std::to_string(frame.size()) + " bytes: the device is gone");
    if (MBPortOpen())
        LoseDevice();
    return false;
}

void TMBLink::MBReceiveChunk(qint64 waiting) {
    if (waiting <= 0)
        return;
    const QByteArray bytes = FDevice->Read(waiting);
    if (!FOpen || bytes.isEmpty())
        return;
    if (FObserver)
        FObserver->Received(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    MBParseReceived(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

void TMBLink::MBTryTimedOut(int tryNumber) {
    if (FObserver)
        FObserver->TimedOut(tryNumber);
}
