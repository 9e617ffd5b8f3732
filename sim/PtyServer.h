#pragma once
// TPtyServer: serves the device model on a pseudo-terminal for kvsim. It owns
// the pty's master side and keeps a descriptor of the slave side open, so
// that the line survives while no program has it open (a pty whose slave was
// closed by everyone hangs up its master). Requests read from the master go
// to the TSimSlave; answers are written back paced like a real line: each
// character takes 10 bits at the rate the other side configured, which is
// read from the pty with TCGETS2 at every answer (the fallback rate when that
// fails).
#include "SimSlave.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class QSocketNotifier;

namespace kvsim {

class TPtyServer : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString Link;                    // keep a symbolic link to the port here
        std::uint32_t FallbackRate = 115200;
        std::uint16_t Turnaround = 2;    // ms
        // The answer's characters reach the port in bursts at most this far
        // apart (the last one when the line has carried it): 1 ms as from a
        // UART's receive FIFO or a USB adapter at its lowest latency, 16 ms as
        // from a USB adapter's default latency timer.
        std::uint16_t BurstMs = 1;
        std::uint32_t ReopenDelayMs = 200;
    };

    TPtyServer(TDeviceModel& model, TFaultInjector& faults, const Options& options, QObject* parent = nullptr);
    ~TPtyServer() override;

    // Opens a new pseudo-terminal; false with a text when that fails.
    bool Open(QString& error);
    // Closes the line, as a pulled cable would, and opens a new one after
    // ReopenDelayMs.
    void HangUp();
    void Close();

    const QString& Path() const { return path_; }
    // True when the link option may put a symbolic link at path: nothing is
    // there, or a symbolic link is. Otherwise false with the reason.
    static bool LinkReplaceable(const QString& path, QString& why);
    // The rate the other side set, or the fallback.
    std::uint32_t LineRate() const;
    TSimSlave& Slave() { return *slave_; }

signals:
    void opened(const QString& path);
    void hungUp();

private:
    void OnReadable();
    void Send(const std::string& bytes);
    void Pump();
    void ArmPump(const std::chrono::steady_clock::time_point* due); // nullptr: disarm
    void UpdateLink();
    void RemoveLink();

    TDeviceModel& model_;
    TFaultInjector& faults_;
    Options options_;
    TMBQtTimerFactory timers_;
    std::unique_ptr<TSimSlave> slave_;
    int master_ = -1;
    int slaveFd_ = -1;
    QString path_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer pump_; // only where timerfd is missing
    int pumpFd_ = -1;
    std::unique_ptr<QSocketNotifier> pumpNotifier_;
    std::chrono::steady_clock::time_point lastReceived_{};
    QTimer retry_;
    // Characters waiting for their time on the line.
    struct TPending {
        std::chrono::steady_clock::time_point due;
        char byte;
    };
    std::deque<TPending> out_;
    std::chrono::steady_clock::time_point lineFree_{};
};

} // namespace kvsim
