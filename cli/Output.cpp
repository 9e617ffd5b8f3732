#include "Output.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace kvctl {

void ReserveStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open() takes the lowest free descriptor, which is this one.
        const int got = ::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
        if (got >= 0 && got != fd) {
            ::dup2(got, fd);
            ::close(got);
        }
    }
}

bool TStream::Write(const QByteArray& bytes) {
    if (err_ != 0)
        return false;
    int err = 0;
    if (WriteAll(fd_, bytes.constData(), bytes.size(), err))
        return true;
    err_ = err ? err : EIO;
    return false;
}

QString TStream::FailureText() const {
    return QStringLiteral("%1: %2").arg(name_, QString::fromLocal8Bit(std::strerror(err_)));
}

} // namespace kvctl
