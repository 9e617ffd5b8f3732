// The certificate's PDF: one or two A4 pages drawn from the facts
// (Certificate.h), in tenths of a millimetre.
#include "Certificate.h"

#include "CertificateText.h"
#include "Files.h"

#include "PdfDocument.h"
#include "WizardLog.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <utility>

namespace kv::cert {

namespace {

QString WrittenText(const TWrittenValue& w) {
    if (w.Integer)
        return QString::number(static_cast<long long>(w.Value));
    if (!std::isfinite(w.Value))
        return QStringLiteral("n/a");
    return QString::number(w.Value, 'g', QLocale::FloatingPointShortest);
}

QString CalibrationDateShown(const TCalibrationDate& d) {
    if (!d.Known)
        return QStringLiteral("not read");
    return d.Date.isEmpty() ? QStringLiteral("uncalibrated") : d.Date;
}

// The page drawn in tenths of a millimetre from the top left.
constexpr double kPointsPerUnit = 72.0 / 254.0;
constexpr double kPageW = 2100, kPageH = 2970;
constexpr double kMargin = 180, kLeft = kMargin, kRight = kPageW - kMargin, kWidth = kRight - kLeft;
constexpr double kFooter = kPageH - 120;    // baseline area of the footer
constexpr double kBottom = kFooter - 60;    // content ends above it
constexpr int kLogColumns = 3;
constexpr double kLogGap = 50;

using pdf::TColor;
using pdf::TFont;
constexpr TColor kBlack{};
constexpr TColor kDarkGray{0x80, 0x80, 0x80};
constexpr TColor kPass{0x1e, 0x7b, 0x34};
constexpr TColor kFail{0xb0, 0x00, 0x20};
constexpr TColor kRule{0x99, 0x99, 0x99};
constexpr TColor Tint(TColor c, int alpha) { return {c.R, c.G, c.B, alpha}; }

TFont Font(double points, bool bold = false, bool mono = false) {
    using pdf::TFace;
    return {mono ? (bold ? TFace::MonoBold : TFace::Mono) : (bold ? TFace::SansBold : TFace::Sans), points};
}

enum class TAlign { Left, Right };

class TPdfPainter {
public:
    TPdfPainter(pdf::TDocument& doc, const TFacts& f, lang::TLanguage language)
        : doc_(doc), f_(f), verdict_(Verdict(f)), translation_(language) {}

    void Draw() {
        Background();
        Title(QStringLiteral("Calibration certificate"),
              QStringLiteral("%1 transmitter, %2 calibration").arg(Or(f_.Device.Type, QStringLiteral("???")), KindName(f_.Kind)));
        VerdictBox();
        Section(QStringLiteral("Device"));
        Rows({{QStringLiteral("Type"), QStringLiteral("%1 (PCB identity %2)").arg(Or(f_.Device.Type, QStringLiteral("???")))
                                                                        .arg(f_.Device.PCBIdentityAddress)},
              {QStringLiteral("Firmware"), Or(f_.Device.Firmware, QStringLiteral("not read"))},
              {QStringLiteral("Calibration date before"), CalibrationDateShown(f_.Device.Before)},
              {QStringLiteral("Calibration date after"), CalibrationDateShown(f_.Device.After)},
              {QStringLiteral("Port"), Or(f_.Port, QStringLiteral("-"))}});
        Section(QStringLiteral("Run"));
        QString finished = Or(Iso(f_.Finished), QStringLiteral("-"));
        if (f_.Started.isValid() && f_.Finished.isValid())
            finished += QStringLiteral("   (%1 s)").arg(Fixed(f_.Started.msecsTo(f_.Finished) / 1000.0, 1));
        Rows({{QStringLiteral("Started"), Or(Iso(f_.Started), QStringLiteral("-"))},
              {QStringLiteral("Finished"), finished},
              {QStringLiteral("Operator"), Or(f_.Operator, QStringLiteral("not given"))},
              {QStringLiteral("Tool"), Or(f_.ToolVersion, QStringLiteral("-"))},
              {QStringLiteral("Record"), WriteStateText(f_)}});
        Section(QStringLiteral("References"));
        std::vector<std::pair<QString, QString>> refs;
        for (const TReference& r : f_.References) {
            const QString trace = TraceabilityText(r);
            refs.push_back({r.Name, (r.Identity.isEmpty() ? QStringLiteral("%1 %2").arg(QString::number(r.Value, 'g', 10), r.Unit)
                                                          : r.Identity) +
                                        (trace.isEmpty() ? QString() : QStringLiteral("; ") + trace)});
        }
        if (refs.empty())
            refs.push_back({QStringLiteral("-"), QStringLiteral("none recorded")});
        Rows(refs);
        Section(QStringLiteral("Checks (error = measured - reference)"));
        Checks();
        Section(QStringLiteral("Values written (command %1)").arg(f_.Command));
        Written();
        Log();
        Footer();
    }

private:
    static QString Or(const QString& s, const QString& dflt) { return s.isEmpty() ? dflt : s; }

    // Text wrapped in a box of the given width from the top `y`, in the
    // current ink; returns its height.
    double Text(double x, double y, double w, const QString& s, const TFont& font, TAlign align = TAlign::Left,
                bool draw = true) {
        const QStringList lines = doc_.Wrap(s, font, w);
        const double lineH = doc_.LineHeight(font);
        if (draw)
            for (qsizetype i = 0; i < lines.size(); ++i) {
                const double left = align == TAlign::Right ? x + w - doc_.Width(lines[i], font) : x;
                doc_.Text(left, y + double(i) * lineH + doc_.Ascent(font), lines[i], font, ink_);
            }
        return double(lines.size()) * lineH;
    }

    void Line(double y, TColor c = kRule) { doc_.Line(kLeft, y, kRight, y, 3, c); }

    // A failed run's pages carry its verdict behind everything else.
    void Background() {
        if (!verdict_.Passed)
            doc_.TurnedText(kPageW / 2, kPageH / 2, 50, QStringLiteral("FAILED"), Font(110, true), Tint(kFail, 40));
    }

    void Title(const QString& title, const QString& sub) {
        y_ = kMargin;
        ink_ = kBlack;
        y_ += Text(kLeft, y_, kWidth, title, Font(18, true));
        y_ += Text(kLeft, y_, kWidth, sub, Font(11)) + 40;
    }

    QString Headline() const {
        return verdict_.Passed ? QStringLiteral("PASSED") : QStringLiteral("FAILED / NOT CALIBRATED");
    }

    void VerdictBox() {
        const TColor c = verdict_.Passed ? kPass : kFail;
        const QString detail = verdict_.Passed ? QStringLiteral("The record was written and acknowledged, and every "
                                                                "as-left figure lies within its tolerance.")
                                               : verdict_.Reason;
        const double pad = 30;
        const double h1 = Text(kLeft + pad, 0, kWidth - 2 * pad, Headline(), Font(20, true), TAlign::Left, false);
        const double h2 = Text(kLeft + pad, 0, kWidth - 2 * pad, detail, Font(10), TAlign::Left, false);
        const double h = h1 + h2 + 3 * pad;
        doc_.Box(kLeft, y_, kWidth, h, 8, c, Tint(c, 24));
        ink_ = c;
        Text(kLeft + pad, y_ + pad, kWidth - 2 * pad, Headline(), Font(20, true));
        ink_ = kBlack;
        Text(kLeft + pad, y_ + 2 * pad + h1, kWidth - 2 * pad, detail, Font(10));
        y_ += h + 40;
    }

    void Section(const QString& name) {
        y_ += 30;
        y_ += Text(kLeft, y_, kWidth, name, Font(11, true)) + 6;
        Line(y_);
        y_ += 14;
    }

    void Rows(const std::vector<std::pair<QString, QString>>& rows) {
        const double keyW = 500;
        for (const auto& [k, v] : rows) {
            const double h1 = Text(kLeft, y_, keyW - 20, k, Font(9.5));
            const double h2 = Text(kLeft + keyW, y_, kWidth - keyW, v, Font(9.5, true));
            y_ += std::max(h1, h2) + 6;
        }
    }

    void Checks() {
        static const double cols[] = {0, 210, 440, 650, 840, 1050, 1240, 1480};
        const QStringList head = {QStringLiteral("Check"),    QStringLiteral("Reference"), QStringLiteral("As found"),
                                  QStringLiteral("Error"),    QStringLiteral("As left"),   QStringLiteral("Error"),
                                  QStringLiteral("Tolerance"), QStringLiteral("Result")};
        auto cellW = [&](int i) { return (i + 1 < head.size() ? cols[i + 1] : kWidth) - cols[i] - 10; };
        double h = 0;
        for (int i = 0; i < head.size(); ++i)
            h = std::max(h, Text(kLeft + cols[i], y_, cellW(i), head[i], Font(9, true)));
        y_ += h + 8;
        if (f_.Checks.empty()) {
            y_ += Text(kLeft, y_, kWidth, QStringLiteral("none"), Font(9)) + 6;
            return;
        }
        bool foundOut = false;
        for (const TCheck& c : f_.Checks) {
            const int n = DecimalsFor(c);
            auto value = [&](const std::optional<double>& v) { return v ? Fixed(*v, n) : QStringLiteral("-"); };
            auto error = [&](const std::optional<double>& v) {
                return Finite(v) ? Signed(*v - c.Target, n) : QStringLiteral("-");
            };
            QString foundError = error(c.AsFound);
            if (c.AsFound && !WithinTolerance(c, c.AsFound)) {
                foundError += QStringLiteral(" *");
                foundOut = true;
            }
            const bool pass = WithinTolerance(c, c.AsLeft);
            const QStringList cells = {c.Name,
                                       QStringLiteral("%1 %2").arg(Fixed(c.Target, n), c.Unit),
                                       value(c.AsFound),
                                       foundError,
                                       value(c.AsLeft),
                                       error(c.AsLeft),
                                       QStringLiteral("±%1 %2").arg(Fixed(c.Tolerance, n), c.Unit),
                                       !c.AsLeft ? QStringLiteral("not checked") : pass ? QStringLiteral("pass")
                                                                                       : QStringLiteral("FAIL")};
            h = 0;
            for (int i = 0; i < cells.size(); ++i) {
                const bool result = i == cells.size() - 1;
                ink_ = result ? (pass ? kPass : kFail) : kBlack;
                h = std::max(h, Text(kLeft + cols[i], y_, cellW(i), cells[i], Font(9, result)));
            }
            ink_ = kBlack;
            y_ += h + 6;
        }
        if (foundOut)
            y_ += Text(kLeft, y_, kWidth, QStringLiteral("* as found outside the tolerance"), Font(8)) + 6;
    }

    void Written() {
        if (f_.Written.empty()) {
            y_ += Text(kLeft, y_, kWidth, QStringLiteral("none"), Font(9)) + 6;
            return;
        }
        // Two columns, filled down the first, then the second.
        const std::size_t rows = (f_.Written.size() + 1) / 2;
        const double colW = kWidth / 2;
        double h = 0;
        for (std::size_t i = 0; i < f_.Written.size(); ++i) {
            const double x = kLeft + (i < rows ? 0 : colW);
            const double y = y_ + double(i % rows) * 42;
            Text(x, y, 380, f_.Written[i].Name, Font(8.5, false, true));
            h = std::max(h, (double(i % rows) + 1) * 42);
            Text(x + 400, y, colW - 420, WrittenText(f_.Written[i]), Font(8.5, true, true));
        }
        y_ += h + 10;
        QString hex;
        for (std::size_t i = 0; i < f_.Record.size(); ++i)
            hex += QStringLiteral("%1%2").arg(i % 4 == 0 && i ? QStringLiteral(" ") : QString())
                       .arg(f_.Record[i], 2, 16, QLatin1Char('0'));
        if (!hex.isEmpty())
            y_ += Text(kLeft, y_, kWidth, QStringLiteral("Record bytes: ") + hex, Font(7.5, false, true)) + 6;
    }

    // The wizard's log in columns: on page 1 when all of it fits there,
    // else on a page of its own; what that page cannot hold is named and
    // left to the JSON file, which has every line.
    void Log() {
        const TFont font = Font(7.5, false, true);
        const double lineH = doc_.LineHeight(font);
        const double colW = (kWidth - (kLogColumns - 1) * kLogGap) / kLogColumns;
        const int total = int(f_.Log.size());
        const double headH = 30 + doc_.LineHeight(Font(11, true)) + 20;
        auto rowsFrom = [&](double top) { return std::max(1, int((kBottom - top) / lineH)); };
        pages_ = total > rowsFrom(y_ + headH) * kLogColumns ? 2 : 1;
        Footer();
        if (pages_ == 2)
            NewPage();
        Section(QStringLiteral("Calibration log (%1 lines)").arg(total));
        if (total == 0) {
            Text(kLeft, y_, kWidth, QStringLiteral("none"), Font(9));
            return;
        }
        const int perColumn = rowsFrom(y_);
        const int room = perColumn * kLogColumns;
        const int shown = total > room ? room - 1 : total; // the last row names what is left out
        auto left = [&](int i) { return kLeft + (i / perColumn) * (colW + kLogGap); };
        auto top = [&](int i) { return y_ + (i % perColumn) * lineH; };
        for (int i = 0; i < shown; ++i) {
            const QString& s = f_.Log[i];
            if (!s.isEmpty() && s.count(QLatin1Char('-')) == s.size()) {
                // The separator line, drawn as a rule.
                const double mid = top(i) + lineH / 2;
                doc_.Line(left(i), mid, left(i) + colW, mid, 2, kRule);
                continue;
            }
            doc_.Text(left(i), top(i) + doc_.Ascent(font), doc_.Elide(LogLineText(s, &translation_), font, colW), font);
        }
        if (shown < total)
            doc_.Text(left(shown), top(shown) + doc_.Ascent(font),
                      doc_.Elide(QStringLiteral("\u2026 %1 more lines in the JSON file").arg(total - shown), font, colW),
                      font);
    }

    void NewPage() {
        doc_.NewPage();
        ++page_;
        Background();
        y_ = kMargin;
        ink_ = verdict_.Passed ? kPass : kFail;
        y_ += Text(kLeft, y_, kWidth, QStringLiteral("Calibration certificate, page 2: ") + Headline(), Font(11, true));
        ink_ = kBlack;
        Footer();
    }

    void Footer() {
        if (footerDone_ == page_)
            return;
        footerDone_ = page_;
        const QString left = QStringLiteral("%1 %2 calibration, %3")
                                 .arg(Or(f_.Device.Type, QStringLiteral("???")),
                                      KindName(f_.Kind),
                                      Or(Iso(f_.Started), QStringLiteral("-")));
        Line(kFooter - 20);
        const TColor ink = ink_;
        ink_ = kDarkGray;
        Text(kLeft, kFooter, kWidth * 0.75, left, Font(7.5));
        Text(kLeft, kFooter, kWidth, QStringLiteral("page %1 of %2").arg(page_).arg(pages_), Font(7.5), TAlign::Right);
        ink_ = ink;
    }

    pdf::TDocument& doc_;
    const TFacts& f_;
    const TVerdict verdict_;
    const lang::TTranslation translation_;
    TColor ink_ = kBlack;
    double y_ = kMargin;
    int page_ = 1, pages_ = 1, footerDone_ = 0;
};

} // namespace

bool PdfFontsReady(QString* error) { return pdf::TFonts::System(error) != nullptr; }

bool WritePdf(const TFacts& f, const QString& path, QString* error, lang::TLanguage language) {
    auto fonts = pdf::TFonts::System(error);
    if (!fonts)
        return false;
    // Drawn in memory, then written whole: a half-drawn PDF never stands
    // under the name, and an earlier one stays until the new one is complete.
    pdf::TDocument doc(kPageW, kPageH, kPointsPerUnit, std::move(fonts));
    TPdfPainter(doc, f, language).Draw();
    const QByteArray bytes =
        doc.Finish(QStringLiteral("Calibration certificate %1 %2").arg(f.Device.Type, Iso(f.Started)),
                   f.ToolVersion.isEmpty() ? QStringLiteral("kvctl") : f.ToolVersion);
    return kv::WriteFileWhole(path, bytes, error);
}

} // namespace kv::cert
