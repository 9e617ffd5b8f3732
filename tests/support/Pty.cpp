#include "Pty.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kvtest {

namespace {
int MillisLeft(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}
} // namespace

Pty::Pty() {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    char name[128];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        ::close(fd);
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_master = fd;
    m_slavePath = name;
}

Pty::~Pty() { CloseMaster(); }

void Pty::CloseMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

bool Pty::Write(std::string_view bytes, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!bytes.empty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{m_master, POLLOUT, 0};
        const int left = MillisLeft(deadline);
        if (left == 0 || ::poll(&p, 1, left) <= 0)
            return false;
    }
    return bytes.empty();
}

std::string Pty::Read(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string got;
    while (got.size() < count && m_master >= 0) {
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        pollfd p{m_master, POLLIN, 0};
        const int left = MillisLeft(deadline);
        if (left == 0 || ::poll(&p, 1, left) <= 0)
            break;
        if (p.revents & POLLHUP && !(p.revents & POLLIN))
            break; // no slave open: nothing will come
    }
    return got;
}

std::string Pty::ReadAvailable() { return Read(SIZE_MAX, std::chrono::milliseconds(0)); }

PtyLineSettings Pty::SlaveSettings() const {
    PtyLineSettings s;
    termios2 t{};
    if (m_master < 0 || ::ioctl(m_master, TCGETS2, &t) != 0)
        return s;
    s.outputRate = t.c_ospeed;
    s.inputRate = t.c_ispeed;
    s.bother = (t.c_cflag & CBAUD) == BOTHER;
    s.raw8N1 = (t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) == CS8 &&
               (t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | INPCK)) == 0 &&
               (t.c_oflag & OPOST) == 0 && (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0;
    s.localReceive = (t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD);
    const tcflag_t size = t.c_cflag & CSIZE;
    s.frame = std::to_string(size == CS8 ? 8 : size == CS7 ? 7 : size == CS6 ? 6 : 5);
    s.frame += !(t.c_cflag & PARENB) ? 'N' : (t.c_cflag & PARODD) ? 'O' : 'E';
    s.frame += (t.c_cflag & CSTOPB) ? '2' : '1';
    s.rtsCts = (t.c_cflag & CRTSCTS) != 0;
    s.vmin = t.c_cc[VMIN];
    s.vtime = t.c_cc[VTIME];
    return s;
}

bool Pty::SlaveExclusive() const {
    const int fd = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY; // refused: exclusive and we are not root
    int exclusive = 0;
    const bool known = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
    ::close(fd);
    return known && exclusive != 0;
}

int HoldPort(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace kvtest
