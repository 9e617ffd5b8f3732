#pragma once
// TPtyLine: one serial line of kvsim on a pseudo-terminal, whatever speaks on
// it (the transmitter, the bench meter). It owns the pty's master side and
// keeps a descriptor of the slave side open, so that the line survives while
// no program has it open (a pty whose slave was closed by everyone hangs up
// its master). Bytes read from the master go to OnReceive; bytes sent go out
// paced like a real line: each character takes 10 bits at the rate the other
// side configured, which is read from the pty with TCGETS2 at every send (the
// fallback rate when that fails), and they reach the port in bursts.
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace kvsim {

class TPtyLine : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        QString Link;                    // keep a symbolic link to the port here
        QString LinkOption = QStringLiteral("--link"); // how the user asked for it, for messages
        std::uint32_t FallbackRate = 115200;
        // The characters reach the port in bursts at most this far apart
        // (the last one when the line has carried it): 1 ms as from a UART's
        // receive FIFO or a USB adapter at its lowest latency, 16 ms as from a
        // USB adapter's default latency timer.
        std::uint16_t BurstMs = 1;
        std::uint32_t ReopenDelayMs = 200;
    };

    explicit TPtyLine(const Options& options, QObject* parent = nullptr);
    ~TPtyLine() override;

    // Opens a new pseudo-terminal; false with a text when that fails.
    bool Open(QString& error);
    // Closes the line, as a pulled cable would, and opens a new one after
    // ReopenDelayMs.
    void HangUp();
    void Close();

    const QString& Path() const { return path_; }
    bool IsOpen() const { return master_ >= 0; }
    // True when the link option may put a symbolic link at path: nothing is
    // there, or a symbolic link is. Otherwise false with the reason, which
    // names the option.
    static bool LinkReplaceable(const QString& path, QString& why, const QString& option = QStringLiteral("--link"));
    // The rate the other side set, or the fallback.
    std::uint32_t LineRate() const;
    // When the last bytes came in.
    Clock::time_point LastReceived() const { return lastReceived_; }

    // Puts bytes on the line, the first character not before `notBefore`
    // and after whatever is still on its way.
    void Send(const std::string& bytes, Clock::time_point notBefore = {});

    // Hooks of whoever speaks on the line: bytes received, the line opened
    // (before `opened` is emitted) and closed.
    std::function<void(const std::uint8_t* data, std::size_t n)> OnReceive;
    std::function<void()> OnOpen;
    std::function<void()> OnClose;

signals:
    void opened(const QString& path);
    void hungUp();

private:
    void OnReadable();
    void Pump();
    void ArmPump(const Clock::time_point* due); // nullptr: disarm
    void UpdateLink();
    void RemoveLink();

    Options options_;
    int master_ = -1;
    int slaveFd_ = -1;
    QString path_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer pump_; // only where timerfd is missing
    int pumpFd_ = -1;
    std::unique_ptr<QSocketNotifier> pumpNotifier_;
    Clock::time_point lastReceived_{};
    QTimer retry_;
    // Characters waiting for their time on the line.
    struct TPending {
        Clock::time_point due;
        char byte;
    };
    std::deque<TPending> out_;
    Clock::time_point lineFree_{};
};

} // namespace kvsim
