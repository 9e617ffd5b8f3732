#pragma once
// TMBSerialPortLinux: TMBPort over a Linux tty (a serial port, a USB-serial
// adapter or a pseudo-terminal), with one TCommThread per open.
#include "CommThread.h"
#include "MBPort.h"

#include <chrono>
#include <memory>

class TMBSerialPortLinux : public TMBPort {
public:
    TMBSerialPortLinux();
    ~TMBSerialPortLinux() override;

    // A name without a '/' is taken from /dev ("ttyUSB0" is /dev/ttyUSB0).
    bool Open(const QString& name, std::uint32_t rate, const TMBLineSettings& line) override;
    using TMBPort::Open;
    bool IsOpen() const override;
    void Close() override;
    qint64 Write(const char* data, qint64 size) override;
    qint64 Read(char* data, qint64 size) override;
    qint64 BytesWaiting() const override;
    std::uint32_t Rate() const override;

    using TMBPort::Read;
    using TMBPort::Write;

    // Diagnostics: CPU time of the receive thread and the hand-overs it made.
    std::chrono::nanoseconds ReceiveThreadCpuTime() const;
    std::uint64_t HandOversPosted() const;
    // Reads of the modem lines by thread (none while nobody listens to them),
    // and waits of writes for room in a full driver queue.
    TCommThread::TLineReads LineReads() const;
    std::uint64_t FullQueueWaits() const;

private:
    std::unique_ptr<TCommThread> m_thread;
};
