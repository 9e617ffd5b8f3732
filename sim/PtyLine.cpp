#include "PtyLine.h"

#include <QFile>
#include <QSocketNotifier>

#include <asm/termbits.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace kvsim {

TPtyLine::TPtyLine(const Options& options, QObject* parent) : QObject(parent), options_(options) {
    // Characters leave at their microsecond on an absolute timer: a
    // millisecond timer would add up to a millisecond to every answer.
    pumpFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (pumpFd_ >= 0) {
        pumpNotifier_ = std::make_unique<QSocketNotifier>(pumpFd_, QSocketNotifier::Read);
        connect(pumpNotifier_.get(), &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const ssize_t n = ::read(pumpFd_, &expirations, sizeof expirations);
            Pump();
        });
    } else {
        pump_.setSingleShot(true);
        pump_.setTimerType(Qt::PreciseTimer);
        connect(&pump_, &QTimer::timeout, this, [this] { Pump(); });
    }
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] {
        if (notifier_)
            notifier_->setEnabled(true);
    });
}

TPtyLine::~TPtyLine() {
    OnReceive = nullptr;
    OnOpen = OnClose = nullptr;
    Close();
    RemoveLink();
    pumpNotifier_.reset();
    if (pumpFd_ >= 0)
        ::close(pumpFd_);
}

bool TPtyLine::Open(QString& error) {
    Close();
    const int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m < 0 || ::grantpt(m) != 0 || ::unlockpt(m) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        if (m >= 0)
            ::close(m);
        return false;
    }
    char name[128] = {};
    if (::ptsname_r(m, name, sizeof name) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(m);
        return false;
    }
    const int s = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(m);
        return false;
    }
    // Raw 8N1 at the fallback rate until the other side sets its own.
    struct termios2 t {};
    if (::ioctl(s, TCGETS2, &t) == 0) {
        t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
        t.c_oflag &= ~OPOST;
        t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        t.c_cflag &= ~(CSIZE | PARENB | CBAUD | CRTSCTS);
        t.c_cflag |= CS8 | CLOCAL | CREAD | BOTHER;
        t.c_ispeed = t.c_ospeed = options_.FallbackRate;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::ioctl(s, TCSETS2, &t);
    }
    master_ = m;
    slaveFd_ = s;
    path_ = QString::fromLocal8Bit(name);
    notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnReadable(); });
    lineFree_ = Clock::now();
    if (OnOpen)
        OnOpen();
    UpdateLink();
    emit opened(path_);
    return true;
}

void TPtyLine::Close() {
    ArmPump(nullptr);
    retry_.stop();
    out_.clear();
    notifier_.reset();
    if (master_ >= 0) {
        if (OnClose)
            OnClose();
        ::close(master_);
        master_ = -1;
    }
    if (slaveFd_ >= 0) {
        ::close(slaveFd_);
        slaveFd_ = -1;
    }
}

void TPtyLine::HangUp() {
    Close();
    emit hungUp();
    QTimer::singleShot(static_cast<int>(options_.ReopenDelayMs), this, [this] {
        if (master_ >= 0)
            return;
        QString error;
        if (!Open(error))
            std::fprintf(stderr, "kvsim: cannot open a pseudo-terminal: %s\n", qPrintable(error));
    });
}

std::uint32_t TPtyLine::LineRate() const {
    for (int fd : {master_, slaveFd_}) {
        if (fd < 0)
            continue;
        struct termios2 t {};
        if (::ioctl(fd, TCGETS2, &t) == 0 && t.c_ospeed > 0)
            return t.c_ospeed;
    }
    return options_.FallbackRate;
}

void TPtyLine::OnReadable() {
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0) {
            lastReceived_ = Clock::now();
            if (OnReceive)
                OnReceive(buf, static_cast<std::size_t>(n));
            if (master_ < 0)
                return; // a console hang-up from inside cannot happen here, but stay safe
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        // EIO or end of file: nobody on the other side. Do not spin on it.
        notifier_->setEnabled(false);
        retry_.start(50);
        return;
    }
}

void TPtyLine::Send(const std::string& bytes, Clock::time_point notBefore) {
    if (master_ < 0)
        return;
    const double charNs = 10.0 * 1e9 / LineRate();
    auto start = std::max({lineFree_, Clock::now(), notBefore});
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto due = start + std::chrono::nanoseconds(static_cast<std::int64_t>(charNs * static_cast<double>(i + 1)));
        out_.push_back({due, bytes[i]});
    }
    if (!out_.empty())
        lineFree_ = out_.back().due;
    Pump();
}

void TPtyLine::Pump() {
    if (master_ < 0) {
        out_.clear();
        return;
    }
    const auto now = Clock::now();
    std::string chunk;
    while (!out_.empty() && out_.front().due <= now) {
        chunk.push_back(out_.front().byte);
        out_.pop_front();
    }
    if (!chunk.empty()) {
        std::size_t done = 0;
        while (done < chunk.size()) {
            const ssize_t w = ::write(master_, chunk.data() + done, chunk.size() - done);
            if (w > 0) {
                done += static_cast<std::size_t>(w);
            } else if (w < 0 && errno == EINTR) {
                continue;
            } else {
                break; // queue full (nobody reads) or gone: the rest is lost, as on a line
            }
        }
    }
    if (out_.empty()) {
        ArmPump(nullptr);
        return;
    }
    // Characters reach the other side in bursts (a millisecond apart by
    // default, as from a UART's receive FIFO or a USB adapter's frames), and
    // the last one exactly when the line has carried it. One wake-up per
    // character would cost the program a hand-over for every character,
    // which no real port does.
    const auto next = std::min(out_.back().due, std::max(out_.front().due, Clock::now() + std::chrono::milliseconds(
                                                                              std::max(1, int(options_.BurstMs)))));
    ArmPump(&next);
}

void TPtyLine::ArmPump(const Clock::time_point* due) {
    if (pumpFd_ < 0) {
        if (!due) {
            pump_.stop();
            return;
        }
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(*due - Clock::now()).count();
        pump_.start(static_cast<int>(wait <= 0 ? 0 : (wait + 999) / 1000));
        return;
    }
    itimerspec when{};
    if (due) {
        // steady_clock is CLOCK_MONOTONIC here; 0 would disarm, so at least 1 ns.
        const auto ns = std::max<std::int64_t>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(due->time_since_epoch()).count());
        when.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        when.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    ::timerfd_settime(pumpFd_, due ? TFD_TIMER_ABSTIME : 0, &when, nullptr);
}

bool TPtyLine::LinkReplaceable(const QString& path, QString& why, const QString& option) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        why = QStringLiteral("cannot look at %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (S_ISLNK(st.st_mode))
        return true;
    why = QStringLiteral("%1 %2: a %3 is there, not a symbolic link; it is left as it is")
              .arg(option, path, S_ISDIR(st.st_mode) ? QStringLiteral("folder")
                         : S_ISREG(st.st_mode) ? QStringLiteral("file")
                                               : QStringLiteral("special file"));
    return false;
}

void TPtyLine::UpdateLink() {
    if (options_.Link.isEmpty())
        return;
    // Only a link (or nothing) is replaced: a file that appeared at the name
    // since the start, after a hang-up for instance, is never renamed over.
    QString why;
    if (!LinkReplaceable(options_.Link, why, options_.LinkOption)) {
        std::fprintf(stderr, "kvsim: %s\n", qPrintable(why));
        return;
    }
    const QByteArray link = QFile::encodeName(options_.Link);
    const QByteArray tmp = link + ".tmp" + QByteArray::number(::getpid());
    struct stat st {};
    if (::lstat(tmp.constData(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(tmp.constData()); // our own, left by an earlier run of this process id
    if (::symlink(QFile::encodeName(path_).constData(), tmp.constData()) != 0) {
        std::fprintf(stderr, "kvsim: cannot link %s: %s\n", link.constData(), std::strerror(errno));
        return;
    }
    if (::rename(tmp.constData(), link.constData()) != 0) {
        std::fprintf(stderr, "kvsim: cannot link %s: %s\n", link.constData(), std::strerror(errno));
        ::unlink(tmp.constData());
    }
}

void TPtyLine::RemoveLink() {
    if (options_.Link.isEmpty())
        return;
    const QByteArray link = QFile::encodeName(options_.Link);
    char target[256] = {};
    const ssize_t n = ::readlink(link.constData(), target, sizeof target - 1);
    if (n > 0 && QString::fromLocal8Bit(target, static_cast<int>(n)) == path_)
        ::unlink(link.constData());
}

} // namespace kvsim
