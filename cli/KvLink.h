#pragma once
// TKvLink: the link engine of the window's TMB without its panel, for a
// program without widgets. It owns a port (the system's, or one handed in by
// a test) and runs the same open, receive, write and hang-up steps as the
// panel: exclusive open at 115 200 baud, received chunks into the engine on
// this thread, a hang-up handled from the event loop and reported once.
// An optional frame trace sees every byte and every time-out.
#include "FrameTrace.h"
#include "MBEngine.h"
#include "MBPort.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace kvctl {

class TKvLink : public QObject, public TMBEngine {
public:
    // timers: nullptr for QTimer; port: nullptr for the system's port.
    TKvLink(TMBTimerFactory* timers, std::unique_ptr<TMBPort> port, QObject* parent = nullptr);
    ~TKvLink() override;

    // Opens `name` exclusively; false with OpenError() when it cannot.
    bool Open(const QString& name);
    // Closes; a transaction under way ends with stClosedPort.
    void Close();
    const QString& OpenError() const { return openError_; }
    const QString& PortName() const { return portName_; }

    void SetTrace(TFrameTrace* trace) { trace_ = trace; }
    TMBPort& Port() { return *port_; }
    TMBTimerFactory& Timers() { return MBTimers(); }
    // The last try of a transaction that just ended in a time-out.
    void TraceTimeOut() {
        if (trace_)
            trace_->TimedOut(MBMasterTryNumber());
    }

    // The device went away under an open port; the link is closed by then.
    std::function<void()> OnHangUp;

protected:
    bool MBWriteToPort(const std::uint8_t* data, std::size_t n) override;
    void MBShowTry(int n) override;

private:
    void Receive(qint64 waiting);
    void HungUp(int session);

    std::unique_ptr<TMBPort> port_;
    TFrameTrace* trace_ = nullptr;
    QString portName_;
    QString openError_;
    int session_ = 0;
    int sendTry_ = 1; // the try the next frame written belongs to
};

} // namespace kvctl
