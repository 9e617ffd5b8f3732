#include "MBPort.h"

QByteArray TMBPort::Read(qint64 size) {
    if (size <= 0)
        return {};
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 got = Read(bytes.data(), size);
    bytes.truncate(got > 0 ? got : 0);
    return bytes;
}
