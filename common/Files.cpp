#include "Files.h"

#include "IniFile.h"

#include <QFile>

#include <algorithm>
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

bool WriteToStream(const QString& path, const QByteArray& data, QString* error) {
    // Non-blocking: a pipe without a reader is an error, not a wait; WriteAll
    // waits for room where the reader is slow.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    int err = fd < 0 ? errno : 0;
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        err = EINVAL; // a regular file is written whole, never as a stream
    if (fd >= 0 && err == 0 && !WriteAll(fd, data.constData(), data.size(), err) && err == 0)
        err = EIO;
    if (fd >= 0)
        ::close(fd);
    if (err == 0)
        return true;
    if (error)
        *error = QStringLiteral("%1: %2").arg(path, Reason(err));
    return false;
}

QString CannotWrite(const QString& path, TWriteWay way) {
    const std::string name = Name(path);
    const auto because = [&](int err) { return QStringLiteral("%1: %2").arg(path, Reason(err)); };
    // Asked as the kernel would answer the write: a read-only file system
    // says so also to root.
    const auto writable = [](const std::string& p, int mode) {
        return ::faccessat(AT_FDCWD, p.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
    };
    std::string folder = name.substr(0, name.rfind('/') == std::string::npos ? 0 : name.rfind('/'));
    if (name.rfind('/') == 0)
        folder = "/";
    else if (folder.empty())
        folder = ".";
    struct stat st {};
    if (::stat(name.c_str(), &st) != 0) {
        if (errno != ENOENT)
            return because(errno);
        // A new file: its folder must take it.
        struct stat dir {};
        if (::stat(folder.c_str(), &dir) != 0)
            return because(errno);
        if (!S_ISDIR(dir.st_mode))
            return because(ENOTDIR);
        if (const int err = writable(folder, W_OK | X_OK))
            return because(err);
        return {};
    }
    if (S_ISDIR(st.st_mode))
        return because(EISDIR);
    if (way == TWriteWay::Stream && S_ISREG(st.st_mode))
        return because(EINVAL);
    if (way != TWriteWay::Whole && !S_ISREG(st.st_mode)) {
        // A device or a pipe: what it takes shows when it is written.
        if (const int err = writable(name, W_OK))
            return because(err);
        return {};
    }
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 is not a regular file").arg(path);
    // A file the user made read-only stays so, also for root.
    if ((st.st_mode & 0222) == 0)
        return because(EACCES);
    if (const int err = writable(name, W_OK))
        return because(err);
    if (way == TWriteWay::Whole) {
        if (IniFile::UntrustedLink(name))
            return QStringLiteral("%1 is a link of another user; not written").arg(path);
        // The new text takes the old one's place by a rename in the folder.
        if (const int err = writable(folder, W_OK | X_OK))
            return because(err);
    }
    return {};
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
    // Never O_TRUNC: what the file holds stays, whatever happens next. A
    // file this call creates is known as its own, so that a header the disk
    // refuses leaves no empty log behind.
    const QByteArray name = QFile::encodeName(path);
    constexpr int kFlags = O_RDWR | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool created = false;
    int fd = ::open(name.constData(), kFlags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(name.constData(), kFlags | O_CREAT | O_EXCL, 0644);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) // another writer made it just now
            fd = ::open(name.constData(), kFlags);
    }
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
    if (last != '\n' && !l->CutTornRow()) {
        if (error)
            *error = l->Error();
        return TOpen::Failed;
    }
    if (empty && !l->Append(header + '\n')) {
        if (error)
            *error = l->Error();
        if (created)
            (void)::unlink(name.constData());
        return TOpen::Failed;
    }
    l->rows_ = 0;
    log = std::move(l);
    return TOpen::Opened;
}

bool TCsvLog::CutTornRow() {
    // The log's last line ending ends its last whole row; what follows is a
    // row a crash cut short. A header without its ending gets one instead.
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error_ = QStringLiteral("%1: %2").arg(path_, Reason(errno));
        return false;
    }
    off_t end = st.st_size;
    char block[4096];
    while (end > 0) {
        const off_t from = std::max<off_t>(0, end - static_cast<off_t>(sizeof block));
        const ssize_t n = ::pread(fd_, block, static_cast<std::size_t>(end - from), from);
        if (n <= 0)
            break;
        for (ssize_t i = n; i-- > 0;)
            if (block[i] == '\n') {
                const off_t keep = from + i + 1;
                if (::ftruncate(fd_, keep) != 0) {
                    error_ = QStringLiteral("%1: %2").arg(path_, Reason(errno));
                    return false;
                }
                cut_ = st.st_size - keep;
                return true;
            }
        end = from;
    }
    return Append(QByteArray(1, '\n'));
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
