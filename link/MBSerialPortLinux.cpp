#include "MBSerialPortLinux.h"

#include "CommThread.h"

std::unique_ptr<TMBPort> MBCreateSystemPort() { return std::make_unique<TMBSerialPortLinux>(); }

TMBSerialPortLinux::TMBSerialPortLinux() = default;

TMBSerialPortLinux::~TMBSerialPortLinux() { Close(); }

bool TMBSerialPortLinux::Open(const QString& name, std::uint32_t rate, const TMBLineSettings& line) {
    Close();
    m_errorText.clear();
    const QString path = name.contains(u'/') ? name : QStringLiteral("/dev/") + name;
    auto thread = std::make_unique<TCommThread>(path.toStdString());
    if (!thread->IsOpen() || !thread->Configure(rate, line)) {
        m_errorText = QString::fromStdString(thread->ErrorText());
        return false;
    }
    thread->SetModemLines(line);
    thread->RequestLowLatency();
    thread->Purge();
    // The callbacks are looked up at each dispatch, so the owner may assign
    // them before or after the open. Each is called through a copy: the owner
    // may close or even destroy this port from inside.
    thread->OnReceive = [this](qint64 waiting) {
        if (const TMBReceiveEvent receive = OnReceive)
            receive(waiting);
    };
    thread->OnLineState = [this](std::uint32_t events, std::uint32_t modem) {
        if (const TMBLineStateEvent lineState = OnLineState)
            lineState(events, modem);
    };
    // The modem lines are read (in the receive thread) only while an owner
    // listens to them.
    thread->WantsLines = [this] { return OnLineState != nullptr; };
    thread->OnHangUp = [this] {
        if (const TMBHangUpEvent hangUp = OnHangUp)
            hangUp();
    };
    thread->Start();
    m_thread = std::move(thread);
    return true;
}

bool TMBSerialPortLinux::IsOpen() const { return m_thread != nullptr; }

void TMBSerialPortLinux::Close() {
    if (!m_thread)
        return;
    // Moved out first: a callback that runs while the thread stops sees the
    // port closed already.
    std::unique_ptr<TCommThread> thread = std::move(m_thread);
    thread->Stop();
}

qint64 TMBSerialPortLinux::Write(const char* data, qint64 size) {
    return m_thread ? m_thread->Write(data, size) : -1;
}

qint64 TMBSerialPortLinux::Read(char* data, qint64 size) {
    return m_thread ? m_thread->Read(data, size) : -1;
}

qint64 TMBSerialPortLinux::BytesWaiting() const { return m_thread ? m_thread->BytesWaiting() : 0; }

std::uint32_t TMBSerialPortLinux::Rate() const { return m_thread ? m_thread->Rate() : 0; }

std::chrono::nanoseconds TMBSerialPortLinux::ReceiveThreadCpuTime() const {
    return m_thread ? m_thread->ThreadCpuTime() : std::chrono::nanoseconds{};
}

std::uint64_t TMBSerialPortLinux::HandOversPosted() const {
    return m_thread ? m_thread->HandOversPosted() : 0;
}

TCommThread::TLineReads TMBSerialPortLinux::LineReads() const {
    return m_thread ? m_thread->LineReads() : TCommThread::TLineReads{};
}

std::uint64_t TMBSerialPortLinux::FullQueueWaits() const { return m_thread ? m_thread->FullQueueWaits() : 0; }
