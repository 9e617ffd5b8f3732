#pragma once
// A small PDF writer for the calibration certificate: pages of text, lines
// and boxes in the viewer's standard sans and mono faces. The file names the
// faces instead of carrying fonts, so kvctl needs no font files, no font
// database and no graphics library: it runs on a production line's server
// with Qt Core alone.
//
// What it can show: Latin 1 with the Windows typographic marks (– — “ ” ‘ ’
// • … €) and U+0100..U+017F, so every Hungarian letter (ő ű Ő Ű) and the
// other Central European ones. Anything else is drawn as "?", and a text
// extractor reads back exactly what is drawn.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <map>
#include <vector>

namespace kv::pdf {

enum class TFace { Sans, SansBold, Mono, MonoBold };

struct TFont {
    TFace Face = TFace::Sans;
    double Size = 10; // points
};

// 0..255 each; Alpha 255 is opaque (fills and text only: strokes are opaque).
struct TColor {
    int R = 0, G = 0, B = 0, Alpha = 255;
};

// Whether `c` is drawn as itself (else as "?").
bool Shown(char32_t c);

// Pages of one size; coordinates from the top left in the caller's unit
// (`pointsPerUnit` points each), font sizes in points. Starts with page 1.
class TDocument {
public:
    TDocument(double width, double height, double pointsPerUnit = 1.0);

    void NewPage();
    int Pages() const { return int(pages_.size()); }

    // Advance width of a line of `s`, in the caller's unit.
    double Width(QStringView s, const TFont& font) const;
    // Distance between two lines of text, and from a line's top to its baseline.
    double LineHeight(const TFont& font) const;
    double Ascent(const TFont& font) const;
    // `s` broken into lines no wider than `width`: at its line feeds, at
    // blanks, and inside a word only when the word alone is wider.
    QStringList Wrap(QStringView s, const TFont& font, double width) const;
    // `s` cut to `width` with "…" at the end when it is wider.
    QString Elide(QStringView s, const TFont& font, double width) const;

    // One line of text from its baseline's left end.
    void Text(double x, double baseline, QStringView s, const TFont& font, TColor color = {});
    // One line of text centred on (cx, cy), turned `degrees` anticlockwise.
    void TurnedText(double cx, double cy, double degrees, QStringView s, const TFont& font, TColor color);
    void Line(double x1, double y1, double x2, double y2, double lineWidth, TColor color);
    void Box(double x, double y, double w, double h, double lineWidth, TColor stroke, TColor fill);

    // The whole file. `title` and `creator` go into its information.
    QByteArray Finish(const QString& title, const QString& creator) const;

private:
    void TextOperators(QStringView s, const TFont& font);
    QByteArray& Page() { return pages_.back(); }
    QByteArray Alpha(int alpha);
    double X(double x) const { return x * unit_; }
    double Y(double y) const { return height_ - y * unit_; }

    double width_, height_, unit_; // page in points; points per unit
    std::vector<QByteArray> pages_;
    std::map<int, QByteArray> alphas_; // fill alpha -> graphics state name
};

} // namespace kv::pdf
