#pragma once
// TPtyServer: serves the device model on a pseudo-terminal for kvsim, on a
// TPtyLine (the pty, its link and its pacing). Requests read from the line go
// to the TSimSlave; each answer leaves when the request's own characters and
// the turnaround are over, paced at the rate the other side configured.
#include "PtyLine.h"
#include "SimSlave.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace kvsim {

class TPtyServer : public QObject {
    Q_OBJECT
public:
    struct Options : TPtyLine::Options {
        std::uint16_t Turnaround = 2;    // ms
    };

    TPtyServer(TDeviceModel& model, TFaultInjector& faults, const Options& options, QObject* parent = nullptr);
    ~TPtyServer() override;

    // Opens a new pseudo-terminal; false with a text when that fails.
    bool Open(QString& error) { return line_.Open(error); }
    // Closes the line, as a pulled cable would, and opens a new one after
    // ReopenDelayMs.
    void HangUp() { line_.HangUp(); }
    void Close() { line_.Close(); }

    const QString& Path() const { return line_.Path(); }
    static bool LinkReplaceable(const QString& path, QString& why) { return TPtyLine::LinkReplaceable(path, why); }
    // The rate the other side set, or the fallback.
    std::uint32_t LineRate() const { return line_.LineRate(); }
    TSimSlave& Slave() { return *slave_; }

signals:
    void opened(const QString& path);
    void hungUp();

private:
    TMBQtTimerFactory timers_;
    std::unique_ptr<TSimSlave> slave_;
    TPtyLine line_;
};

} // namespace kvsim
