#include "KvLink.h"

#include <QMetaObject>

namespace kvctl {

TKvLink::TKvLink(TMBTimerFactory* timers, std::unique_ptr<TMBPort> port, QObject* parent)
    : QObject(parent), TMBEngine(timers), port_(port ? std::move(port) : MBCreateSystemPort()) {
    setMBBaud(baud115200);
    port_->OnReceive = [this](qint64 waiting) { Receive(waiting); };
    port_->OnLineState = [](std::uint32_t, std::uint32_t) {};
    // A transaction starts busy: its first frame is its first try. (The
    // engine numbers a retry before sending it, the first try after.)
    OnMBBusyChanged = [this](bool busy) {
        if (busy)
            sendTry_ = 1;
    };
    port_->OnHangUp = [this] {
        // From the event loop: the hang-up may be seen inside a write or a
        // receive, and the close must not run under it.
        const int session = session_;
        QMetaObject::invokeMethod(this, [this, session] { HungUp(session); }, Qt::QueuedConnection);
    };
}

TKvLink::~TKvLink() {
    // Silently, as the panel's destructor: no events to an owner going away.
    OnMBMasterEndOfEvent = nullptr;
    if (port_->IsOpen())
        port_->Close();
    port_->OnReceive = nullptr;
    port_->OnLineState = nullptr;
    port_->OnHangUp = nullptr;
}

bool TKvLink::Open(const QString& name) {
    Close();
    portName_ = name;
    if (!port_->Open(name, MBBaudRate())) {
        openError_ = port_->ErrorText();
        return false;
    }
    ++session_;
    openError_.clear();
    MBEnginePortOpened();
    MBRestartSecondTimer();
    if (trace_)
        trace_->Note("port " + name.toStdString() + " open at " + std::to_string(MBBaudRate()) + " baud");
    return true;
}

void TKvLink::Close() {
    if (!MBPortOpen() && !port_->IsOpen())
        return;
    // The engine first: a transaction under way ends with stClosedPort.
    if (MBPortOpen())
        MBEnginePortClosed();
    port_->Close();
}

void TKvLink::HungUp(int session) {
    if (session != session_ || !MBPortOpen())
        return;
    if (trace_)
        trace_->Note("port " + portName_.toStdString() + " hung up");
    Close();
    if (OnHangUp)
        OnHangUp();
}

bool TKvLink::MBWriteToPort(const std::uint8_t* data, std::size_t n) {
    if (!port_->IsOpen())
        return false;
    if (trace_)
        trace_->Sent(std::string_view(reinterpret_cast<const char*>(data), n), sendTry_);
    const auto size = static_cast<qint64>(n);
    return port_->Write(reinterpret_cast<const char*>(data), size) == size;
}

void TKvLink::MBShowTry(int n) {
    // A try after the first one follows a time-out of the one before, and
    // is numbered before its frame is written.
    if (n > 1) {
        if (trace_)
            trace_->TimedOut(n - 1);
        sendTry_ = n;
    }
}

void TKvLink::Receive(qint64 waiting) {
    if (waiting <= 0)
        return;
    const QByteArray bytes = port_->Read(waiting);
    if (bytes.isEmpty() || !MBPortOpen())
        return;
    if (trace_)
        trace_->Received(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    MBParseReceived(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

} // namespace kvctl
