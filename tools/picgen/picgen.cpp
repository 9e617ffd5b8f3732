// kv_picgen: draws the window's pictures (wiring sketches, the switch
// schematic, the calibration-OK mark, the Next/Back glyphs) and writes them as
// JPEG files with libjpeg. The build does not run it; after changing a
// drawing, run it by hand from the source root and commit the .jpg files:
//
//   cmake --build build/dev --target kv_picgen
//   QT_QPA_PLATFORM=offscreen build/dev/tools/picgen/kv_picgen app/pictures
//
// Names and sizes come from app/Pictures.h (kv::pictures::kAll), the places of
// the FET page's buttons and marks from the same header, so the drawn contacts
// lie exactly under the marks the window puts over them.
//
// Terminal numbering of the transmitter as the sketches show it:
//   input  1 excitation current out, 2 sense + (mV +), 3 sense - (mV -),
//          4 current return;
//   output 5 current out, 6 voltage out, 7 common (0 V).

#include "Pictures.h"

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include <jpeglib.h>

namespace {

const QColor kInk(0, 0, 0);
const QColor kPaper(255, 255, 255);
const QColor kButtonFace(240, 240, 240);
const QColor kHint(110, 110, 110);
const QString kFontFamily = QStringLiteral("Liberation Sans");

// ---------------------------------------------------------------- JPEG out --

bool WriteJpeg(const QImage& source, const std::string& path, int quality)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    // A tool run by hand: libjpeg's default error handler (message and exit)
    // is what we want, so no longjmp is involved here.
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(image.width());
    cinfo.image_height = static_cast<JDIMENSION>(image.height());
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    // No chroma subsampling: thin black lines and small glyphs stay crisp.
    for (int i = 0; i < cinfo.num_components; ++i) {
        cinfo.comp_info[i].h_samp_factor = 1;
        cinfo.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.constScanLine(static_cast<int>(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

// ------------------------------------------------------------ drawing kit --

QFont Font(int pixels, bool bold = false)
{
    QFont f(kFontFamily);
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

// The two ends of a contact gap (a mark's place), where the wires attach.
QPointF EndA(const QRect& gap)
{
    const QRectF g(gap);
    return g.width() > g.height() ? QPointF(g.left(), g.center().y()) : QPointF(g.center().x(), g.top());
}
QPointF EndB(const QRect& gap)
{
    const QRectF g(gap);
    return g.width() > g.height() ? QPointF(g.right(), g.center().y()) : QPointF(g.center().x(), g.bottom());
}

struct Canvas {
    QImage image;
    QPainter p;

    Canvas(int w, int h, QColor background)
        : image(w, h, QImage::Format_RGB32)
    {
        image.fill(background);
        p.begin(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        Pen(2);
    }
    ~Canvas() { p.end(); }

    void Pen(qreal width, QColor c = kInk)
    {
        QPen pen(c, width);
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
    }

    // A wire through the given points, drawn orthogonally as given.
    void Wire(std::initializer_list<QPointF> points, qreal width = 2)
    {
        Pen(width);
        QPolygonF line;
        for (const QPointF& pt : points)
            line << pt;
        p.drawPolyline(line);
    }

    void Dot(QPointF c, qreal r = 3.5)
    {
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawEllipse(c, r, r);
        p.setBrush(Qt::NoBrush);
    }

    void Text(const QRectF& r, const QString& s, int pixels, bool bold = false,
              int flags = Qt::AlignCenter, QColor c = kInk)
    {
        p.setFont(Font(pixels, bold));
        p.setPen(c);
        p.drawText(r, flags | Qt::TextWordWrap, s);
    }

    // A screw terminal: a circle with a slot, as seen from above.
    void Screw(QPointF c, qreal r = 8)
    {
        Pen(1.6);
        p.setBrush(kPaper);
        p.drawEllipse(c, r, r);
        p.drawLine(c + QPointF(-r * 0.62, r * 0.62), c + QPointF(r * 0.62, -r * 0.62));
        p.setBrush(Qt::NoBrush);
    }

    // IEC resistor: a rectangle between a and b (horizontal or vertical),
    // leads drawn from the ends to the body.
    void Resistor(QPointF a, QPointF b, qreal length, qreal thickness)
    {
        const bool horizontal = qFuzzyCompare(a.y(), b.y());
        const QPointF mid = (a + b) / 2;
        QRectF body = horizontal
            ? QRectF(mid.x() - length / 2, mid.y() - thickness / 2, length, thickness)
            : QRectF(mid.x() - thickness / 2, mid.y() - length / 2, thickness, length);
        if (horizontal) {
            Wire({a, QPointF(body.left(), a.y())});
            Wire({QPointF(body.right(), b.y()), b});
        } else {
            Wire({a, QPointF(a.x(), body.top())});
            Wire({QPointF(b.x(), body.bottom()), b});
        }
        Pen(2);
        p.setBrush(kPaper);
        p.drawRect(body);
        p.setBrush(Qt::NoBrush);
    }

    // An open contact: two small rings at the ends of `gap` (a mark's place).
    // The window's black bar closes it when the device reports it closed.
    void Contact(const QRect& gap)
    {
        Pen(1.6);
        p.setBrush(kPaper);
        p.drawEllipse(EndA(gap), 2.6, 2.6);
        p.drawEllipse(EndB(gap), 2.6, 2.6);
        p.setBrush(Qt::NoBrush);
    }
};

// ----------------------------------------------------- input wiring A to J --

// Terminal x positions of the input block, and the y of the screw centres.
constexpr qreal kTermX[5] = {0, 85, 145, 205, 265};
constexpr qreal kTermY = 98;
constexpr qreal kTermBottom = kTermY + 8;

void DrawInputBlock(Canvas& c, bool millivolt)
{
    c.Pen(2);
    c.p.drawRect(QRectF(20, 14, 310, 116));
    c.Text(QRectF(30, 20, 150, 20), QStringLiteral("KV7730"), 15, true, Qt::AlignLeft | Qt::AlignVCenter);
    c.Text(QRectF(170, 20, 150, 20), QStringLiteral("input terminals"), 13, false,
           Qt::AlignRight | Qt::AlignVCenter);
    c.Pen(1.2);
    c.p.drawRect(QRectF(58, 48, 234, 66));
    for (int t = 1; t <= 4; ++t) {
        c.Text(QRectF(kTermX[t] - 15, 52, 30, 20), QString::number(t), 16, true);
        c.Screw(QPointF(kTermX[t], kTermY));
    }
    if (millivolt) {
        c.Text(QRectF(kTermX[2] - 30, 52, 22, 20), QStringLiteral("+"), 18, true);
        c.Text(QRectF(kTermX[3] + 8, 52, 22, 20), QStringLiteral("\u2212"), 18, true);
    }
}

// The reference element between two wire ends at the same height.
enum class Element { Short, R500, R5k, Source };

void DrawElement(Canvas& c, Element e, QPointF a, QPointF b, const QString& valueText)
{
    const qreal mid = (a.x() + b.x()) / 2;
    switch (e) {
    case Element::Short:
        c.Wire({a, b}, 3);
        c.Text(QRectF(mid - 90, a.y() + 6, 180, 18), QStringLiteral("wire link (0 \u03a9)"), 13);
        break;
    case Element::R500:
    case Element::R5k:
        c.Resistor(a, b, 64, 20);
        c.Text(QRectF(mid - 32, a.y() - 10, 64, 20), QStringLiteral("R"), 14, true);
        c.Text(QRectF(mid - 90, a.y() + 12, 180, 20), valueText, 14, true);
        break;
    case Element::Source:
        break;
    }
}

void DrawNote(Canvas& c, const QString& text)
{
    c.Text(QRectF(14, 292, 322, 56), text, 13, false, Qt::AlignHCenter | Qt::AlignTop);
}

// Both ends of a 4-wire connection: 1+2 to one end, 3+4 to the other.
void FourWire(Canvas& c, Element e, const QString& value)
{
    const qreal join = 180, row = 245;
    c.Wire({{kTermX[1], kTermBottom}, {kTermX[1], join}, {kTermX[2], join}, {kTermX[2], kTermBottom}});
    c.Wire({{kTermX[3], kTermBottom}, {kTermX[3], join}, {kTermX[4], join}, {kTermX[4], kTermBottom}});
    const qreal ax = (kTermX[1] + kTermX[2]) / 2, bx = (kTermX[3] + kTermX[4]) / 2;
    c.Wire({{ax, join}, {ax, row}});
    c.Wire({{bx, join}, {bx, row}});
    c.Dot({ax, join});
    c.Dot({bx, join});
    DrawElement(c, e, {ax, row}, {bx, row}, value);
}

// 3-wire: 1 to one end, 3+4 to the other; 2 stays free.
void ThreeWire(Canvas& c, Element e, const QString& value)
{
    const qreal join = 180, row = 245;
    c.Wire({{kTermX[3], kTermBottom}, {kTermX[3], join}, {kTermX[4], join}, {kTermX[4], kTermBottom}});
    const qreal bx = (kTermX[3] + kTermX[4]) / 2;
    c.Wire({{bx, join}, {bx, row}});
    c.Dot({bx, join});
    c.Wire({{kTermX[1], kTermBottom}, {kTermX[1], row}});
    DrawElement(c, e, {kTermX[1], row}, {bx, row}, value);
    c.Text(QRectF(kTermX[2] - 25, kTermBottom + 6, 50, 18), QStringLiteral("free"), 12, false,
           Qt::AlignCenter, kHint);
}

// 2-wire: 1 to one end, 4 to the other; 2 and 3 stay free.
void TwoWire(Canvas& c, Element e, const QString& value)
{
    const qreal row = 245;
    c.Wire({{kTermX[1], kTermBottom}, {kTermX[1], row}});
    c.Wire({{kTermX[4], kTermBottom}, {kTermX[4], row}});
    DrawElement(c, e, {kTermX[1], row}, {kTermX[4], row}, value);
    for (int t : {2, 3})
        c.Text(QRectF(kTermX[t] - 25, kTermBottom + 6, 50, 18), QStringLiteral("free"), 12, false,
               Qt::AlignCenter, kHint);
}

// The offsets are read with nothing connected: every terminal open.
void OpenInput(Canvas& c)
{
    for (int t = 1; t <= 4; ++t)
        c.Text(QRectF(kTermX[t] - 25, kTermBottom + 6, 50, 18), QStringLiteral("open"), 12, false,
               Qt::AlignCenter, kHint);
    c.Text(QRectF(40, 190, 270, 40), QStringLiteral("nothing connected"), 16, true);
}

void Millivolt(Canvas& c, bool source)
{
    for (int t : {1, 4})
        c.Text(QRectF(kTermX[t] - 25, kTermBottom + 6, 50, 18), QStringLiteral("free"), 12, false,
               Qt::AlignCenter, kHint);
    if (!source) {
        const qreal row = 215;
        c.Wire({{kTermX[2], kTermBottom}, {kTermX[2], row}, {kTermX[3], row}, {kTermX[3], kTermBottom}}, 2);
        c.Wire({{kTermX[2], row}, {kTermX[3], row}}, 3);
        c.Text(QRectF(75, row + 8, 200, 18), QStringLiteral("wire link (0 mV)"), 13);
        return;
    }
    // A reference voltage source, + at the top.
    const QPointF s(175, 226);
    const qreal r = 28;
    c.Wire({{kTermX[2], kTermBottom}, {kTermX[2], 160}, {s.x(), 160}, {s.x(), s.y() - r}});
    c.Wire({{kTermX[3], kTermBottom}, {kTermX[3], 140}, {250, 140}, {250, 278}, {s.x(), 278},
            {s.x(), s.y() + r}});
    c.Pen(2);
    c.p.drawEllipse(s, r, r);
    c.p.drawLine(s + QPointF(0, -r * 0.55), s + QPointF(0, r * 0.55));  // the source's own bar
    c.Text(QRectF(s.x() - 26, s.y() - r + 1, 22, 20), QStringLiteral("+"), 17, true);
    c.Text(QRectF(s.x() - 26, s.y() + r - 22, 22, 20), QStringLiteral("\u2212"), 17, true);
    c.Text(QRectF(30, s.y() - 22, 110, 22), QStringLiteral("Ucal"), 15, true, Qt::AlignRight | Qt::AlignVCenter);
    c.Text(QRectF(30, s.y(), 110, 22), QStringLiteral("125 mV"), 14, true, Qt::AlignRight | Qt::AlignVCenter);
}

QImage InputWiring(char letter)
{
    Canvas c(350, 351, kPaper);
    const bool mv = letter == 'I' || letter == 'J';
    DrawInputBlock(c, mv);
    const QString r500 = QStringLiteral("500 \u03a9");
    const QString r5k = QStringLiteral("5 k\u03a9");
    switch (letter) {
    case 'A':
        OpenInput(c);
        DrawNote(c, QStringLiteral("4-wire offset: open input.\nNothing connected to terminals 1, 2, 3 and 4:\n"
                                   "no current flows, both channels read their zero."));
        break;
    case 'B':
        OpenInput(c);
        DrawNote(c, QStringLiteral("3-wire offset: open input.\nNothing connected to terminals 1, 2, 3 and 4:\n"
                                   "no current flows, both channels read their zero."));
        break;
    case 'C':
        ThreeWire(c, Element::R500, r500);
        DrawNote(c, QStringLiteral("3-wire: reference resistor R = 500 \u03a9,\none end to 1, the other end to 3 and 4.\n"
                                   "Enter its exact value at step 7."));
        break;
    case 'D':
        ThreeWire(c, Element::R5k, r5k);
        DrawNote(c, QStringLiteral("3-wire: reference resistor R = 5 k\u03a9,\none end to 1, the other end to 3 and 4.\n"
                                   "Enter its exact value at step 11."));
        break;
    case 'E':
        TwoWire(c, Element::R500, r500);
        DrawNote(c, QStringLiteral("2-wire: the 500 \u03a9 resistor R of step 7,\none end to 1, the other end to 4."));
        break;
    case 'F':
        TwoWire(c, Element::R5k, r5k);
        DrawNote(c, QStringLiteral("2-wire: the 5 k\u03a9 resistor R of step 11,\none end to 1, the other end to 4."));
        break;
    case 'G':
        FourWire(c, Element::R500, r500);
        DrawNote(c, QStringLiteral("4-wire: the 500 \u03a9 resistor R of step 7,\none end to 1 and 2, the other end to 3 and 4."));
        break;
    case 'H':
        FourWire(c, Element::R5k, r5k);
        DrawNote(c, QStringLiteral("4-wire: the 5 k\u03a9 resistor R of step 11,\none end to 1 and 2, the other end to 3 and 4."));
        break;
    case 'I':
        Millivolt(c, false);
        DrawNote(c, QStringLiteral("Thermocouple input short circuit:\njoin terminals 2 (+) and 3 (\u2212)."));
        break;
    case 'J':
        Millivolt(c, true);
        DrawNote(c, QStringLiteral("Reference voltage Ucal (about 125 mV):\n+ to terminal 2, \u2212 to terminal 3.\n"
                                   "Enter its exact value in \u201cValue of Ucal.\u201d"));
        break;
    default:
        break;
    }
    return c.image;
}

// ------------------------------------------------------ output wiring K, L --

QImage OutputWiring(bool current)
{
    Canvas c(460, 180, kPaper);
    c.Pen(2);
    c.p.drawRect(QRectF(12, 12, 176, 156));
    c.Text(QRectF(22, 18, 150, 20), QStringLiteral("KV7730"), 15, true, Qt::AlignLeft | Qt::AlignVCenter);
    c.Text(QRectF(22, 38, 150, 18), QStringLiteral("output terminals"), 13, false, Qt::AlignLeft | Qt::AlignVCenter);
    c.Pen(1.2);
    c.p.drawRect(QRectF(40, 62, 142, 100));
    const qreal sx = 165;
    const qreal ty[3] = {78, 112, 146};
    const char* names[3] = {"I out", "U out", "0 V"};
    for (int i = 0; i < 3; ++i) {
        c.Text(QRectF(46, ty[i] - 10, 22, 20), QString::number(5 + i), 16, true);
        c.Text(QRectF(72, ty[i] - 10, 80, 20), QString::fromLatin1(names[i]), 13, false,
               Qt::AlignLeft | Qt::AlignVCenter);
        c.Screw(QPointF(sx, ty[i]));
    }
    // The meter, its + lead upper left, - lead lower left.
    const QPointF m(316, 74);
    const qreal r = 32;
    const QPointF plus(m.x() - r * 0.866, m.y() - r * 0.5), minus(m.x() - r * 0.866, m.y() + r * 0.5);
    const qreal from = sx + 8;
    const qreal hot = current ? ty[0] : ty[1];
    const qreal jogPlus = 232, jogMinus = 246;
    c.Wire({{from, hot}, {jogPlus, hot}, {jogPlus, plus.y()}, plus});
    c.Wire({{from, ty[2]}, {jogMinus, ty[2]}, {jogMinus, minus.y()}, minus});
    c.Pen(2.4);
    c.p.drawEllipse(m, r, r);
    c.Text(QRectF(m.x() - r, m.y() - 14, 2 * r, 28), current ? QStringLiteral("mA") : QStringLiteral("V"), 22, true);
    c.Text(QRectF(plus.x() - 24, plus.y() - 22, 18, 18), QStringLiteral("+"), 17, true);
    c.Text(QRectF(minus.x() - 24, minus.y() + 3, 18, 18), QStringLiteral("\u2212"), 17, true);
    c.Text(QRectF(196, (current ? ty[1] : ty[0]) - 9, 40, 18), QStringLiteral("free"), 12, false,
           Qt::AlignLeft | Qt::AlignVCenter, kHint);
    c.Text(QRectF(262, 118, 194, 58),
           current ? QStringLiteral("Milliammeter, mA range:\n+ to terminal 5,\n\u2212 to terminal 7.")
                   : QStringLiteral("Voltmeter, V range:\n+ to terminal 6,\n\u2212 to terminal 7."),
           13, false, Qt::AlignHCenter | Qt::AlignTop);
    c.Text(QRectF(360, 48, 96, 60),
           current ? QStringLiteral("4 \u2026 20 mA") : QStringLiteral("2 \u2026 10 V"), 14, true);
    return c.image;
}

// ------------------------------------------------------- FET schematic ----

QRect Mark(const char* name)
{
    for (const auto& m : kv::pictures::kSchematicMarks)
        if (std::string(m.objectName) == name)
            return m.rect;
    std::fprintf(stderr, "kv_picgen: no mark %s\n", name);
    std::exit(1);
}

void CurrentSource(Canvas& c, QPointF centre, qreal r)
{
    c.Pen(2);
    c.p.drawEllipse(centre, r, r);
    // Arrow pointing down: the current flows towards the input.
    c.p.drawLine(centre + QPointF(0, -r * 0.6), centre + QPointF(0, r * 0.6));
    QPolygonF head;
    head << centre + QPointF(0, r * 0.7) << centre + QPointF(-r * 0.35, r * 0.15)
         << centre + QPointF(r * 0.35, r * 0.15);
    c.p.setBrush(kInk);
    c.p.drawPolygon(head);
    c.p.setBrush(Qt::NoBrush);
}

void Ground(Canvas& c, QPointF at)
{
    c.Pen(2);
    c.p.drawLine(at + QPointF(-12, 0), at + QPointF(12, 0));
    c.p.drawLine(at + QPointF(-7, 5), at + QPointF(7, 5));
    c.p.drawLine(at + QPointF(-2.5, 10), at + QPointF(2.5, 10));
}

QImage FetSchematic()
{
    Canvas c(593, 433, kPaper);
    const QRect i1 = Mark("Shape_I400uA1"), in = Mark("Shape_I400uAn"), i2 = Mark("Shape_I400uA2");
    const QRect kel = Mark("Shape_Kelvin"), keln = Mark("Shape_KelvinNeg"), pot = Mark("Shape_PotR");
    const QRect azn = Mark("Shape_Azn"), az = Mark("Shape_Az"), w3 = Mark("Shape_3W");
    const QRect altn = Mark("Shape_3WAltn"), alt = Mark("Shape_3WAlt");

    // Rows of the drawing (y) taken from the contacts.
    const qreal yRail = 18, yBus = 92;
    const qreal yCh0p = EndA(kel).y(), yCh0n = EndA(keln).y();
    const qreal yAlt = EndA(alt).y(), yT4 = EndB(altn).y() + 12;
    const qreal xTerm = 40;
    const qreal yTerm[5] = {0, yBus, yCh0p, yCh0n, yT4};

    // Input terminals.
    c.Text(QRectF(4, 52, 72, 18), QStringLiteral("Input"), 13, true, Qt::AlignLeft | Qt::AlignVCenter);
    for (int t = 1; t <= 4; ++t) {
        c.Text(QRectF(6, yTerm[t] - 10, 18, 20), QString::number(t), 16, true);
        c.Screw(QPointF(xTerm, yTerm[t]));
    }
    const qreal xt = xTerm + 8;

    // Excitation: two current sources from the supply rail, each through its
    // contact onto the bus that feeds terminal 1.
    const qreal xs1 = EndA(i1).x(), xs2 = EndA(in).x();
    c.Wire({{xs1, yRail}, {xs2, yRail}});
    c.Text(QRectF(xs1 - 70, yRail - 9, 62, 18), QStringLiteral("+V"), 13, true, Qt::AlignRight | Qt::AlignVCenter);
    for (qreal xs : {xs1, xs2}) {
        c.Wire({{xs, yRail}, {xs, 28}});
        c.Wire({{xs, 48}, {xs, xs == xs1 ? EndA(i1).y() : EndA(in).y()}});
        CurrentSource(c, QPointF(xs, 38), 10);
    }
    c.Text(QRectF(xs1 - 74, 30, 60, 16), QStringLiteral("400 \u00b5A"), 12, false, Qt::AlignRight | Qt::AlignVCenter);
    c.Text(QRectF(xs2 + 14, 30, 60, 16), QStringLiteral("40 \u00b5A"), 12, false, Qt::AlignLeft | Qt::AlignVCenter);
    c.Wire({EndB(i1), {xs1, yBus}});
    c.Wire({EndB(in), {xs2, yBus}, {xt, yBus}});
    c.Dot({xs1, yBus});

    // 3W: a 3-wire sensor has no sense wire at the terminal-1 end, so the
    // sense line is taken from terminal 1 inside.
    const qreal x3w = EndA(w3).x();
    c.Wire({{x3w, yBus}, EndA(w3)});
    c.Wire({EndB(w3), {x3w, yCh0p}});
    c.Dot({x3w, yBus});
    c.Dot({x3w, yCh0p});

    // ADC.
    const QRectF adc(492, 118, 90, 192);
    const qreal xCh1n = adc.center().x() + 16;
    c.Pen(2);
    c.p.drawRect(adc);
    c.Text(QRectF(adc.left(), adc.top() + 4, adc.width(), 20), QStringLiteral("ADC"), 15, true);
    c.Text(QRectF(adc.left() + 5, yCh0p - 9, 60, 18), QStringLiteral("CH0 +"), 12, false, Qt::AlignLeft | Qt::AlignVCenter);
    c.Text(QRectF(adc.left() + 5, yCh0n - 9, 60, 18), QStringLiteral("CH0 \u2212"), 12, false, Qt::AlignLeft | Qt::AlignVCenter);
    c.Text(QRectF(adc.left() + 5, yAlt - 9, 60, 18), QStringLiteral("CH1 +"), 12, false, Qt::AlignLeft | Qt::AlignVCenter);
    c.Text(QRectF(xCh1n - 30, adc.bottom() - 20, 60, 18), QStringLiteral("CH1 \u2212"), 12, false, Qt::AlignCenter);

    // CH0 +: terminal 2 through Kelvin, then AZ (normal position) to the ADC.
    c.Wire({{xt, yCh0p}, EndA(kel)});
    c.Wire({EndB(kel), EndA(azn)});
    c.Wire({EndB(azn), {adc.left(), yCh0p}});
    // CH0 -: terminal 3 through Kelvin negative.
    c.Wire({{xt, yCh0n}, EndA(keln)});
    c.Wire({EndB(keln), {adc.left(), yCh0n}});
    // AZ shorts the converter's CH0 input for the zero reading.
    const qreal xAz = EndA(az).x();
    c.Wire({{xAz, yCh0p}, EndA(az)});
    c.Wire({EndB(az), {xAz, yCh0n}});
    c.Dot({xAz, yCh0p});
    c.Dot({xAz, yCh0n});

    // Pot. Fix: the low sense line fixed to the current return, for inputs
    // without a sense wire of their own there (2-wire, potentiometer) and to
    // hold a floating thermocouple at a defined potential.
    const qreal xPot = EndA(pot).x();
    c.Wire({{xPot, yCh0n}, EndA(pot)});
    c.Wire({EndB(pot), {xPot, yT4}});
    c.Dot({xPot, yCh0n});
    c.Dot({xPot, yT4});

    // CH1 +: either the sense line (3W Alt) or the reference resistor (normal).
    const qreal xAltDrop = EndA(alt).x() - 30;
    const qreal xCh1 = EndA(altn).x();
    c.Wire({{xAltDrop, yCh0n}, {xAltDrop, yAlt}, EndA(alt)});
    c.Dot({xAltDrop, yCh0n});
    c.Wire({EndB(alt), {adc.left(), yAlt}});
    c.Wire({{xCh1, yAlt}, EndA(altn)});
    c.Dot({xCh1, yAlt});

    // Current return: terminal 4 to the reference resistor; the 4.5 kOhm part
    // is bridged in the 400 uA range, leaving 500 Ohm.
    const qreal xR = xCh1;
    c.Wire({{xt, yT4}, {xR, yT4}});
    c.Wire({EndB(altn), {xR, yT4}});
    c.Dot({xR, yT4});
    const qreal yMid = EndA(i2).y() - 10, yGnd = EndB(i2).y() + 10;
    c.Resistor({xR, yT4}, {xR, yMid}, 26, 12);
    c.Resistor({xR, yMid}, {xR, yGnd}, 26, 12);
    c.Text(QRectF(xR - 88, (yT4 + yMid) / 2 - 9, 80, 18), QStringLiteral("Rref 500 \u03a9"), 12, false,
           Qt::AlignRight | Qt::AlignVCenter);
    c.Text(QRectF(xR - 88, (yMid + yGnd) / 2 - 9, 80, 18), QStringLiteral("4.5 k\u03a9"), 12, false,
           Qt::AlignRight | Qt::AlignVCenter);
    const qreal xI2 = EndA(i2).x();
    c.Wire({{xR, yMid}, {xI2, yMid}, EndA(i2)});
    c.Wire({EndB(i2), {xI2, yGnd}});
    c.Dot({xR, yMid});
    c.Wire({{xR, yGnd}, {xCh1n, yGnd}, {xCh1n, adc.bottom()}});
    c.Dot({xI2, yGnd});
    Ground(c, {xCh1n, yGnd + 6});
    c.Wire({{xCh1n, yGnd}, {xCh1n, yGnd + 6}});

    // The second positions of the switches, which have no button of their own.
    const auto hint = [&c](const QRectF& r, const QString& text, int align) {
        c.Text(r, text, 11, false, align | Qt::AlignVCenter, kHint);
    };
    hint(QRectF(keln.left() - 20, keln.top() - 20, 60, 14), QStringLiteral("Kelvin neg."), Qt::AlignHCenter);
    hint(QRectF(azn.left() - 20, azn.top() - 20, 60, 14), QStringLiteral("AZ neg."), Qt::AlignHCenter);
    hint(QRectF(altn.right() + 8, altn.top() + 3, 64, 14), QStringLiteral("3W Alt neg."), Qt::AlignLeft);
    hint(QRectF(i2.right() + 8, i2.top() + 3, 60, 14), QStringLiteral("I 400 uA"), Qt::AlignLeft);

    // All contacts open; the window's black bars close them.
    for (const auto& m : kv::pictures::kSchematicMarks)
        c.Contact(m.rect);
    // The switch captions under the places of the buttons that cover them.
    for (const auto& b : kv::pictures::kSchematicButtons) {
        c.Pen(1, kHint);
        c.p.drawRect(QRectF(b.rect).adjusted(0.5, 0.5, -0.5, -0.5));
        static const std::map<std::string, QString> captions = {
            {"SpeedButton_3W", QStringLiteral("3W")},        {"SpeedButton_Az", QStringLiteral("AZ")},
            {"SpeedButton_Kelvin", QStringLiteral("Kelvin")}, {"SpeedButton_PotR", QStringLiteral("Pot. Fix")},
            {"SpeedButton_3WAlt", QStringLiteral("3W Alt")},  {"SpeedButton_I400uA", QStringLiteral("I 400 uA")},
        };
        c.Text(QRectF(b.rect), captions.at(b.objectName), 11, false, Qt::AlignCenter, kHint);
    }
    c.Text(QRectF(8, 404, 380, 26),
           QStringLiteral("Contacts drawn open; a black bar over a contact shows it closed."), 12, false,
           Qt::AlignLeft | Qt::AlignVCenter, kHint);
    return c.image;
}

// --------------------------------------------------- marks and glyphs ----

QImage CalibrationOk()
{
    Canvas c(32, 32, kButtonFace);
    c.p.setPen(Qt::NoPen);
    c.p.setBrush(QColor(30, 140, 50));
    c.p.drawEllipse(QPointF(16, 16), 14.5, 14.5);
    QPen tick(Qt::white, 3.6);
    tick.setCapStyle(Qt::RoundCap);
    tick.setJoinStyle(Qt::RoundJoin);
    c.p.setPen(tick);
    c.p.setBrush(Qt::NoBrush);
    QPolygonF v;
    v << QPointF(8.5, 16.5) << QPointF(13.5, 21.5) << QPointF(23.5, 10.5);
    c.p.drawPolyline(v);
    return c.image;
}

QImage Arrow(bool next)
{
    Canvas c(32, 32, kButtonFace);
    QPolygonF a;
    a << QPointF(4, 12) << QPointF(16, 12) << QPointF(16, 4) << QPointF(29, 16) << QPointF(16, 28)
      << QPointF(16, 20) << QPointF(4, 20);
    if (!next)
        for (QPointF& pt : a)
            pt.setX(32 - pt.x());
    QPen edge(QColor(15, 50, 110), 1.2);
    edge.setJoinStyle(Qt::MiterJoin);
    c.p.setPen(edge);
    c.p.setBrush(QColor(30, 90, 180));
    c.p.drawPolygon(a);
    return c.image;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kv_picgen <output folder, normally app/pictures>\n");
        return 2;
    }
    const std::string dir = argv[1];

    std::map<std::string, std::function<QImage()>> draw;
    const char* letters = "ABCDEFGHIJ";
    const char* names[] = {kv::pictures::WiringA, kv::pictures::WiringB, kv::pictures::WiringC,
                           kv::pictures::WiringD, kv::pictures::WiringE, kv::pictures::WiringF,
                           kv::pictures::WiringG, kv::pictures::WiringH, kv::pictures::WiringI,
                           kv::pictures::WiringJ};
    for (int i = 0; i < 10; ++i) {
        const char letter = letters[i];
        draw[names[i]] = [letter] { return InputWiring(letter); };
    }
    draw[kv::pictures::WiringK] = [] { return OutputWiring(true); };
    draw[kv::pictures::WiringL] = [] { return OutputWiring(false); };
    draw[kv::pictures::FetSchematic] = FetSchematic;
    draw[kv::pictures::CalibrationOK] = CalibrationOk;
    draw[kv::pictures::GlyphNext] = [] { return Arrow(true); };
    draw[kv::pictures::GlyphBack] = [] { return Arrow(false); };

    int failures = 0;
    for (const auto& pic : kv::pictures::kAll) {
        const auto it = draw.find(pic.name);
        if (it == draw.end()) {
            std::fprintf(stderr, "kv_picgen: no drawing for %s\n", pic.name);
            ++failures;
            continue;
        }
        const QImage image = it->second();
        if (image.width() != pic.width || image.height() != pic.height) {
            std::fprintf(stderr, "kv_picgen: %s drawn at the wrong size\n", pic.name);
            ++failures;
            continue;
        }
        const std::string path = dir + "/" + pic.name + ".jpg";
        // Small glyphs get the highest quality: artefacts show most there.
        if (!WriteJpeg(image, path, pic.width <= 64 ? 98 : 92)) {
            std::fprintf(stderr, "kv_picgen: cannot write %s\n", path.c_str());
            ++failures;
            continue;
        }
        std::printf("%s\n", path.c_str());
    }
    return failures == 0 ? 0 : 1;
}
