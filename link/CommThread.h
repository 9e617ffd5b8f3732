#pragma once
// TCommThread: one open serial device and the thread that waits on it.
//
// The thread only waits: for received bytes or a hang-up of the device, or
// for the stop signal. At each port event it hands a dispatch to the GUI
// thread, and before the next hand-over it waits until that dispatch has run
// (or until it is told to stop), so bytes are read, parsed and acted on in
// the GUI thread, one batch at a time, in arrival order. Nothing is locked.
// It waits for the device's next bytes while the dispatch runs, and sleeps
// on "the dispatch ran" only when they come first: one wake-up per batch.
//
// Closing never deadlocks against a hand-over: the thread waits for "the
// dispatch ran" and for "stop" together, so Stop() wakes it and joins it at
// once, and a dispatch still queued for the GUI thread finds the thread
// detached and does nothing.
//
// A dead device (poll reports POLLHUP/POLLERR forever) is reported once and
// the thread then waits for the stop signal only, so it never spins.
//
// Create, use and destroy on the GUI thread; each open creates a new object
// and a thread is never restarted.
#include "MBPort.h"

#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class QObject;

class TCommThread {
public:
    using TReceiveCallback = std::function<void(qint64 waiting)>;
    using TLineStateCallback = std::function<void(std::uint32_t eventMask, std::uint32_t modemStatus)>;
    using THangUpCallback = std::function<void()>;

    // Opens the device for reading and writing, exclusively and without
    // blocking: O_NOCTTY, O_NONBLOCK, O_CLOEXEC, an flock that other programs
    // (and root) respect, and TIOCEXCL. IsOpen() tells whether it worked,
    // ErrorText() why not.
    explicit TCommThread(const std::string& device);
    // Stops the thread, drops exclusive mode and closes the device.
    ~TCommThread();
    TCommThread(const TCommThread&) = delete;
    TCommThread& operator=(const TCommThread&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    const std::string& ErrorText() const { return m_errorText; }

    // Raw at `rate` (any rate, set as BOTHER in one TCSETS2) with the line's
    // data bits, parity (checked on input: a damaged character reads as
    // NUL) and stop bits, receiver on, carrier ignored, RTS/CTS flow control
    // when the line has it, VMIN 1 / VTIME 0; reads the settings back. Fails
    // (with ErrorText) when the driver refuses, keeps another frame or runs
    // at a rate more than 2 % away.
    bool Configure(std::uint32_t rate, const TMBLineSettings& line = {});
    std::uint32_t Rate() const { return m_rate; }
    // DTR and RTS as the line holds them. A pseudo-terminal has no modem
    // lines: not an error.
    void SetModemLines(const TMBLineSettings& line);
    // DTR and RTS inactive (the transmitter's line).
    void ClearModemLines() { SetModemLines(TMBLineSettings{}); }
    // Asks the driver to pass received bytes on at once (ASYNC_LOW_LATENCY).
    void RequestLowLatency();
    // Discards both driver queues.
    void Purge();

    // Writes all bytes. A full driver queue is waited on (POLLOUT) for as
    // long as the line needs to send what is queued and the rest, plus a
    // margin; then the count written so far is returned. With the DTR/DSR
    // handshake nothing is written while DSR is inactive; it is waited for
    // as long, then 0 is returned (one modem-line read per write when DSR
    // is active, which is the far end's usual state). -1: an error or a
    // hang-up (also while waiting).
    qint64 Write(const char* data, qint64 size);
    qint64 Read(char* data, qint64 size);
    qint64 BytesWaiting() const;
    // Reads and drops up to `size` waiting bytes.
    void Discard(qint64 size);

    // Starts the thread. Dispatches run on the thread that calls Start().
    void Start();
    // Detaches the callbacks, signals the stop event and waits for the thread
    // to end. Safe from inside a callback and when never started.
    void Stop();
    bool Running() const { return m_thread.joinable(); }

    // CPU time the receive thread has used so far (zero when not running).
    std::chrono::nanoseconds ThreadCpuTime() const;
    // Dispatches the thread has handed to the GUI thread so far.
    std::uint64_t HandOversPosted() const;
    // Reads of the modem lines and line counters so far, by thread.
    struct TLineReads {
        std::uint64_t onGuiThread = 0, onReceiveThread = 0;
    };
    TLineReads LineReads() const;
    // Waits of Write() for room in a full driver queue so far.
    std::uint64_t FullQueueWaits() const { return m_fullQueueWaits.load(); }

    TReceiveCallback OnReceive;
    // Called with line events, which are looked for only while WantsLines()
    // says so (without WantsLines: while OnLineState is set). Asked on the
    // GUI thread at start and at each dispatch.
    TLineStateCallback OnLineState;
    std::function<bool()> WantsLines;
    THangUpCallback OnHangUp;

private:
    struct TLink;
    static void Dispatch(const std::shared_ptr<TLink>& link, bool hungUp, std::uint32_t events,
                         std::uint32_t modem);
    static void Run(std::shared_ptr<TLink> link);
    // On the receive thread: waits until the hand-over in flight has run;
    // false when told to stop meanwhile.
    static bool AwaitHandOver(TLink& link);
    // On the receive thread: the line events since its last look.
    static std::uint32_t LineEvents(TLink& link, std::uint32_t* modemStatus);
    bool WantsLineEvents() const;

    int m_fd = -1;
    std::string m_errorText;
    std::uint32_t m_rate = 0;
    TMBHandshake m_handshake = TMBHandshake::None;
    // DTR/DSR: waits until DSR is active or the deadline passed; false then.
    bool AwaitDsr(std::int64_t deadline);
    std::atomic<std::uint64_t> m_fullQueueWaits{0};
    std::uint64_t m_readTotal = 0; // bytes read so far: did the receiver take its chunk?
    // What a dispatch read from the device for its receiver and the receiver
    // has not taken yet (GUI thread only). One read of everything waiting
    // tells the count too, where asking the driver first would cost a second
    // system call at every hand-over.
    std::string m_ahead;
    // Adds everything the device holds to m_ahead (nothing at end of file or
    // an error: the receive thread reports the hang-up).
    void ReadAhead();
    std::shared_ptr<TLink> m_link;
    std::unique_ptr<QObject> m_context; // receives the hand-overs on the GUI thread
    std::thread m_thread;
};
