#include "MBarGraphLayout.h"

#include "NumberPicture.h"
#include "Rounding.h"

#include <algorithm>
#include <cmath>

namespace mbg {

namespace {

int Round(double x) { return static_cast<int>(kv::RoundHalfEven(x)); }

// Showing one bar always hides the other one.
void ShowBar(Shape& shown, Shape& other, const Box& box, const QColor& fill) {
    shown.box = box;
    shown.fill = fill;
    shown.visible = true;
    other.visible = false;
}

void HideBars(State& st) {
    st.minusBar.visible = false;
    st.plusBar.visible = false;
}

void SignedHorizontal(State& st, const Params& p, double v, bool redraw) {
    const int L = 1;
    const int C = Round((p.width - 1) / 2.0);
    const int P = C + 3;
    const int R = p.width - 1;
    const int top = 1;
    const int height = p.height - 2;
    if (redraw && v < 0) {
        const int left = C + Round((C - L) * v);
        ShowBar(st.minusBar, st.plusBar, {left, top, C - left, height},
                BlendColor(p.minusAt0, p.minusAt1, -v));
    }
    if (redraw && v > 0)
        ShowBar(st.plusBar, st.minusBar, {P, top, Round((R - P) * v), height},
                BlendColor(p.plusAt0, p.plusAt1, v));
    if (v == 0)
        HideBars(st);
    st.zeroMark.box = {C + 1, top, P - C - 2, height};
    st.zeroMark.visible = true;
}

void SignedVertical(State& st, const Params& p, double v, bool redraw) {
    const int T = 1;
    const int C = Round((p.height - 1) / 2.0);
    const int M = C + 3;
    const int B = p.height - 1;
    const int left = 1;
    const int width = p.width - 2;
    if (redraw && v < 0)
        ShowBar(st.minusBar, st.plusBar, {left, M, width, Round((M - B) * v)},
                BlendColor(p.minusAt0, p.minusAt1, -v));
    if (redraw && v > 0)
        ShowBar(st.plusBar, st.minusBar,
                {left, T + Round((1 - v) * (C - T)), width, Round((C - T) * v)},
                BlendColor(p.plusAt0, p.plusAt1, v));
    if (v == 0)
        HideBars(st);
    st.zeroMark.box = {left, C + 1, width, M - C - 2};
    st.zeroMark.visible = true;
}

void UnsignedHorizontal(State& st, const Params& p, double v, bool redraw) {
    const int L = 1;
    const int R = p.width - 1;
    st.zeroMark.visible = false;
    if (redraw && v < 0)
        HideBars(st);
    if (redraw && v >= 0)
        ShowBar(st.plusBar, st.minusBar, {L, 1, Round((R - L) * v), p.height - 2},
                BlendColor(p.plusAt0, p.plusAt1, v));
}

void UnsignedVertical(State& st, const Params& p, double v, bool redraw) {
    const int T = 1;
    const int B = p.height - 1;
    st.zeroMark.visible = false;
    if (redraw && v <= 0)
        HideBars(st);
    if (redraw && v > 0)
        ShowBar(st.plusBar, st.minusBar,
                {1, T + Round((1 - v) * (B - T)), p.width - 2, Round((B - T) * v)},
                BlendColor(p.plusAt0, p.plusAt1, v));
}

// Places the percentage text beside or inside the plus bar. Only a new text
// moves the label, so a value that keeps its percentage keeps the label still.
bool TextStep(State& st, const Params& p, const Measure& measure) {
    const QString text = PercentText(p.value, p.decimals);
    if (text == st.label.text)
        return false;
    Label& lb = st.label;
    lb.text = text;
    lb.size = measure ? measure(text) : QSize();
    const int w = lb.size.width();
    const int h = lb.size.height();
    const Box& bar = st.plusBar.box;
    const int X = bar.left;
    const int W = bar.width;
    TMBGTextPosition pos = p.textPosition;
    if (pos == tpAuto) {
        if (W < w + 4)
            st.autoInside = false;
        if (W > w + 8)
            st.autoInside = true;
        pos = st.autoInside ? tpInside : tpOutside;
    }
    switch (pos) {
    case tpInside: lb.left = X + W - 2 - w; break;
    case tpOutside: lb.left = X + W + 2; break;
    case tpFix: lb.left = p.textLeft; break;
    case tpCentre: lb.left = Round((p.width - 1 - 1) / 2.0) + X - Round(w / 2.0); break;
    case tpAuto: break; // resolved above
    }
    lb.top = pos == tpFix ? p.textTop : bar.top + Round((bar.height - h) / 2.0);
    lb.color = p.inverseText ? InverseColor(st.plusBar.fill) : QColor(Qt::black);
    return true;
}

} // namespace

double DrawingValue(double value) {
    if (std::isnan(value))
        return 0.0;
    return std::clamp(value, -1.0, 1.0);
}

QColor BlendColor(const QColor& c0, const QColor& c1, double x) {
    if (!(x > 0)) // also a value that is not a number
        x = 0;
    if (x > 1)
        x = 1;
    auto mix = [x](int k0, int k1) { return std::clamp(k0 + Round((k1 - k0) * x), 0, 255); };
    return QColor(mix(c0.red(), c1.red()), mix(c0.green(), c1.green()),
                  mix(c0.blue(), c1.blue()));
}

QColor InverseColor(const QColor& c) {
    return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue());
}

const char* DecimalsPattern(int decimals) {
    static const char* const patterns[] = {"0", "0.0", "0.00", "0.000", "0.0000"};
    return patterns[std::clamp(decimals, 0, 4)];
}

QString PercentText(double value, int decimals) {
    return QString::fromStdString(kv::FormatPicture(value * 100.0, DecimalsPattern(decimals))) +
           QLatin1Char('%');
}

bool NeedsRedraw(const State& st, double drawingValue, bool force) {
    return force || drawingValue != st.lastDrawn || st.firstLayout;
}

bool Layout(State& st, const Params& p, bool force, const Measure& measure) {
    const double v = DrawingValue(p.value);
    const bool redraw = NeedsRedraw(st, v, force);
    bool newText = false;
    if (p.mode == modeSigned) {
        if (p.orientation == orientationHorizontal)
            SignedHorizontal(st, p, v, redraw);
        else
            SignedVertical(st, p, v, redraw);
    } else if (p.orientation == orientationHorizontal) {
        UnsignedHorizontal(st, p, v, redraw);
        if (p.showText)
            newText = TextStep(st, p, measure);
    } else {
        UnsignedVertical(st, p, v, redraw);
    }
    st.label.visible = p.showText;
    st.firstLayout = false;
    st.lastDrawn = v;
    return newText;
}

} // namespace mbg
