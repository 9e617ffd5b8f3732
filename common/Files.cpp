#include "Files.h"

#include "IniFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {

bool WriteAll(int fd, const char* data, qsizetype size, int& err) {
    err = 0;
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, static_cast<std::size_t>(size - done));
        if (n >= 0) {
            done += n;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // A descriptor shared with a parent that made it non-blocking.
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, -1) >= 0 || errno == EINTR)
                continue;
        }
        err = errno;
        return false;
    }
    return true;
}


namespace {

QString Reason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

std::string Name(const QString& path) { return QFile::encodeName(path).toStdString(); }

// A log longer than this first line is no log of ours.
constexpr qsizetype kMaxHeaderLine = 4096;

// Whether the open file's first line is the header (trailing CR allowed);
// `empty` when the file holds nothing yet, `last` its last byte.
TCsvLog::TOpen CheckHeader(int fd, const QString& path, const QByteArray& header, bool& empty, char& last,
                           QString* error) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, Reason(errno));
        return TCsvLog::TOpen::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        if (error)
            *error = QStringLiteral("%1 is not a regular file; not written").arg(path);
        return TCsvLog::TOpen::Refused;
    }
    empty = st.st_size == 0;
    last = '\n';
    if (empty)
        return TCsvLog::TOpen::Opened;
    QByteArray first(static_cast<qsizetype>(std::min<off_t>(st.st_size, kMaxHeaderLine)), '\0');
    const ssize_t n = ::pread(fd, first.data(), static_cast<std::size_t>(first.size()), 0);
    if (n < 0 || ::pread(fd, &last, 1, st.st_size - 1) != 1) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, Reason(errno));
        return TCsvLog::TOpen::Failed;
    }
    first.truncate(n);
    const qsizetype eol = first.indexOf('\n');
    QByteArray line = eol < 0 ? first : first.left(eol);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line == header)
        return TCsvLog::TOpen::Opened;
    if (error)
        *error = QStringLiteral("%1 exists and its first line is not this log's header; it is left as it is "
                                "(give a new file, or one written by kvctl watch)")
                     .arg(path);
    return TCsvLog::TOpen::Refused;
}

TCsvLog::TOpen Locked(int fd, const QString& path, QString* error) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return TCsvLog::TOpen::Opened;
    if (error)
        *error = QStringLiteral("%1 is being written by another program; it is left as it is").arg(path);
    return TCsvLog::TOpen::Refused;
}

} // namespace

bool WriteFileWhole(const QString& path, const QByteArray& data, QString* error) {
    int err = 0;
    if (kv::WriteWholeFile(Name(path), std::string_view(data.constData(), static_cast<std::size_t>(data.size())),
                           false, &err))
        return true;
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, Reason(err));
    return false;
}

QString WriteNewFile(const QString& stem, const QByteArray& data, QString* error) {
    const std::string_view text(data.constData(), static_cast<std::size_t>(data.size()));
    for (int i = 0; i < 1000; ++i) {
        const QString path = i == 0 ? stem + QStringLiteral(".kvs") : stem + QStringLiteral("-%1.kvs").arg(i);
        int err = 0;
        if (kv::WriteWholeFile(Name(path), text, true, &err))
            return path;
        if (err != EEXIST) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(path, Reason(err));
            return {};
        }
    }
    if (error)
        *error = QStringLiteral("%1.kvs: a thousand files of that name exist already").arg(stem);
    return {};
}

TCsvLog::TOpen TCsvLog::Check(const QString& path, const QByteArray& header, QString* error) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return TOpen::Opened;
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, Reason(errno));
        return TOpen::Failed;
    }
    bool empty = false;
    char last = 0;
    const TOpen r = CheckHeader(fd, path, header, empty, last, error);
    ::close(fd);
    return r;
}

TCsvLog::TOpen TCsvLog::Open(const QString& path, const QByteArray& header, std::unique_ptr<TCsvLog>& log,
                             QString* error) {
    // Never O_TRUNC: what the file holds stays, whatever happens next.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                          0644);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, Reason(errno));
        return TOpen::Failed;
    }
    bool empty = false;
    char last = '\n';
    TOpen r = Locked(fd, path, error);
    if (r == TOpen::Opened)
        r = CheckHeader(fd, path, header, empty, last, error);
    if (r != TOpen::Opened) {
        ::close(fd);
        return r;
    }
    ::fcntl(fd, F_SETFL, O_APPEND);
    std::unique_ptr<TCsvLog> l(new TCsvLog(fd, path));
    if ((empty && !l->Append(header + '\n')) || (last != '\n' && !l->Append(QByteArray(1, '\n')))) {
        if (error)
            *error = l->Error();
        return TOpen::Failed;
    }
    l->rows_ = 0;
    log = std::move(l);
    return TOpen::Opened;
}

TCsvLog::~TCsvLog() {
    // What was logged is on the disk when kvctl says it has ended.
    ::fdatasync(fd_);
    ::close(fd_);
}

bool TCsvLog::Append(const QByteArray& row) {
    if (!error_.isEmpty())
        return false;
    struct stat st {};
    const bool sized = ::fstat(fd_, &st) == 0;
    int err = 0;
    if (WriteAll(fd_, row.constData(), row.size(), err)) {
        ++rows_;
        return true;
    }
    // A row cut off by a full disk is taken out again: the log ends with
    // its last whole row.
    if (sized)
        (void)::ftruncate(fd_, st.st_size);
    error_ = QStringLiteral("%1: %2").arg(path_, Reason(err ? err : EIO));
    return false;
}

} // namespace kv
