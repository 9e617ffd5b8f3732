#include "MBPort.h"

QByteArray TMBPort::Read(qint64 size) {
    if (size <= 0)
        return {};
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 got = Read(bytes.data(), size);
    bytes.truncate(got > 0 ? got : 0);
    return bytes;
}

QString MBFrameText(const TMBLineSettings& line) {
    const char parity = line.Parity == TMBParity::Even ? 'E' : line.Parity == TMBParity::Odd ? 'O' : 'N';
    return QStringLiteral("%1%2%3").arg(line.DataBits).arg(QLatin1Char(parity)).arg(line.StopBits);
}

QString MBLineSettingsProblem(const TMBLineSettings& line) {
    if (line.DataBits != 7 && line.DataBits != 8)
        return QStringLiteral("%1 data bits (7 or 8)").arg(line.DataBits);
    if (line.StopBits != 1 && line.StopBits != 2)
        return QStringLiteral("%1 stop bits (1 or 2)").arg(line.StopBits);
    if (line.Handshake == TMBHandshake::DtrDsr && !line.Dtr)
        return QStringLiteral("the DTR/DSR handshake with DTR inactive (the far end would never send)");
    if (line.Handshake == TMBHandshake::RtsCts && !line.Rts)
        return QStringLiteral("the RTS/CTS handshake with RTS inactive (the driver holds RTS itself)");
    return {};
}
