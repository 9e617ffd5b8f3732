#include "CommThread.h"

#include "MBPort.h"
#include "MBPortHolders.h"

#include <QMetaObject>
#include <QObject>

#include <asm/termbits.h> // termios2, BOTHER (not <termios.h>: the two clash)
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h> // serial_icounter_struct
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <system_error>
#include <time.h>
#include <unistd.h>

namespace {

std::string SystemText(int error) { return std::system_category().message(error); }

// Dispatches being served on this thread; an object destroyed from inside one
// must not delete the QObject whose queued call is running.
thread_local int g_dispatchDepth = 0;

// A port that keeps waking the thread with nothing to read, without hanging
// up, is treated as dead after this many turns in a row rather than spun on.
constexpr int kMaxEmptyTurns = 64;

// A write into a full driver queue waits for room as long as the line needs
// to send what is queued and the rest of the write, and this much longer.
constexpr std::int64_t kFullQueueMarginMs = 1000;

std::int64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Signal(int fd) {
    const std::uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Consume(int fd) {
    std::uint64_t value = 0;
    while (::read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

// Waits until one of the two descriptors is readable; returns its index.
int WaitEither(int first, int second) {
    for (;;) {
        pollfd fds[2] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
        const int n = ::poll(fds, second >= 0 ? 2 : 1, -1);
        if (n < 0)
            continue; // EINTR; nothing else can fail on two valid eventfds
        if (fds[0].revents)
            return 0;
        if (fds[1].revents)
            return 1;
    }
}

} // namespace

struct TCommThread::TLink {
    int devFd = -1;
    int stopFd = -1;
    int doneFd = -1;
    int epollFd = -1; // the receive thread's wait: stop, and the device's new bytes
    // The hand-over in flight: none, posted, or posted with the receive
    // thread asleep on doneFd until it has run. Only then does the dispatch
    // signal doneFd: mostly the receive thread is already waiting for the
    // device's next bytes, and is not woken for nothing.
    enum : int { kNone, kPosted, kAwaited };
    std::atomic<int> handOver{kNone};
    QObject* context = nullptr; // alive while the thread runs
    TCommThread* owner = nullptr; // read and cleared on the GUI thread only
    std::atomic<std::uint64_t> posted{0};
    std::atomic<bool> emptyTurn{false};
    // Whether the owner has a line-state handler (set on the GUI thread at
    // each dispatch, read by the receive thread): the modem lines are read
    // only then, and only by the receive thread.
    std::atomic<bool> watchLines{false};
    std::thread::id guiThread;
    // The receive thread's own: the line states of its last look.
    bool haveLines = false;
    std::uint32_t lastModem = 0;
    std::uint64_t lastErrors = 0;
    std::uint32_t lastBreaks = 0;
    std::atomic<std::uint64_t> lineReadsOnGui{0};
    std::atomic<std::uint64_t> lineReadsOffGui{0};

    ~TLink() {
        if (stopFd >= 0)
            ::close(stopFd);
        if (doneFd >= 0)
            ::close(doneFd);
        if (epollFd >= 0)
            ::close(epollFd);
    }
};

TCommThread::TCommThread(const std::string& device) {
    // A program that opened the port plainly (no lock, no TIOCEXCL) would
    // otherwise share the line with us, each reading half of its bytes.
    const QString path = QString::fromStdString(device);
    const QString held = mb::HeldText(mb::TPortHolders::Scan().Of(path, true));
    if (!held.isEmpty()) {
        m_errorText = SystemText(EBUSY) + ": " + held.toStdString();
        return;
    }
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_errorText = SystemText(errno);
        return;
    }
    // TIOCEXCL does not stop root; the lock is what keeps a second opener out.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        m_errorText = SystemText(e == EWOULDBLOCK ? EBUSY : e);
        return;
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        const int e = errno;
        ::close(fd);
        m_errorText = SystemText(e);
        return;
    }
    m_fd = fd;
}

TCommThread::~TCommThread() {
    Stop();
    if (m_fd >= 0) {
        // Exclusive mode sticks to the tty: a pseudo-terminal whose other end
        // stays open would otherwise refuse the next open.
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }
    if (g_dispatchDepth > 0 && m_context)
        m_context.release()->deleteLater();
}

bool TCommThread::Configure(std::uint32_t rate, const TMBLineSettings& line) {
    if (m_fd < 0)
        return false;
    if (rate == 0) { // 0 would mean "hang up the line"
        m_errorText = SystemText(EINVAL);
        return false;
    }
    if (const QString problem = MBLineSettingsProblem(line); !problem.isEmpty()) {
        m_errorText = SystemText(EINVAL) + " (" + problem.toStdString() + ")";
        return false;
    }
    termios2 t{};
    if (::ioctl(m_fd, TCGETS2, &t) != 0) {
        m_errorText = SystemText(errno);
        return false;
    }
    // No break or CR/NL translation, no XON/XOFF; with parity, a damaged
    // character arrives as NUL rather than vanishing (a reading with a digit
    // missing would still parse).
    t.c_iflag = line.Parity == TMBParity::None ? 0 : INPCK;
    t.c_oflag = 0;
    t.c_lflag = 0;
    // Carrier ignored: the modem lines are ours to hold, not a hang-up.
    tcflag_t frame = (line.DataBits == 7 ? CS7 : CS8) | (line.StopBits == 2 ? CSTOPB : 0);
    if (line.Parity != TMBParity::None)
        frame |= PARENB | (line.Parity == TMBParity::Odd ? PARODD : 0);
    if (line.Handshake == TMBHandshake::RtsCts)
        frame |= CRTSCTS;
    t.c_cflag = frame | CREAD | CLOCAL | BOTHER; // input rate follows the output rate
    t.c_ospeed = rate;
    t.c_ispeed = rate;
    t.c_cc[VMIN] = 1; // "no data" is EAGAIN; 0 or EIO then means the device is gone
    t.c_cc[VTIME] = 0;
    if (::ioctl(m_fd, TCSETS2, &t) != 0) {
        m_errorText = SystemText(errno);
        return false;
    }
    termios2 back{};
    if (::ioctl(m_fd, TCGETS2, &back) != 0) {
        m_errorText = SystemText(errno);
        return false;
    }
    // A driver may keep what it cannot do (a UART without 7-bit frames, an
    // adapter without hardware handshake) and still say yes.
    constexpr tcflag_t kFrameBits = CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS;
    if ((back.c_cflag & kFrameBits) != (frame & kFrameBits)) {
        TMBLineSettings kept = line;
        kept.DataBits = (back.c_cflag & CSIZE) == CS7 ? 7 : (back.c_cflag & CSIZE) == CS8 ? 8 : 0;
        kept.StopBits = (back.c_cflag & CSTOPB) ? 2 : 1;
        kept.Parity = !(back.c_cflag & PARENB) ? TMBParity::None
                      : (back.c_cflag & PARODD) ? TMBParity::Odd
                                                : TMBParity::Even;
        const auto rtsCts = [](bool on) { return on ? std::string(" with RTS/CTS") : std::string(); };
        m_errorText = SystemText(EINVAL) + " (the driver keeps " + MBFrameText(kept).toStdString() +
                      rtsCts(back.c_cflag & CRTSCTS) + " instead of " + MBFrameText(line).toStdString() +
                      rtsCts(frame & CRTSCTS) + ")";
        return false;
    }
    m_rate = back.c_ospeed;
    const std::uint64_t diff = m_rate > rate ? m_rate - rate : rate - m_rate;
    if (diff * 50 > rate) { // more than 2 %: the far end would read garbage
        m_errorText = SystemText(EINVAL) + " (the driver runs at " + std::to_string(m_rate) +
                      " bits / second instead of " + std::to_string(rate) + ")";
        return false;
    }
    m_handshake = line.Handshake;
    return true;
}

void TCommThread::SetModemLines(const TMBLineSettings& line) {
    if (m_fd < 0)
        return;
    // ENOTTY on a pseudo-terminal. With RTS/CTS the driver holds RTS itself.
    const bool ownRts = line.Handshake != TMBHandshake::RtsCts;
    const int on = (line.Dtr ? TIOCM_DTR : 0) | (ownRts && line.Rts ? TIOCM_RTS : 0);
    const int off = (line.Dtr ? 0 : TIOCM_DTR) | (ownRts && !line.Rts ? TIOCM_RTS : 0);
    if (on)
        ::ioctl(m_fd, TIOCMBIS, &on);
    if (off)
        ::ioctl(m_fd, TIOCMBIC, &off);
}

bool TCommThread::AwaitDsr(std::int64_t deadline) {
    for (;;) {
        int lines = 0;
        if (::ioctl(m_fd, TIOCMGET, &lines) != 0)
            return true; // no modem lines (a pseudo-terminal): nothing holds us off
        if (lines & TIOCM_DSR)
            return true;
        if (NowMs() >= deadline)
            return false;
        ::usleep(2000);
    }
}

void TCommThread::RequestLowLatency() {
    if (m_fd < 0)
        return;
    // USB-serial adapters otherwise hold received bytes for up to 16 ms.
    serial_struct serial{};
    if (::ioctl(m_fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(m_fd, TIOCSSERIAL, &serial); // a driver without it keeps its timing
    }
}

void TCommThread::Purge() {
    m_ahead.clear();
    if (m_fd >= 0)
        ::ioctl(m_fd, TCFLSH, TCIOFLUSH);
}

qint64 TCommThread::Write(const char* data, qint64 size) {
    if (m_fd < 0)
        return -1;
    qint64 done = 0;
    std::int64_t deadline = -1;
    if (m_handshake == TMBHandshake::DtrDsr && size > 0) {
        // The far end raises DSR when it can take characters; a short line
        // (a meter's command) waits as long as it would for a full queue.
        const std::uint32_t rate = m_rate ? m_rate : 300;
        if (!AwaitDsr(NowMs() + size * 10 * 1000 / rate + 1 + kFullQueueMarginMs))
            return 0;
    }
    while (done < size) {
        const ssize_t n = ::write(m_fd, data + done, static_cast<size_t>(size - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno != EAGAIN)
            return -1; // EIO after a hang-up, or worse: the device is gone
        // The driver's queue is full (a USB adapter queues about 4 KB): wait
        // until the line has made room, as long as it needs to send what is
        // queued and the rest of this write, and a margin.
        if (deadline < 0) {
            int queued = 0;
            if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued < 0)
                queued = 0;
            const std::uint32_t rate = m_rate ? m_rate : 300;
            const std::int64_t bits = (size - done + queued) * std::int64_t{10};
            deadline = NowMs() + bits * 1000 / rate + 1 + kFullQueueMarginMs;
        }
        const std::int64_t left = deadline - NowMs();
        if (left <= 0)
            return done; // the queue does not drain: the caller decides
        m_fullQueueWaits.fetch_add(1);
        pollfd p{m_fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, static_cast<int>(std::min<std::int64_t>(left, 60000)));
        if (r < 0 && errno != EINTR)
            return -1;
        if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            return -1; // hung up while waiting: reported once, by the caller
    }
    return done;
}

qint64 TCommThread::Read(char* data, qint64 size) {
    if (m_fd < 0)
        return -1;
    qint64 got = std::min<qint64>(std::max<qint64>(size, 0), qint64(m_ahead.size()));
    if (got > 0) {
        std::copy_n(m_ahead.data(), got, data);
        m_ahead.erase(0, static_cast<std::size_t>(got));
    }
    while (got < size) {
        const ssize_t n = ::read(m_fd, data + got, static_cast<size_t>(size - got));
        if (n > 0) {
            got += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // EAGAIN: nothing more waits; 0 or EIO: the device is gone
    }
    m_readTotal += static_cast<std::uint64_t>(got);
    return got;
}

void TCommThread::ReadAhead() {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // EAGAIN: all taken; 0 or EIO: the hang-up is the thread's to see
        m_ahead.append(chunk, static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < sizeof chunk)
            return; // less than asked: nothing more waited
    }
}

qint64 TCommThread::BytesWaiting() const {
    int n = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &n) != 0 || n < 0)
        return qint64(m_ahead.size());
    return qint64(m_ahead.size()) + n;
}

void TCommThread::Discard(qint64 size) {
    char sink[512];
    while (size > 0) {
        const qint64 n = Read(sink, std::min<qint64>(size, sizeof sink));
        if (n <= 0)
            break;
        size -= n;
    }
}

std::uint32_t TCommThread::LineEvents(TLink& link, std::uint32_t* modemStatus) {
    // TIOCMGET and TIOCGICOUNT are USB control transfers on many adapters
    // (milliseconds each): counted per thread, so that a test can see that
    // the GUI thread makes none.
    (std::this_thread::get_id() == link.guiThread ? link.lineReadsOnGui : link.lineReadsOffGui).fetch_add(1);
    std::uint32_t status = 0;
    int lines = 0;
    if (::ioctl(link.devFd, TIOCMGET, &lines) == 0) {
        status = ((lines & TIOCM_CTS) ? msCTS : 0u) | ((lines & TIOCM_DSR) ? msDSR : 0u) |
                 ((lines & TIOCM_RNG) ? msRING : 0u) | ((lines & TIOCM_CAR) ? msRLSD : 0u);
    }
    std::uint64_t errors = link.lastErrors;
    std::uint32_t breaks = link.lastBreaks;
    serial_icounter_struct counts{};
    if (::ioctl(link.devFd, TIOCGICOUNT, &counts) == 0) {
        errors = std::uint64_t(unsigned(counts.frame)) + unsigned(counts.parity) +
                 unsigned(counts.overrun) + unsigned(counts.buf_overrun);
        breaks = unsigned(counts.brk);
    }
    const std::uint32_t changed = status ^ link.lastModem;
    std::uint32_t mask = ((changed & msCTS) ? evCTS : 0u) | ((changed & msDSR) ? evDSR : 0u) |
                         ((changed & msRING) ? evRING : 0u) | ((changed & msRLSD) ? evRLSD : 0u);
    if (errors != link.lastErrors)
        mask |= evERR;
    if (breaks != link.lastBreaks)
        mask |= evBREAK;
    if (!link.haveLines)
        mask = 0; // the first look is the baseline that changes are measured against
    link.haveLines = true;
    link.lastModem = status;
    link.lastErrors = errors;
    link.lastBreaks = breaks;
    if (modemStatus)
        *modemStatus = status;
    return mask;
}

void TCommThread::Start() {
    if (m_fd < 0 || m_thread.joinable() || m_link)
        return; // a thread is never restarted
    auto link = std::make_shared<TLink>();
    link->stopFd = ::eventfd(0, EFD_CLOEXEC);
    link->doneFd = ::eventfd(0, EFD_CLOEXEC);
    link->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (link->stopFd < 0 || link->doneFd < 0 || link->epollFd < 0)
        return; // out of descriptors: the port stays deaf, as a port without a thread
    // The device edge-triggered: woken once for each arrival of bytes, not
    // again and again while a hand-over waits to read them.
    epoll_event stop{}, device{};
    stop.events = EPOLLIN;
    stop.data.fd = link->stopFd;
    device.events = EPOLLIN | EPOLLPRI | EPOLLET;
    device.data.fd = m_fd;
    if (::epoll_ctl(link->epollFd, EPOLL_CTL_ADD, link->stopFd, &stop) != 0 ||
        ::epoll_ctl(link->epollFd, EPOLL_CTL_ADD, m_fd, &device) != 0)
        return;
    m_context = std::make_unique<QObject>();
    link->devFd = m_fd;
    link->context = m_context.get();
    link->owner = this;
    link->guiThread = std::this_thread::get_id();
    link->watchLines = WantsLineEvents();
    m_link = link;
    m_thread = std::thread(&TCommThread::Run, std::move(link));
}

void TCommThread::Stop() {
    OnReceive = nullptr;
    OnLineState = nullptr;
    WantsLines = nullptr;
    OnHangUp = nullptr;
    if (m_link)
        m_link->owner = nullptr;
    if (m_thread.joinable()) {
        Signal(m_link->stopFd);
        m_thread.join();
    }
}

std::chrono::nanoseconds TCommThread::ThreadCpuTime() const {
    if (!m_thread.joinable())
        return {};
    clockid_t clock{};
    timespec ts{};
    if (pthread_getcpuclockid(const_cast<std::thread&>(m_thread).native_handle(), &clock) != 0 ||
        clock_gettime(clock, &ts) != 0)
        return {};
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

std::uint64_t TCommThread::HandOversPosted() const { return m_link ? m_link->posted.load() : 0; }

TCommThread::TLineReads TCommThread::LineReads() const {
    if (!m_link)
        return {};
    return {m_link->lineReadsOnGui.load(), m_link->lineReadsOffGui.load()};
}

bool TCommThread::WantsLineEvents() const { return WantsLines ? WantsLines() : OnLineState != nullptr; }

void TCommThread::Run(std::shared_ptr<TLink> link) {
    // One step above normal so that the wait is re-armed promptly; without
    // the right to raise it we run at normal priority.
    const pid_t tid = ::gettid();
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, nice - 1);

    if (link->watchLines)
        LineEvents(*link, nullptr); // the baseline
    int emptyTurns = 0;
    bool uncounted = false; // a hand-over was made whose emptiness is not counted yet
    for (;;) {
        epoll_event events[2];
        const int n = ::epoll_wait(link->epollFd, events, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        std::uint32_t device = 0;
        for (int i = 0; i < n; ++i) {
            if (events[i].data.fd == link->stopFd)
                return;
            device |= events[i].events;
        }
        // The previous hand-over must have run before the next is made; while
        // it was still queued, it may have read the bytes of this wake-up.
        const bool overtaken = link->handOver.load() != TLink::kNone;
        if (!AwaitHandOver(*link))
            return;
        if (uncounted)
            emptyTurns = link->emptyTurn.load() ? emptyTurns + 1 : 0;
        uncounted = false;
        const bool hungUp = n < 0 || (device & (EPOLLHUP | EPOLLERR)) || emptyTurns >= kMaxEmptyTurns;
        if (overtaken && !hungUp && !link->watchLines) {
            int waiting = 0;
            if (::ioctl(link->devFd, FIONREAD, &waiting) == 0 && waiting == 0)
                continue; // taken by the hand-over before: nothing new
        }

        // The line states, read here rather than on the GUI thread, and only
        // while somebody listens to them (a dead device has none left).
        std::uint32_t lineEvents = 0, modem = 0;
        if (hungUp || !link->watchLines)
            link->haveLines = false;
        else
            lineEvents = LineEvents(*link, &modem);

        link->posted.fetch_add(1);
        link->handOver.store(TLink::kPosted);
        uncounted = true;
        QMetaObject::invokeMethod(
            link->context, [link, hungUp, lineEvents, modem] { Dispatch(link, hungUp, lineEvents, modem); },
            Qt::QueuedConnection);

        if (hungUp) {
            // Reported once; a dead port would wake every wait at once.
            if (AwaitHandOver(*link))
                WaitEither(link->stopFd, -1);
            return;
        }
    }
}

bool TCommThread::AwaitHandOver(TLink& link) {
    int expected = TLink::kPosted;
    if (!link.handOver.compare_exchange_strong(expected, TLink::kAwaited))
        return true; // none in flight, or it has run
    if (WaitEither(link.stopFd, link.doneFd) == 0)
        return false;
    Consume(link.doneFd);
    return true;
}

void TCommThread::Dispatch(const std::shared_ptr<TLink>& link, bool hungUp, std::uint32_t events,
                           std::uint32_t modem) {
    struct Done {
        const std::shared_ptr<TLink>& link;
        ~Done() {
            if (link->handOver.exchange(TLink::kNone) == TLink::kAwaited)
                Signal(link->doneFd);
        }
    } done{link};
    TCommThread* self = link->owner;
    if (!self)
        return; // closed since the hand-over was queued
    ++g_dispatchDepth;
    struct Depth {
        ~Depth() { --g_dispatchDepth; }
    } depth;

    if (self->m_fd >= 0)
        self->ReadAhead();
    const qint64 waiting = qint64(self->m_ahead.size());
    // The receiver is offered what came until it has taken all of it; what it
    // leaves at one offer it gets again at once, as it would from the driver.
    for (qint64 left = waiting; left > 0; left = qint64(self->m_ahead.size())) {
        const std::uint64_t readBefore = self->m_readTotal;
        if (self->OnReceive) {
            const TReceiveCallback receive = self->OnReceive; // may be reassigned inside
            receive(left);
            if (link->owner != self)
                return; // closed or destroyed by the receiver
        }
        // Bytes nobody takes would be offered again forever.
        if (self->m_readTotal == readBefore) {
            self->Discard(left);
            break;
        }
    }

    link->watchLines = self->WantsLineEvents(); // from the next turn of the receive thread
    if (events && self->OnLineState) {
        const TLineStateCallback lineState = self->OnLineState;
        lineState(events, modem);
        if (link->owner != self)
            return;
    }
    link->emptyTurn = waiting <= 0 && events == 0;

    if (hungUp && self->OnHangUp) {
        const THangUpCallback hangUp = self->OnHangUp;
        hangUp();
    }
}
