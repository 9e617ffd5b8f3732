#include "CommThread.h"

#include "MBPort.h"

#include <QMetaObject>
#include <QObject>

#include <asm/termbits.h> // termios2, BOTHER (not <termios.h>: the two clash)
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h> // serial_icounter_struct
#include <poll.h>
#include <pthread.h>
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
    QObject* context = nullptr; // alive while the thread runs
    TCommThread* owner = nullptr; // read and cleared on the GUI thread only
    std::atomic<std::uint64_t> posted{0};
    std::atomic<bool> emptyTurn{false};

    ~TLink() {
        if (stopFd >= 0)
            ::close(stopFd);
        if (doneFd >= 0)
            ::close(doneFd);
    }
};

TCommThread::TCommThread(const std::string& device) {
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

bool TCommThread::Configure(std::uint32_t rate) {
    if (m_fd < 0)
        return false;
    if (rate == 0) { // 0 would mean "hang up the line"
        m_errorText = SystemText(EINVAL);
        return false;
    }
    termios2 t{};
    if (::ioctl(m_fd, TCGETS2, &t) != 0) {
        m_errorText = SystemText(errno);
        return false;
    }
    t.c_iflag = 0; // no parity marking, no break or CR/NL translation, no XON/XOFF
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CS8 | CREAD | CLOCAL | BOTHER; // input rate follows the output rate
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
    m_rate = back.c_ospeed;
    const std::uint64_t diff = m_rate > rate ? m_rate - rate : rate - m_rate;
    if (diff * 50 > rate) { // more than 2 %: the far end would read garbage
        m_errorText = SystemText(EINVAL) + " (the driver runs at " + std::to_string(m_rate) +
                      " bits / second instead of " + std::to_string(rate) + ")";
        return false;
    }
    return true;
}

void TCommThread::ClearModemLines() {
    if (m_fd < 0)
        return;
    const int bits = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(m_fd, TIOCMBIC, &bits); // ENOTTY on a pseudo-terminal
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
    if (m_fd >= 0)
        ::ioctl(m_fd, TCFLSH, TCIOFLUSH);
}

qint64 TCommThread::Write(const char* data, qint64 size) {
    if (m_fd < 0)
        return -1;
    if (size <= 0)
        return 0;
    for (;;) {
        const ssize_t n = ::write(m_fd, data, static_cast<size_t>(size));
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? 0 : -1; // a full queue took nothing
    }
}

qint64 TCommThread::Read(char* data, qint64 size) {
    if (m_fd < 0)
        return -1;
    qint64 got = 0;
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

qint64 TCommThread::BytesWaiting() const {
    int n = 0;
    if (m_fd < 0 || ::ioctl(m_fd, FIONREAD, &n) != 0 || n < 0)
        return 0;
    return n;
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

std::uint32_t TCommThread::LineEvents(std::uint32_t* modemStatus) {
    std::uint32_t status = 0;
    int lines = 0;
    if (::ioctl(m_fd, TIOCMGET, &lines) == 0) {
        status = ((lines & TIOCM_CTS) ? msCTS : 0u) | ((lines & TIOCM_DSR) ? msDSR : 0u) |
                 ((lines & TIOCM_RNG) ? msRING : 0u) | ((lines & TIOCM_CAR) ? msRLSD : 0u);
    }
    std::uint64_t errors = m_lastErrors;
    std::uint32_t breaks = m_lastBreaks;
    serial_icounter_struct counts{};
    if (::ioctl(m_fd, TIOCGICOUNT, &counts) == 0) {
        errors = std::uint64_t(unsigned(counts.frame)) + unsigned(counts.parity) +
                 unsigned(counts.overrun) + unsigned(counts.buf_overrun);
        breaks = unsigned(counts.brk);
    }
    const std::uint32_t changed = status ^ m_lastModem;
    std::uint32_t mask = ((changed & msCTS) ? evCTS : 0u) | ((changed & msDSR) ? evDSR : 0u) |
                         ((changed & msRING) ? evRING : 0u) | ((changed & msRLSD) ? evRLSD : 0u);
    if (errors != m_lastErrors)
        mask |= evERR;
    if (breaks != m_lastBreaks)
        mask |= evBREAK;
    m_lastModem = status;
    m_lastErrors = errors;
    m_lastBreaks = breaks;
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
    if (link->stopFd < 0 || link->doneFd < 0)
        return; // out of descriptors: the port stays deaf, as a port without a thread
    m_context = std::make_unique<QObject>();
    link->devFd = m_fd;
    link->context = m_context.get();
    link->owner = this;
    LineEvents(nullptr); // the baseline that later line events are measured against
    m_link = link;
    m_thread = std::thread(&TCommThread::Run, std::move(link));
}

void TCommThread::Stop() {
    OnReceive = nullptr;
    OnLineState = nullptr;
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

void TCommThread::Run(std::shared_ptr<TLink> link) {
    // One step above normal so that the wait is re-armed promptly; without
    // the right to raise it we run at normal priority.
    const pid_t tid = ::gettid();
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, nice - 1);

    int emptyTurns = 0;
    for (;;) {
        pollfd fds[2] = {{link->stopFd, POLLIN, 0}, {link->devFd, POLLIN | POLLPRI, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (fds[0].revents)
            return;
        const bool hungUp = n < 0 || (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) ||
                            emptyTurns >= kMaxEmptyTurns;

        link->posted.fetch_add(1);
        QMetaObject::invokeMethod(
            link->context, [link, hungUp] { Dispatch(link, hungUp); }, Qt::QueuedConnection);
        if (WaitEither(link->stopFd, link->doneFd) == 0)
            return;
        Consume(link->doneFd);

        if (hungUp) {
            // Reported once; a dead port would wake every wait at once.
            WaitEither(link->stopFd, -1);
            return;
        }
        emptyTurns = link->emptyTurn.load() ? emptyTurns + 1 : 0;
    }
}

void TCommThread::Dispatch(const std::shared_ptr<TLink>& link, bool hungUp) {
    struct Done {
        const std::shared_ptr<TLink>& link;
        ~Done() { Signal(link->doneFd); }
    } done{link};
    TCommThread* self = link->owner;
    if (!self)
        return; // closed since the hand-over was queued
    ++g_dispatchDepth;
    struct Depth {
        ~Depth() { --g_dispatchDepth; }
    } depth;

    const qint64 waiting = self->BytesWaiting();
    if (waiting > 0) {
        const std::uint64_t readBefore = self->m_readTotal;
        if (self->OnReceive) {
            const TReceiveCallback receive = self->OnReceive; // may be reassigned inside
            receive(waiting);
            if (link->owner != self)
                return; // closed or destroyed by the receiver
        }
        // Bytes nobody took would wake the wait again at once, forever.
        if (self->m_readTotal == readBefore)
            self->Discard(waiting);
    }

    std::uint32_t modem = 0; // a dead device has no lines left to report
    const std::uint32_t events = hungUp ? 0 : self->LineEvents(&modem);
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
