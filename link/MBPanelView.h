#pragma once
// The texts and the speed graph of the link panel, as plain functions and
// small value classes: TMB's display routines only copy their results onto the
// labels and images, so every text and pixel can be checked without a window.
#include <QColor>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace mbpanel {

// The panel's colour words (red in the low byte, as the component stores them).
QColor ColorFromWord(std::uint32_t word);
inline const QColor kLampLit = ColorFromWord(0x7CF9);     // lit lamp, slave error
inline const QColor kRed = ColorFromWord(0xFF);           // time-out, failed open
inline const QColor kGreen = ColorFromWord(0x8000);       // open port, graph maximum
inline const QColor kGraphFrame = ColorFromWord(0x808080);

// "# ### ##0" of a line rate followed by " bits / second".
QString RateText(std::uint32_t rate);

// A frame counter: "# ### ### ##0", a blank, and the mode's unit (" F" ...).
QString CounterText(std::uint64_t count, const QString& unit);

// Data bytes of a frame: plain decimal, or ">1k" above 999.
QString DataCountText(std::int64_t count);

// A speed value: plain decimal up to 999, above that thousands with one
// decimal (the locale's separator) and "k".
QString SpeedValueText(std::int64_t v);

// The speed line: "12 frames / sec [0-15]", or "[12]" when lowest = highest.
QString SpeedText(std::int64_t speed, const QString& unit, std::int64_t lowest,
                  std::int64_t highest);

// A port name as the narrow port list shows it: whole when it fits,
// otherwise its first folder ("/dev/"), an ellipsis, and as much of its end
// as fits, where names of adapters and ports differ (serial numbers,
// "-port0"). `fits` tells whether a text fits the list's width.
QString ShortPortName(const QString& name, const std::function<bool(const QString&)>& fits);

// "n/max" of the try display.
QString TryText(int n, int max);

// The current request line and the history of earlier lines. A line counts
// the repeats of one address/command pair; a different pair pushes the line
// into the history, which keeps its last 40 characters.
class TMBRequestLine {
public:
    static constexpr int kHistoryLength = 40;
    static constexpr int kMaxCount = 1000;

    void Show(int address, int command);
    void Push();
    void Clear(int address, int command);
    // The close sequence: the line goes into the history and is emptied.
    void Close(int address, int command);

    const QString& Current() const { return m_current; }
    const QString& History() const { return m_history; }
    int Count() const { return m_count; }

private:
    int m_address = -1;
    int m_command = -1;
    int m_count = 0;
    QString m_current;
    QString m_history;
};

// The speed samples of the last 84 seconds and their drawing.
class TMBSpeedGraph {
public:
    static constexpr int kSamples = 100;
    static constexpr int kWidth = 86;
    static constexpr int kHeight = 19;

    TMBSpeedGraph() { Reset(); }
    // Every sample := -1 (no value).
    void Reset();
    // Shifts the samples left by one and stores the newest at the end.
    void Append(std::int64_t speed, int width = kWidth);
    std::int64_t Sample(int i) const { return m_samples[static_cast<std::size_t>(i)]; }

    // The empty graph: button face inside a grey frame.
    static void Clear(QImage& img, const QColor& face);
    // Clears the image and draws the samples scaled to speedMax: zero speed on
    // a red bottom line, the maximum on a green top line.
    void Draw(QImage& img, std::int64_t speedMax, const QColor& face) const;

private:
    std::array<std::int64_t, kSamples> m_samples{};
};

} // namespace mbpanel
