#pragma once
// Two pseudo-terminals joined back to back: whatever the link at one slave end
// writes, the other slave end reads, copied by a thread between the two master
// ends as fast as it comes (a pty pair is not paced by the line rate). On the
// way it splits each direction into frames, just far enough to count them,
// note when the first byte of each was read, and leave out one chosen
// request, which is how the tests make a request vanish on the line.
//
// Side A carries the requests (the master link), side B the answers.
//
// TLinkPair puts two real TMB components (the system's port with its receive
// thread, QTimer with Qt::PreciseTimer) on the two slave ends.
#include "QtWait.h"
#include "MB.h"
#include "Pty.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QListWidget>
#include <QTimer>
#include <QToolButton>

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kvrt {

using kvtest::WaitUntil;

using TClock = std::chrono::steady_clock;

enum class TFraming { ascii, binary };

// One direction of the relay.
struct TFrameTap {
    TFraming framing = TFraming::ascii;
    int drop = 0;       // 1-based number of the frame to leave out, 0: none
    int frames = 0;     // frames begun
    int dropped = 0;    // frames left out
    std::vector<TClock::time_point> starts; // first byte of each frame

    // Appends to `out` what goes on to the other side.
    void Feed(const char* p, std::size_t n, TClock::time_point now, std::string& out) {
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<std::uint8_t>(p[i]);
            if (framing == TFraming::ascii) {
                // 'M' opens a request, 'S' an answer; neither is a hex digit.
                if (b == 'M' || b == 'S')
                    Begin(now);
                if (!dropping)
                    out += static_cast<char>(b);
                continue;
            }
            // Binary: each byte travels as a pair, low nibble first, then the
            // high nibble with 0x40, and 0x80 on the frame's first byte. The
            // low half is held until its high half tells whether a frame began.
            if (b < 0x40) {
                if (haveLow && !dropping)
                    out += static_cast<char>(low);
                low = b;
                lowTime = now;
                haveLow = true;
                continue;
            }
            if (b & 0x80)
                Begin(haveLow ? lowTime : now);
            if (!dropping) {
                if (haveLow)
                    out += static_cast<char>(low);
                out += static_cast<char>(b);
            }
            haveLow = false;
        }
    }

private:
    void Begin(TClock::time_point t) {
        ++frames;
        starts.push_back(t);
        dropping = frames == drop;
        if (dropping)
            ++dropped;
    }

    bool dropping = false;
    bool haveLow = false;
    std::uint8_t low = 0;
    TClock::time_point lowTime;
};

struct TRelayCounts {
    int requests = 0;        // request frames seen at A
    int requestsDropped = 0;
    int answers = 0;         // answer frames seen at B
    long long bytes = 0;     // bytes passed on, both ways
    bool failed = false;     // a read or write failed while both ends were open
};

class TPtyRelay {
public:
    TPtyRelay(kvtest::Pty& a, kvtest::Pty& b, TFraming framing) : fdA(a.MasterFd()), fdB(b.MasterFd()) {
        toB.framing = framing;
        toA.framing = framing;
    }
    ~TPtyRelay() { Stop(); }
    TPtyRelay(const TPtyRelay&) = delete;
    TPtyRelay& operator=(const TPtyRelay&) = delete;

    // The n-th request (1-based) does not reach B. Before Start().
    void DropRequest(int n) { toB.drop = n; }

    // Both slave ends must be open by now: a master without its slave reports
    // a hang-up at once.
    bool Start() {
        if (thread.joinable() || ::pipe(stopPipe) != 0)
            return false;
        thread = std::thread([this] { Run(); });
        return true;
    }

    void Stop() {
        if (!thread.joinable())
            return;
        const char c = 0;
        [[maybe_unused]] const ssize_t w = ::write(stopPipe[1], &c, 1);
        thread.join();
        ::close(stopPipe[0]);
        ::close(stopPipe[1]);
    }

    TRelayCounts Counts() const {
        std::lock_guard<std::mutex> lock(mutex);
        return {toB.frames, toB.dropped, toA.frames, bytes, failed};
    }

    // When the first byte of the n-th request (1-based) was read at A.
    std::optional<TClock::time_point> RequestStart(int n) const {
        std::lock_guard<std::mutex> lock(mutex);
        if (n < 1 || n > static_cast<int>(toB.starts.size()))
            return std::nullopt;
        return toB.starts[static_cast<std::size_t>(n - 1)];
    }

private:
    void Run() {
        pollfd fds[3] = {{fdA, POLLIN, 0}, {fdB, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        std::string out;
        char buf[4096];
        for (;;) {
            const int r = ::poll(fds, 3, -1);
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 || fds[2].revents != 0)
                return;
            for (int i = 0; i < 2; ++i) {
                if (fds[i].revents == 0)
                    continue;
                const int from = fds[i].fd;
                const int to = i == 0 ? fdB : fdA;
                for (;;) {
                    const ssize_t n = ::read(from, buf, sizeof buf);
                    if (n > 0) {
                        out.clear();
                        {
                            std::lock_guard<std::mutex> lock(mutex);
                            (i == 0 ? toB : toA).Feed(buf, static_cast<std::size_t>(n), TClock::now(), out);
                            bytes += static_cast<long long>(out.size());
                        }
                        if (!WriteAll(to, out))
                            Fail();
                        continue;
                    }
                    if (n < 0 && errno == EINTR)
                        continue;
                    if (n < 0 && errno == EAGAIN)
                        break;
                    // 0 or EIO: the slave end closed; nothing more comes this way.
                    fds[i].fd = -1;
                    break;
                }
            }
        }
    }

    // Writes everything, waiting for room; gives up when the stop signal
    // comes or nothing moves for five seconds.
    bool WriteAll(int fd, const std::string& s) {
        std::size_t done = 0;
        while (done < s.size()) {
            const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            pollfd p[2] = {{fd, POLLOUT, 0}, {stopPipe[0], POLLIN, 0}};
            if (::poll(p, 2, 5000) <= 0 || p[1].revents != 0)
                return false;
        }
        return true;
    }

    void Fail() {
        std::lock_guard<std::mutex> lock(mutex);
        failed = true;
    }

    const int fdA;
    const int fdB;
    int stopPipe[2] = {-1, -1};
    std::thread thread;
    mutable std::mutex mutex;
    TFrameTap toB; // requests, A to B
    TFrameTap toA; // answers, B to A
    long long bytes = 0;
    bool failed = false;
};


// A TMB that notes when its engine first writes to the port after
// ArmWriteStamp(): the moment a delayed start really sent.
class TRtMB : public TMB {
public:
    TRtMB() : TMB(nullptr) {}
    void ArmWriteStamp() { writeStamp.reset(); }
    std::optional<TClock::time_point> writeStamp;

protected:
    bool MBWriteToPort(const std::uint8_t* data, std::size_t n) override {
        if (!writeStamp)
            writeStamp = TClock::now();
        return TMB::MBWriteToPort(data, n);
    }
};

// The transactions both run: request k carries k, a length and that many
// bytes; the slave answers k, its own count of requests served and the bytes
// inverted, so a lost, repeated or mixed-up transaction shows in the data.
constexpr std::uint8_t kEchoCommand = 7;

inline std::uint16_t EchoLength(std::uint32_t k) { return static_cast<std::uint16_t>((k * 37) % 200); }
inline std::uint8_t EchoByte(std::uint32_t k, int i) { return static_cast<std::uint8_t>(k * 13 + static_cast<std::uint32_t>(i)); }

inline void PutEchoRequest(TMB& m, std::uint32_t k) {
    m.MBTXBufferClear();
    m.MBPutLongWord(k);
    const std::uint16_t n = EchoLength(k);
    m.MBPutWord(n);
    for (int i = 0; i < n; ++i)
        m.MBPutByte(EchoByte(k, i));
    m.setMBMasterCommandToSlave(kEchoCommand);
}

// The slave's handler; `served` counts the requests, `bad` those whose data
// were not what the master put.
inline void InstallEchoSlave(TMB& s, std::uint32_t& served, int& bad) {
    s.OnMBSlaveReceivedCommand = [&s, &served, &bad](std::uint8_t command, bool, std::uint16_t received) {
        const std::uint32_t k = s.MBGetLongWord();
        const std::uint16_t n = s.MBGetWord();
        bool ok = command == kEchoCommand && n == EchoLength(k) && received == 6 + n;
        ++served;
        s.MBPutLongWord(k);
        s.MBPutLongWord(served);
        s.MBPutWord(n);
        for (int i = 0; i < n && i < TMBFrameCore::kMaxData - 10; ++i) {
            const std::uint8_t b = s.MBGetByte();
            ok = ok && b == EchoByte(k, i);
            s.MBPutByte(static_cast<std::uint8_t>(~b));
        }
        if (!ok)
            ++bad;
    };
}

// Whether the master's answer is the slave's echo of request k, served as the
// slave's `served`-th request.
inline bool CheckEchoAnswer(TMB& m, std::uint32_t k, std::uint32_t served) {
    const std::uint16_t n = EchoLength(k);
    if (m.MBReceivedDataNumber() != 10 + n)
        return false;
    if (m.MBGetLongWord() != k || m.MBGetLongWord() != served || m.MBGetWord() != n)
        return false;
    for (int i = 0; i < n; ++i)
        if (m.MBGetByte() != static_cast<std::uint8_t>(~EchoByte(k, i)))
            return false;
    return true;
}

struct TLinkPair {
    static constexpr std::uint8_t kAddress = 3;

    kvtest::Pty ptyA; // the master's line
    kvtest::Pty ptyB; // the slave's line
    TRtMB master;
    TRtMB slave;
    std::unique_ptr<TPtyRelay> relay;
    std::string error;

    // Modes and addresses set, the start-up tick of both passed (it clears
    // the counters), both ports open at 115200 and the relay running.
    bool Open(TMBMode masterMode, TMBMode slaveMode, TFraming framing, int dropRequest = 0) {
        if (!ptyA.IsOpen() || !ptyB.IsOpen())
            return Failed("no pseudo-terminal");
        const bool ascii = framing == TFraming::ascii;
        master.setMBMode(masterMode);
        master.setMBMasterAddressToSlave(kAddress);
        master.setMBMasterIDToSlave(ascii ? 5 : 0);
        slave.setMBMode(slaveMode);
        slave.setMBSlaveOwnAddress(kAddress);
        slave.setMBSlaveID(ascii ? 5 : 0);
        // The ports come into the panels' lists as the extra ports of the
        // environment; each panel opens its own from its list, as a user would.
        const std::string paths = ptyA.SlavePath() + ":" + ptyB.SlavePath();
        ::setenv("KV_EXTRA_PORTS", paths.c_str(), 1);
        extraPortsSet = true;
        if (!WaitUntil([&] { return !master.MBDeferredStartPending() && !slave.MBDeferredStartPending(); }, 5000))
            return Failed("no start-up tick");
        const std::pair<TRtMB*, kvtest::Pty*> ends[] = {{&master, &ptyA}, {&slave, &ptyB}};
        for (auto [mb, pty] : ends) {
            auto* list = mb->findChild<QListWidget*>(QStringLiteral("ListBox_Ports"));
            const auto found = list->findItems(QString::fromStdString(pty->SlavePath()), Qt::MatchExactly);
            if (found.isEmpty())
                return Failed(pty->SlavePath() + " not listed");
            list->setCurrentItem(found.front());
            mb->MBPortListClick();
            mb->findChild<QToolButton*>(QStringLiteral("SpeedButton_OpenClose"))->click();
            if (!mb->MBPortOpen())
                return Failed("cannot open " + pty->SlavePath() + ": " + mb->MBLastOpenError().toStdString());
            if (mb->MBPortDevice().Rate() != 115200)
                return Failed("rate " + std::to_string(mb->MBPortDevice().Rate()));
        }
        relay = std::make_unique<TPtyRelay>(ptyA, ptyB, framing);
        relay->DropRequest(dropRequest);
        if (!relay->Start())
            return Failed("no relay thread");
        return true;
    }

    void Close() {
        if (relay)
            relay->Stop();
        master.MBClose();
        slave.MBClose();
        if (extraPortsSet)
            ::unsetenv("KV_EXTRA_PORTS");
        extraPortsSet = false;
    }
    ~TLinkPair() { Close(); }

private:
    bool extraPortsSet = false;

    bool Failed(std::string what) {
        error = std::move(what);
        return false;
    }
};

} // namespace kvrt
