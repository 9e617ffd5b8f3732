#include "MBPanelView.h"

#include "NumberPicture.h"
#include "Rounding.h"

#include <algorithm>
#include <cstdlib>

namespace mbpanel {

namespace {

QString Picture(double v, const char* picture) {
    return QString::fromStdString(kv::FormatPicture(v, picture));
}

void SetPixel(QImage& img, int x, int y, const QColor& c) {
    if (x >= 0 && y >= 0 && x < img.width() && y < img.height())
        img.setPixelColor(x, y, c);
}

// A one-pixel line from (x0, y0) towards (x1, y1), the end point left out: the
// next point is set on its own, so each point is written once.
void Line(QImage& img, int x0, int y0, int x1, int y1, const QColor& c) {
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    while (x0 != x1 || y0 != y1) {
        SetPixel(img, x0, y0, c);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

} // namespace

QColor ColorFromWord(std::uint32_t word) {
    return QColor(static_cast<int>(word & 0xFF), static_cast<int>((word >> 8) & 0xFF),
                  static_cast<int>((word >> 16) & 0xFF));
}

QString ShortPortName(const QString& name, const std::function<bool(const QString&)>& fits) {
    if (fits(name))
        return name;
    const QChar ellipsis(0x2026);
    const qsizetype slash = name.indexOf(QLatin1Char('/'), 1);
    const QString head = name.left(slash > 0 && slash < 8 ? slash + 1 : 4);
    // The longest end that fits after the head.
    qsizetype lo = 0, hi = name.size() - head.size();
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (fits(head + ellipsis + name.right(mid)))
            lo = mid;
        else
            hi = mid - 1;
    }
    return head + ellipsis + name.right(lo);
}

QString RateText(std::uint32_t rate) {
    return Picture(rate, "# ### ##0") + QStringLiteral(" bits / second");
}

QString CounterText(std::uint64_t count, const QString& unit) {
    return Picture(static_cast<double>(count), "# ### ### ##0") + QLatin1Char(' ') + unit;
}

QString DataCountText(std::int64_t count) {
    return count > 999 ? QStringLiteral(">1k") : QString::number(count);
}

QString SpeedValueText(std::int64_t v) {
    if (v <= 999)
        return QString::number(v);
    return Picture(static_cast<double>(v) / 1000.0, "0.0") + QLatin1Char('k');
}

QString SpeedText(std::int64_t speed, const QString& unit, std::int64_t lowest,
                  std::int64_t highest) {
    QString s = SpeedValueText(speed) + unit + QStringLiteral(" [") + SpeedValueText(lowest);
    if (lowest != highest)
        s += QLatin1Char('-') + SpeedValueText(highest);
    return s + QLatin1Char(']');
}

QString TryText(int n, int max) { return QString::number(n) + QLatin1Char('/') + QString::number(max); }

void TMBRequestLine::Show(int address, int command) {
    if (address != m_address || command != m_command) {
        Push();
        m_address = address;
        m_command = command;
        m_count = 0;
    }
    if (m_count < kMaxCount)
        ++m_count;
    QString prefix;
    if (m_count >= kMaxCount)
        prefix = QStringLiteral(">999x");
    else if (m_count >= 2)
        prefix = QString::number(m_count) + QLatin1Char('x');
    m_current = prefix + QString::number(address) + QLatin1Char('.') + QString::number(command);
}

void TMBRequestLine::Push() {
    m_history = (m_history + QLatin1Char(' ') + m_current).right(kHistoryLength);
}

void TMBRequestLine::Clear(int address, int command) {
    m_history.clear();
    m_address = address;
    m_command = command;
    m_count = 0;
    m_current.clear();
}

void TMBRequestLine::Close(int address, int command) {
    Push();
    m_address = address;
    m_command = command;
    m_count = 0;
    m_current.clear();
}

void TMBSpeedGraph::Reset() { m_samples.fill(-1); }

void TMBSpeedGraph::Append(std::int64_t speed, int width) {
    const int n = std::clamp(width - 3, 0, kSamples - 1);
    for (int i = 0; i < n; ++i)
        m_samples[static_cast<std::size_t>(i)] = m_samples[static_cast<std::size_t>(i + 1)];
    m_samples[static_cast<std::size_t>(n)] = speed;
}

void TMBSpeedGraph::Clear(QImage& img, const QColor& face) {
    img.fill(face);
    const int w = img.width(), h = img.height();
    for (int x = 0; x < w; ++x) {
        SetPixel(img, x, 0, kGraphFrame);
        SetPixel(img, x, h - 1, kGraphFrame);
    }
    for (int y = 0; y < h; ++y) {
        SetPixel(img, 0, y, kGraphFrame);
        SetPixel(img, w - 1, y, kGraphFrame);
    }
}

void TMBSpeedGraph::Draw(QImage& img, std::int64_t speedMax, const QColor& face) const {
    Clear(img, face);
    const int n = std::clamp(img.width() - 3, 0, kSamples - 1);
    const int bottom = img.height() - 2;
    bool first = true;
    int prevY = bottom;
    for (int i = 0; i <= n; ++i) {
        const std::int64_t s = m_samples[static_cast<std::size_t>(i)];
        if (s < 0)
            continue;
        const double ratio = speedMax == 0 ? 0.0 : static_cast<double>(s) / static_cast<double>(speedMax);
        int y = bottom - static_cast<int>(std::clamp<std::int64_t>(
                             kv::RoundHalfEven((bottom - 1) * ratio), -1000000, 1000000));
        y = std::clamp(y, 1, std::max(1, bottom));
        if (first) {
            prevY = y;
            first = false;
        }
        int py = prevY;
        if (prevY == bottom)
            py = bottom - 1;
        else if (prevY == 1)
            py = 2;
        if (y != prevY)
            Line(img, i, py, i + 1, y, Qt::black);
        QColor c = Qt::black;
        if (y == bottom)
            c = kRed;
        else if (y == 1 && speedMax > 0)
            c = kGreen;
        SetPixel(img, i + 1, y, c);
        prevY = y;
    }
}

} // namespace mbpanel
