#pragma once
// A small PDF writer for the calibration certificate: pages of text, lines
// and boxes in a sans and a mono face, regular and bold. The file carries
// the glyphs it uses (TrueType subsets of the system's Liberation fonts), so
// it prints the same in every viewer and on every printer, and it is a
// PDF/A-2b file for archiving. kvctl needs the font files and Qt Core, no
// font database and no graphics library: it runs on a production line's
// server.
//
// What it can show: whatever the fonts hold, left to right: Latin, Greek and
// Cyrillic with their accented letters, the common punctuation, symbols and
// units. Text is normalised (NFC) first, so a letter typed with a combining
// accent is the accented letter; an accent left over (no such letter) is
// centred on the character before it. A character the fonts lack, and any
// of a right-to-left script, is drawn as a white square (□); a text
// extractor still reads the character itself back. Invisible format
// characters the fonts lack (a byte order mark, a variation selector) are
// left out.
#include "TrueTypeFont.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <map>
#include <memory>
#include <vector>

namespace kv::pdf {

enum class TFace { Sans, SansBold, Mono, MonoBold };
inline constexpr int kFaces = 4;

struct TFont {
    TFace Face = TFace::Sans;
    double Size = 10; // points
};

// 0..255 each; Alpha 255 is opaque (fills and text only: strokes are opaque).
struct TColor {
    int R = 0, G = 0, B = 0, Alpha = 255;
};

// A character as a face shows it.
struct TShown {
    char32_t Text = 0;  // what a text extractor reads back (a tab is a blank, a control character U+FFFD)
    TGlyphId Glyph = 0; // the glyph drawn
    bool Covered = false; // false: drawn as the white square
    bool Mark = false;    // an accent drawn on the character before it, taking no room of its own
    bool Skipped = false; // an invisible format character the font lacks (a byte order mark): not drawn
};

// The four faces' fonts.
class TFonts {
public:
    // The faces' files, each from the first of `folders` that holds it;
    // nothing, and why in `error`, when one is missing or damaged.
    static std::shared_ptr<const TFonts> Load(const QStringList& folders, QString* error);
    // The system's: Debian's fonts-liberation2, else fonts-liberation;
    // read once per process.
    static std::shared_ptr<const TFonts> System(QString* error);
    static QStringList SystemFolders();

    const TTrueTypeFont& Font(TFace face) const { return fonts_[std::size_t(face)]; }
    TShown Shown(char32_t c, TFace face) const;
    // How far `c` moves the pen, in 1/1000 em (the width the file gives it).
    int Advance(const TShown& s, TFace face) const;

private:
    explicit TFonts(std::vector<TTrueTypeFont> fonts) : fonts_(std::move(fonts)) {}
    std::vector<TTrueTypeFont> fonts_;
    std::array<TGlyphId, kFaces> box_{}; // the white square's glyph in each face
};

// Pages of one size; coordinates from the top left in the caller's unit
// (`pointsPerUnit` points each), font sizes in points. Starts with page 1.
class TDocument {
public:
    TDocument(double width, double height, double pointsPerUnit, std::shared_ptr<const TFonts> fonts);

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

    // The whole file. `title` and `creator` go into its information and
    // its XMP description, with `created` as its date.
    QByteArray Finish(const QString& title, const QString& creator,
                      const QDateTime& created = QDateTime::currentDateTime()) const;

private:
    // The characters a face has drawn, by the code the page content uses.
    struct TUsed {
        std::map<char32_t, quint16> Codes;  // extracted character -> code
        std::vector<TShown> ByCode{TShown{}}; // code -> character; code 0 is never used
    };
    double Advances(QStringView normalised, TFace face) const; // 1/1000 em
    qsizetype Fitting(QStringView normalised, TFace face, double limit, bool atLeastOne) const;
    quint16 Code(const TShown& s, TFace face);
    // The operators that show a line (empty when nothing in it is drawn).
    QByteArray TextOperators(QStringView normalised, const TFont& font);
    QByteArray FontObjects(TFace face, const std::vector<int>& numbers, std::vector<QByteArray>& objects) const;
    QByteArray& Page() { return pages_.back(); }
    QByteArray Alpha(int alpha);
    double X(double x) const { return x * unit_; }
    double Y(double y) const { return height_ - y * unit_; }

    double width_, height_, unit_; // page in points; points per unit
    std::shared_ptr<const TFonts> fonts_;
    std::vector<QByteArray> pages_;
    std::vector<bool> translucent_;    // by page: it uses a fill alpha
    std::map<int, QByteArray> alphas_; // fill alpha -> graphics state name
    std::array<TUsed, kFaces> used_;
};

} // namespace kv::pdf
