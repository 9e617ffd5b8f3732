#pragma once
// A TrueType font file as the certificate's PDF embeds it: its metrics, the
// glyph for each character, and the font program cut down to the glyphs a
// document uses. Every offset in the file is checked before it is read: a
// damaged or foreign file is an error that names what is wrong, never a
// crash or an endless loop.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace kv::pdf {

using TGlyphId = std::uint16_t;

// A glyph's outline box or the font's, in font units.
struct TGlyphBox {
    int XMin = 0, YMin = 0, XMax = 0, YMax = 0;
};

class TTrueTypeFont {
public:
    // The font in `data` (one font with TrueType outlines, whose licence
    // allows embedding it), or nothing and the reason in `error`.
    static std::optional<TTrueTypeFont> Parse(const QByteArray& data, QString* error);

    int UnitsPerEm() const { return unitsPerEm_; }
    // From the baseline up (positive) and down (negative), and the gap
    // between lines, in font units.
    int Ascender() const { return ascender_; }
    int Descender() const { return descender_; }
    int LineGap() const { return lineGap_; }
    int CapHeight() const { return capHeight_; }
    TGlyphBox FontBox() const { return fontBox_; }
    double ItalicAngle() const { return italicAngle_; }
    int Weight() const { return weight_; } // 400 regular, 700 bold
    bool FixedPitch() const { return fixedPitch_; }
    // The font's PostScript name, letters, digits and '-' only.
    const QByteArray& PostScriptName() const { return postScriptName_; }
    int Glyphs() const { return glyphs_; }

    // The glyph that shows `c`; 0 (the missing-character glyph) when the
    // font has none.
    TGlyphId Glyph(char32_t c) const;
    // How far a glyph moves the pen, and the box of its outline (all zero
    // for a glyph without one), in font units.
    int Advance(TGlyphId g) const;
    TGlyphBox Box(TGlyphId g) const;

    // A font program holding the outlines of `used`, of glyph 0 and of the
    // parts that composite glyphs among them are built from, and no other;
    // glyph ids stay as they are, so a document refers to the subset's
    // glyphs by the same numbers.
    QByteArray Subset(const std::set<TGlyphId>& used) const;

private:
    struct TTable {
        quint32 Offset = 0, Length = 0;
    };
    TTrueTypeFont() = default;
    QByteArray Table(const char* tag) const;
    std::pair<quint32, quint32> GlyphRange(TGlyphId g) const; // within 'glyf'

    QByteArray data_;
    std::vector<std::pair<quint32, TTable>> tables_; // by tag
    std::vector<std::pair<char32_t, TGlyphId>> cmap_; // sorted by character
    std::vector<quint32> loca_;                       // glyphs_ + 1 offsets into 'glyf'
    TTable glyf_;
    int unitsPerEm_ = 1000, ascender_ = 0, descender_ = 0, lineGap_ = 0, capHeight_ = 0, weight_ = 400;
    int glyphs_ = 0, hMetrics_ = 0;
    quint32 hmtx_ = 0; // offset of 'hmtx' in data_
    TGlyphBox fontBox_;
    double italicAngle_ = 0;
    bool fixedPitch_ = false;
    QByteArray postScriptName_;
};

} // namespace kv::pdf
