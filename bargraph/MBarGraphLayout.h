#pragma once
// The bar graph's geometry as plain functions: what the minus bar, the plus
// bar, the zero mark and the text label look like after a layout, computed from
// the control's size and properties. The widget only copies the result onto
// its children, so every pixel of the picture can be checked with numbers.
#include <QColor>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>

enum TMBGOrientation { orientationHorizontal, orientationVertical };
enum TMBGMode { modeSigned, modeUnsigned };
enum TMBGTextPosition { tpInside, tpOutside, tpAuto, tpFix, tpCentre };

namespace mbg {

// Left, top, width, height in the control's own pixels.
struct Box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Box&, const Box&) = default;
};

// One rectangle child: place, fill and whether it is shown.
struct Shape {
    Box box;
    QColor fill = Qt::white;
    bool visible = false;
};

// The text label: its text, top-left corner, measured size and text colour.
struct Label {
    QString text = QStringLiteral("0%");
    int left = 0;
    int top = 0;
    QSize size;
    QColor color = Qt::black;
    bool visible = true;
};

// Everything a layout reads besides the state it changes.
struct Params {
    int width = 105;
    int height = 17;
    TMBGOrientation orientation = orientationHorizontal;
    TMBGMode mode = modeUnsigned;
    double value = 0.5; // the published value, not clamped (the text shows it)
    QColor minusAt0 = QColor(255, 255, 255);
    QColor minusAt1 = QColor(0, 0, 255);
    QColor plusAt0 = QColor(255, 255, 255);
    QColor plusAt1 = QColor(255, 0, 0);
    bool showText = true;
    bool inverseText = false;
    TMBGTextPosition textPosition = tpAuto;
    int textLeft = 0;
    int textTop = 0;
    int decimals = 0;
};

// What a layout changes and what later layouts depend on.
struct State {
    Shape minusBar;
    Shape plusBar;
    Shape zeroMark;
    Label label;
    double lastDrawn = 0.0;
    bool firstLayout = true;
    bool autoInside = false; // tpAuto's side; starts outside
};

// Measures a text in the label's font: pixel width and height.
using Measure = std::function<QSize(const QString&)>;

// The value as drawn: clamped to -1 .. 1 (a value that is not a number draws
// as 0, so a bad reading never leaves a half-drawn bar behind).
double DrawingValue(double value);

// The colour between c0 and c1 at fraction x (clamped to 0 .. 1), each channel
// k0 + round((k1 - k0) * x) with ties to even.
QColor BlendColor(const QColor& c0, const QColor& c1, double x);

// Each channel replaced by 255 minus itself.
QColor InverseColor(const QColor& c);

// The number pattern of a count of decimals ("0", "0.0" ... "0.0000").
const char* DecimalsPattern(int decimals);

// The percentage text of a value: value * 100 in the pattern, then "%".
QString PercentText(double value, int decimals);

// True when the layout must redraw the bars.
bool NeedsRedraw(const State& st, double drawingValue, bool force);

// The whole layout: bars, zero mark and (unsigned horizontal) the text step.
// Returns true when the label got a new text (the widget then copies its font
// onto the label before showing it).
bool Layout(State& st, const Params& p, bool force, const Measure& measure);

} // namespace mbg
