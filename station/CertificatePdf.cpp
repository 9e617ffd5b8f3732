// The certificate's PDF, laid out as calibration labs lay out theirs: on
// every page the lab, the certificate's number, "page n of m" and the
// verdict band with its reason; then the item, the lab and the procedure,
// the conditions, the instruments' traceability, the decision rule, the
// points as found and as left, the adjustment with its own checks, the
// signatures and the JSON file's digest; the uncertainty budgets and the
// log in annexes. Tables break across pages between rows, their heads
// repeated. Drawn in tenths of a millimetre from the top left of A4.
#include "Certificate.h"
#include "RunOutcome.h"

#include "CertificateText.h"
#include "Files.h"

#include "PdfDocument.h"
#include "WizardLog.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace kv::cert {

namespace {

using kv::station::TOutcome;
using kv::station::TVerdictKind;

const char* const kContext = "Certificate";

QString WrittenText(const TWrittenValue& w) {
    if (w.Integer)
        return QString::number(static_cast<long long>(w.Value));
    if (!std::isfinite(w.Value))
        return QStringLiteral("n/a");
    return QString::number(w.Value, 'g', QLocale::FloatingPointShortest);
}

// The page drawn in tenths of a millimetre from the top left.
constexpr double kPointsPerUnit = 72.0 / 254.0;
constexpr double kPageW = 2100, kPageH = 2970;
constexpr double kMargin = 150, kLeft = kMargin, kRight = kPageW - kMargin, kWidth = kRight - kLeft;
constexpr double kTop = 110;
constexpr double kFooter = kPageH - 110; // the footer's top
constexpr double kBottom = kFooter - 40; // content ends above it
constexpr int kLogColumns = 3;
constexpr double kLogGap = 50;
constexpr int kLogPages = 3; // beyond: named, and left to the JSON file
constexpr double kEndRoom = 60;  // the line that ends the certificate

using pdf::TColor;
using pdf::TFont;
constexpr TColor kBlack{};
constexpr TColor kGray{0x60, 0x60, 0x60};
constexpr TColor kPass{0x1e, 0x7b, 0x34};
constexpr TColor kFail{0xb0, 0x00, 0x20};
constexpr TColor kAmber{0xa8, 0x5c, 0x00};
constexpr TColor kRule{0x99, 0x99, 0x99};
constexpr TColor kHeadFill{0xe8, 0xe8, 0xe8};
constexpr TColor Tint(TColor c, int alpha) { return {c.R, c.G, c.B, alpha}; }

TFont Font(double points, bool bold = false, bool mono = false) {
    using pdf::TFace;
    return {mono ? (bold ? TFace::MonoBold : TFace::Mono) : (bold ? TFace::SansBold : TFace::Sans), points};
}

enum class TAlign { Left, Right };

struct TCell {
    QString Text;
    TColor Ink = kBlack;
    bool Bold = false;
    int Span = 1; // columns it takes
};
using TRow = std::vector<TCell>;

struct TColumn {
    QString Head;
    double Weight; // its share of the width
    TAlign Align = TAlign::Left;
};

TColor VerdictColor(TVerdictKind k) {
    switch (k) {
    case TVerdictKind::Passed: return kPass;
    case TVerdictKind::NotCompleted: return kAmber;
    default: return kFail;
    }
}

TColor OutcomeColor(const std::optional<TOutcome>& o) {
    if (!o)
        return kAmber;
    return *o == TOutcome::Pass ? kPass : *o == TOutcome::Conditional ? kAmber : kFail;
}

// An expanded uncertainty as certificates state it: two significant
// digits, rounded up.
QString UncertaintyText(double u) {
    if (!std::isfinite(u))
        return QStringLiteral("n/a");
    if (u <= 0)
        return QStringLiteral("0");
    const int decimals = 1 - static_cast<int>(std::floor(std::log10(u)));
    const double scale = std::pow(10.0, decimals);
    const double up = std::ceil(u * scale * (1 - 1e-12)) / scale;
    return QString::number(up, 'f', std::max(0, decimals));
}

QString TurText(const std::optional<double>& tur) {
    if (!tur)
        return QStringLiteral("-");
    if (std::isinf(*tur))
        return QStringLiteral("∞");
    return QString::number(*tur, 'f', 1);
}

QString DivisorText(double d) {
    if (std::fabs(d - std::sqrt(3.0)) < 1e-9)
        return QStringLiteral("√3");
    return QString::number(d, 'g', 4);
}

class TPainter {
public:
    TPainter(pdf::TDocument& doc, const TFacts& f, lang::TLanguage language, int pages, QString jsonName,
             QString jsonSha)
        : doc_(doc), f_(f), verdict_(Verdict(f)), translation_(language), pages_(pages),
          jsonName_(std::move(jsonName)), jsonSha_(std::move(jsonSha)) {}

    void Draw() {
        Frame();
        Item();
        Calibration();
        Conditions();
        Instruments();
        Method();
        Results();
        if (f_.Kind != TKind::Verification)
            Adjustment();
        Signatures();
        Budgets();
        Log();
        End();
    }

    int Pages() const { return page_; }

private:
    QString Tr(const char* source) const { return translation_.Text(kContext, source); }
    static QString Or(const QString& s, const QString& dflt) { return s.isEmpty() ? dflt : s; }
    QString NotGiven() const { return Tr(QT_TRANSLATE_NOOP("Certificate", "not given")); }

    QString VerdictTitle() const {
        switch (verdict_.Kind) {
        case TVerdictKind::Passed: return Tr(QT_TRANSLATE_NOOP("Certificate", "PASSED"));
        case TVerdictKind::Failed: return Tr(QT_TRANSLATE_NOOP("Certificate", "FAILED"));
        case TVerdictKind::AdjustedFailedVerification:
            return Tr(QT_TRANSLATE_NOOP("Certificate", "ADJUSTED – FAILED VERIFICATION"));
        case TVerdictKind::NotCompleted: return Tr(QT_TRANSLATE_NOOP("Certificate", "NOT COMPLETED"));
        }
        return {};
    }

    QString KindText() const {
        switch (f_.Kind) {
        case TKind::Input: return Tr(QT_TRANSLATE_NOOP("Certificate", "input calibration: as found, adjustment, as left"));
        case TKind::Output:
            return Tr(QT_TRANSLATE_NOOP("Certificate", "output calibration: as found, adjustment, as left"));
        case TKind::Verification: return Tr(QT_TRANSLATE_NOOP("Certificate", "verification: as found, nothing adjusted"));
        case TKind::All:
            return Tr(QT_TRANSLATE_NOOP("Certificate", "calibration of the input and the output: as found, adjustment, "
                                                       "as left"));
        }
        return {};
    }

    QString OutcomeText(const std::optional<TOutcome>& o) const {
        if (!o)
            return Tr(QT_TRANSLATE_NOOP("Certificate", "not judged"));
        switch (*o) {
        case TOutcome::Pass: return Tr(QT_TRANSLATE_NOOP("Certificate", "pass"));
        case TOutcome::Conditional: return Tr(QT_TRANSLATE_NOOP("Certificate", "conditional"));
        case TOutcome::Fail: return Tr(QT_TRANSLATE_NOOP("Certificate", "FAIL"));
        }
        return {};
    }

    // ---- drawing primitives

    // Text wrapped in a box of the given width from the top `y`; returns its
    // height.
    double Text(double x, double y, double w, const QString& s, const TFont& font, TColor ink = kBlack,
                TAlign align = TAlign::Left, bool draw = true) {
        const QStringList lines = doc_.Wrap(s, font, w);
        const double lineH = doc_.LineHeight(font);
        if (draw)
            for (qsizetype i = 0; i < lines.size(); ++i) {
                const double left = align == TAlign::Right ? x + w - doc_.Width(lines[i], font) : x;
                doc_.Text(left, y + double(i) * lineH + doc_.Ascent(font), lines[i], font, ink);
            }
        return double(lines.size()) * lineH;
    }
    double Height(double w, const QString& s, const TFont& font) { return Text(0, 0, w, s, font, kBlack, TAlign::Left, false); }

    void Rule(double y, double width = 3, TColor c = kRule) { doc_.Line(kLeft, y, kRight, y, width, c); }

    // Room for `h` more below, else the next page.
    void Room(double h) {
        if (y_ + h > kBottom)
            NewPage();
    }

    void NewPage() {
        doc_.NewPage();
        ++page_;
        Frame();
    }

    // What every page carries: a failed run's verdict behind everything,
    // the lab, the certificate's number, the page and the verdict band.
    void Frame() {
        const TColor c = VerdictColor(verdict_.Kind);
        if (!verdict_.Passed) {
            const QString mark = VerdictTitle();
            double size = 110;
            const double room = 0.8 * std::hypot(kPageW, kPageH);
            if (const double w = doc_.Width(mark, Font(size, true)); w > room)
                size *= room / w;
            doc_.TurnedText(kPageW / 2, kPageH / 2, 55, mark, Font(size, true), Tint(c, 36));
        }
        double y = kTop;
        const QString number = Or(f_.CertificateNumber, Tr(QT_TRANSLATE_NOOP("Certificate", "not numbered")));
        const QString page = Tr(QT_TRANSLATE_NOOP("Certificate", "Page %1 of %2")).arg(page_).arg(pages_ > 0 ? pages_ : page_);
        const double half = kWidth / 2;
        const double h1 = Text(kLeft, y, half, Or(f_.Station.Lab, Tr(QT_TRANSLATE_NOOP("Certificate", "Calibration laboratory"))),
                               Font(10, true));
        // A long station's number may take two lines: the page's line goes
        // below whichever of the two is taller.
        const double hn = Text(kLeft + half, y, half, Tr(QT_TRANSLATE_NOOP("Certificate", "Certificate No. %1")).arg(number),
                               Font(10, true), kBlack, TAlign::Right);
        y += std::max(h1, hn);
        const double h2 = Text(kLeft, y, half, f_.Station.Address, Font(8), kGray);
        Text(kLeft + half, y, half, page, Font(8), kBlack, TAlign::Right);
        y += std::max(h2, doc_.LineHeight(Font(8))) + 12;
        Rule(y, 4, kBlack);
        y += 24;
        if (page_ == 1) {
            y += Text(kLeft, y, kWidth, Tr(QT_TRANSLATE_NOOP("Certificate", "Calibration certificate")), Font(17, true));
            y += Text(kLeft, y, kWidth,
                      QStringLiteral("%1 · %2").arg(Or(f_.Device.Type, QStringLiteral("???")), KindText()), Font(10)) +
                 20;
        } else {
            y += Text(kLeft, y, kWidth,
                      Tr(QT_TRANSLATE_NOOP("Certificate", "Calibration certificate (continued)")), Font(9, true), kGray) +
                 12;
        }
        // The verdict band: its title and what the device now holds.
        const double pad = 22;
        const double wIn = kWidth - 2 * pad;
        const QString title = Tr(QT_TRANSLATE_NOOP("Certificate", "Verdict: %1")).arg(VerdictTitle());
        const double t = Height(wIn, title, Font(13, true));
        // The reason whole on the first page; on the others its first lines,
        // which say what the device holds (a long list of what was not
        // verified would crowd every page).
        QString reason = verdict_.Reason;
        if (page_ > 1) {
            const QStringList lines = doc_.Wrap(reason, Font(8.5), wIn);
            if (lines.size() > 3)
                reason = lines.mid(0, 2).join(QLatin1Char(' ')) + QLatin1Char(' ') +
                         doc_.Elide(lines[2] + QStringLiteral(" …"), Font(8.5), wIn - 20);
        }
        const double r = Height(wIn, reason, Font(8.5));
        const double h = pad + t + 6 + r + pad;
        doc_.Box(kLeft, y, kWidth, h, 8, c, Tint(c, 26));
        Text(kLeft + pad, y + pad, wIn, title, Font(13, true), c);
        Text(kLeft + pad, y + pad + t + 6, wIn, reason, Font(8.5));
        y_ = y + h + 30;
        Footer();
    }

    void Footer() {
        Rule(kFooter, 2);
        const QString left = QStringLiteral("%1 · %2 · %3")
                                 .arg(Tr(QT_TRANSLATE_NOOP("Certificate", "Certificate No. %1"))
                                          .arg(Or(f_.CertificateNumber, QStringLiteral("-"))),
                                      Or(f_.ToolVersion, QStringLiteral("kvctl")),
                                      Tr(QT_TRANSLATE_NOOP("Certificate", "Not to be reproduced except in full.")));
        Text(kLeft, kFooter + 14, kWidth * 0.8, left, Font(7), kGray);
        const QString page = Tr(QT_TRANSLATE_NOOP("Certificate", "Page %1 of %2")).arg(page_).arg(pages_ > 0 ? pages_ : page_);
        Text(kLeft, kFooter + 14, kWidth, page, Font(7), kGray, TAlign::Right);
    }

    // A section's heading, kept with at least `keep` of what follows.
    void Section(const QString& name, double keep = 120) {
        const TFont font = Font(10.5, true);
        Room(24 + doc_.LineHeight(font) + 20 + keep);
        y_ += 24;
        y_ += Text(kLeft, y_, kWidth, name, font) + 4;
        Rule(y_);
        y_ += 14;
    }

    void Paragraph(const QString& s, const TFont& font = Font(8.5), TColor ink = kBlack) {
        const double h = Height(kWidth, s, font);
        Room(h);
        y_ += Text(kLeft, y_, kWidth, s, font, ink) + 8;
    }

    // Key and value pairs in two columns, filled row by row; a pair alone
    // on its row takes the whole width.
    void Pairs(const std::vector<std::pair<QString, QString>>& pairs) {
        const double colW = kWidth / 2, keyW = 380;
        const TFont key = Font(8), value = Font(8.5, true);
        for (std::size_t i = 0; i < pairs.size(); i += 2) {
            const std::size_t end = std::min(i + 2, pairs.size());
            const double valueW = (end - i == 1 ? kWidth : colW) - keyW - 20;
            double h = 0;
            for (std::size_t j = i; j < end; ++j)
                h = std::max({h, Height(keyW - 16, pairs[j].first, key), Height(valueW, pairs[j].second, value)});
            Room(h);
            for (std::size_t j = i; j < end; ++j) {
                const double x = kLeft + double(j - i) * colW;
                Text(x, y_, keyW - 16, pairs[j].first, key, kGray);
                Text(x + keyW, y_, valueW, pairs[j].second, value);
            }
            y_ += h + 8;
        }
    }

    // A table whose rows come in groups kept on one page (a point's as-found
    // and as-left rows); its head is drawn again on every page it takes.
    void Table(const std::vector<TColumn>& columns, const std::vector<std::vector<TRow>>& groups, double size,
               const QString& continued) {
        double total = 0;
        for (const TColumn& c : columns)
            total += c.Weight;
        std::vector<double> x, w;
        double at = kLeft;
        for (const TColumn& c : columns) {
            x.push_back(at);
            w.push_back(c.Weight / total * kWidth);
            at += w.back();
        }
        const TFont font = Font(size), bold = Font(size, true);
        const double pad = 10;
        auto cellWidth = [&](std::size_t col, int span) {
            double width = 0;
            for (std::size_t k = col; k < std::min(columns.size(), col + std::size_t(std::max(span, 1))); ++k)
                width += w[k];
            return width - 2 * pad;
        };
        auto rowHeight = [&](const TRow& row) {
            double h = 0;
            std::size_t col = 0;
            for (const TCell& c : row) {
                h = std::max(h, Height(cellWidth(col, c.Span), c.Text, c.Bold ? bold : font));
                col += std::size_t(std::max(c.Span, 1));
            }
            return h + 10;
        };
        TRow head;
        for (const TColumn& c : columns)
            head.push_back({c.Head, kBlack, true});
        const double headH = rowHeight(head);
        auto drawHead = [&] {
            doc_.Box(kLeft, y_, kWidth, headH, 0, kHeadFill, kHeadFill);
            for (std::size_t i = 0; i < columns.size(); ++i)
                Text(x[i] + pad, y_ + 5, cellWidth(i, 1), columns[i].Head, bold, kBlack, columns[i].Align);
            y_ += headH;
        };
        auto drawRow = [&](const TRow& row) {
            const double h = rowHeight(row);
            std::size_t col = 0;
            for (const TCell& c : row) {
                if (col >= columns.size())
                    break;
                const TAlign align = c.Span > 1 ? TAlign::Left : columns[col].Align;
                Text(x[col] + pad, y_ + 5, cellWidth(col, c.Span), c.Text, c.Bold ? bold : font, c.Ink, align);
                col += std::size_t(std::max(c.Span, 1));
            }
            y_ += h;
        };
        Room(headH + (groups.empty() ? 0 : rowHeight(groups.front().front())));
        drawHead();
        for (const std::vector<TRow>& group : groups) {
            double h = 0;
            for (const TRow& row : group)
                h += rowHeight(row);
            const bool fitsAPage = h <= kBottom - kTop - 700;
            if (y_ + h > kBottom && fitsAPage) {
                NewPage();
                y_ += Text(kLeft, y_, kWidth, continued, Font(9, true), kGray) + 6;
                drawHead();
            }
            for (const TRow& row : group) {
                if (y_ + rowHeight(row) > kBottom) {
                    NewPage();
                    y_ += Text(kLeft, y_, kWidth, continued, Font(9, true), kGray) + 6;
                    drawHead();
                }
                drawRow(row);
            }
            doc_.Line(kLeft, y_, kRight, y_, 1.5, kRule);
        }
        y_ += 10;
    }

    // ---- the sections

    void Item() {
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Item calibrated")));
        QString working = NotGiven();
        if (f_.WorkingTimeMinutes) {
            const std::uint32_t m = *f_.WorkingTimeMinutes;
            working = Tr(QT_TRANSLATE_NOOP("Certificate", "%1 min (%2 d %3 h %4 min)"))
                          .arg(m)
                          .arg(m / 1440)
                          .arg(m / 60 % 24)
                          .arg(m % 60);
        }
        Pairs({{Tr(QT_TRANSLATE_NOOP("Certificate", "Instrument")),
                Tr(QT_TRANSLATE_NOOP("Certificate", "%1 temperature transmitter")).arg(Or(f_.Device.Type, QStringLiteral("???")))},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Serial number or tag")), Or(f_.Serial, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "PCB identity address")),
                f_.Device.PCBIdentityAddress >= 0 ? QString::number(f_.Device.PCBIdentityAddress) : NotGiven()},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Firmware")), Or(f_.Device.Firmware, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Working time")), working},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Port")), Or(f_.Port, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Calibration date before")), DateText(f_.Device.Before)},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Calibration date after")), DateText(f_.Device.After)}});
    }

    QString DateText(const TCalibrationDate& d) const {
        if (!d.Known)
            return Tr(QT_TRANSLATE_NOOP("Certificate", "not read"));
        return d.Date.isEmpty() ? Tr(QT_TRANSLATE_NOOP("Certificate", "uncalibrated")) : d.Date;
    }

    void Calibration() {
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Laboratory and procedure")));
        QString performed = Or(Iso(f_.Started), QStringLiteral("-")) + QStringLiteral(" – ") + Or(Iso(f_.Finished), QStringLiteral("-"));
        if (f_.Started.isValid() && f_.Finished.isValid())
            performed += QStringLiteral(" (%1 s)").arg(Fixed(f_.Started.msecsTo(f_.Finished) / 1000.0, 1));
        Pairs({{Tr(QT_TRANSLATE_NOOP("Certificate", "Laboratory")), Or(f_.Station.Lab, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Address")), Or(f_.Station.Address, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Station")), Or(f_.Station.Station, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Procedure")), Or(f_.Station.Procedure, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Performed")), performed},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Date of issue")),
                f_.Finished.isValid() ? f_.Finished.date().toString(Qt::ISODate) : NotGiven()},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Operator")), Or(f_.Operator, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Software")), Or(f_.ToolVersion, NotGiven())}});
    }

    void Conditions() {
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Conditions")));
        auto temperature = [&](const std::optional<double>& t) {
            return Finite(t) ? QStringLiteral("%1 °C").arg(Fixed(*t, 1)) : Tr(QT_TRANSLATE_NOOP("Certificate", "not read"));
        };
        Pairs({{Tr(QT_TRANSLATE_NOOP("Certificate", "Ambient")), Or(f_.Ambient, NotGiven())},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Decision rule")),
                f_.Rule == kv::station::TDecisionRule::Guarded ? Tr(QT_TRANSLATE_NOOP("Certificate", "guarded acceptance"))
                                                               : Tr(QT_TRANSLATE_NOOP("Certificate", "simple acceptance"))},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Device temperature at start")), temperature(f_.InternalTemperatureStart)},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Device temperature at end")), temperature(f_.InternalTemperatureEnd)}});
    }

    void Instruments() {
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Measurement standards and traceability")));
        std::vector<std::vector<TRow>> rows;
        const auto row = [&](const QString& role, const TReference& r, const QString& what) {
            rows.push_back({{{role, kBlack, true},
                             {what},
                             {Or(r.Serial, QStringLiteral("-"))},
                             {Or(r.Certificate, QStringLiteral("-"))},
                             {r.Uncertainty > 0 ? QStringLiteral("± %1 %2").arg(QString::number(Shown(r.Uncertainty), 'g', 6), r.Unit)
                                                : QStringLiteral("-")},
                             {r.Due.isValid() ? r.Due.toString(Qt::ISODate) : QStringLiteral("-")}}});
        };
        if (const TReference* m = MeterOf(f_))
            row(Tr(QT_TRANSLATE_NOOP("Certificate", "Meter")), *m, m->Identity);
        if (const TReference* s = SourceOf(f_))
            row(Tr(QT_TRANSLATE_NOOP("Certificate", "Source")), *s, s->Identity);
        for (const TReference& r : f_.References)
            if (IsStandard(r))
                row(r.Name, r, QStringLiteral("%1 %2").arg(QString::number(Shown(r.Value), 'g', 10), r.Unit));
        if (rows.empty()) {
            Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "No instrument recorded.")));
            return;
        }
        Table({{Tr(QT_TRANSLATE_NOOP("Certificate", "Instrument")), 150},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Identity or value")), 420},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Serial")), 170},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Certificate")), 200},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "U (k = 2)")), 170},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Due")), 130}},
              rows, 7.5, Tr(QT_TRANSLATE_NOOP("Certificate", "Measurement standards and traceability (continued)")));
        if (std::none_of(f_.References.begin(), f_.References.end(), [](const TReference& r) {
                return !r.Serial.isEmpty() || !r.Certificate.isEmpty() || r.Due.isValid();
            }))
            Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "No traceability was given for these instruments (no bench "
                                                          "file): their values are as typed.")),
                      Font(8), kAmber);
        else
            Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "The results are traceable to national measurement standards "
                                                          "(SI) through the calibration certificates of the instruments "
                                                          "listed, each within its due date when the run began.")),
                      Font(8), kGray);
    }

    void Method() {
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Method and decision rule")));
        Paragraph(Tr(RuleStatement(f_.Rule)));
        Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate",
                                       "Error = reading − nominal. U is the expanded uncertainty of measurement (k = 2, "
                                       "about 95 % coverage) from the budget in annex A; TUR = tolerance / U. As found: "
                                       "before any adjustment; as left: after the device acknowledged the new record, in "
                                       "normal operation, at points independent of the adjustment's references.")),
                  Font(8), kGray);
    }

    void Results() {
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Results")), 200);
        const QStringList notVerified = OutcomeOf(f_).NotVerified;
        if (f_.Points.empty())
            Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "No verification point was measured.")), Font(8.5, true), kFail);
        const bool verification = f_.Kind == TKind::Verification;
        // Grouped by quantity, in the order the run measured them.
        QStringList quantities;
        for (const TPoint& p : f_.Points)
            if (!quantities.contains(p.Quantity))
                quantities << p.Quantity;
        for (const QString& quantity : quantities) {
            std::vector<std::vector<TRow>> groups;
            for (const TPoint& p : f_.Points) {
                if (p.Quantity != quantity)
                    continue;
                std::vector<TRow> group;
                const int n = std::clamp(std::max({DecimalsForTolerance(p.Tolerance), DecimalsOf(Shown(p.Nominal)),
                                                   DecimalsOf(ShownValue(p.AsFound).value_or(0)),
                                                   DecimalsOf(ShownValue(p.AsLeft).value_or(0))}),
                                         0, 6);
                const QString unit = p.Unit;
                const auto with = [&](const QString& s) { return unit.isEmpty() ? s : s + QLatin1Char(' ') + unit; };
                const auto reading = [&](const TPointReading& r, const QString& phase, bool first) {
                    TRow row;
                    if (first)
                        row.push_back({QStringLiteral("%1, %2 %").arg(Or(p.Path, p.Quantity),
                                                                      QString::number(Significant6(p.Percent), 'g', 6)),
                                       kBlack, true});
                    else
                        row.push_back({p.Source.isEmpty() ? QString() : Tr(QT_TRANSLATE_NOOP("Certificate", "source: %1")).arg(p.Source),
                                       kGray});
                    QString nominal = first ? with(Fixed(Shown(p.Nominal), n)) : QString();
                    if (Finite(r.Expected))
                        nominal += (nominal.isEmpty() ? QString() : QStringLiteral("\n")) +
                                   Tr(QT_TRANSLATE_NOOP("Certificate", "expected %1")).arg(with(Fixed(Shown(*r.Expected), n)));
                    row.push_back({nominal});
                    row.push_back({phase});
                    const auto value = ShownValue(r);
                    if (!value) {
                        const QString why = r.NotMeasured.isEmpty() ? QString() : QStringLiteral(": ") + r.NotMeasured;
                        row.push_back({Tr(QT_TRANSLATE_NOOP("Certificate", "not measured")) + why, kAmber, false, 7});
                        return row;
                    }
                    const auto error = ErrorOf(p, r);
                    const auto percent = PercentOfSpan(p, r);
                    const auto u = ExpandedOf(r);
                    row.push_back({with(Fixed(*value, n))});
                    row.push_back({error ? with(Signed(*error, n)) : QStringLiteral("-")});
                    row.push_back({percent ? Signed(*percent, 3) + QStringLiteral(" %") : QStringLiteral("-")});
                    row.push_back({QStringLiteral("± ") + with(QString::number(Shown(p.Tolerance), 'g', 10))});
                    row.push_back({u ? with(UncertaintyText(*u)) : QStringLiteral("-")});
                    row.push_back({TurText(TurOf(p, r))});
                    row.push_back({OutcomeText(r.Result), OutcomeColor(r.Result), true});
                    return row;
                };
                if (verification) {
                    group.push_back(reading(p.AsFound, Tr(QT_TRANSLATE_NOOP("Certificate", "reading")), true));
                    if (!p.Source.isEmpty())
                        group.push_back({{Tr(QT_TRANSLATE_NOOP("Certificate", "source: %1")).arg(p.Source), kGray, false, 10}});
                } else {
                    group.push_back(reading(p.AsFound, Tr(QT_TRANSLATE_NOOP("Certificate", "as found")), true));
                    group.push_back(reading(p.AsLeft, Tr(QT_TRANSLATE_NOOP("Certificate", "as left")), false));
                }
                groups.push_back(std::move(group));
            }
            const QString title = quantity == QLatin1String("input")
                                      ? Tr(QT_TRANSLATE_NOOP("Certificate", "Input: the device's calculated value"))
                                  : quantity == QLatin1String("output")
                                      ? Tr(QT_TRANSLATE_NOOP("Certificate", "Output: at the device's terminals"))
                                      : quantity;
            Room(200);
            y_ += Text(kLeft, y_, kWidth, title, Font(9, true)) + 6;
            // Each figure with its unit on one line: a sign, seven digits and
            // the unit in the error's column, "± 0.102346 °C" in the
            // tolerance's.
            Table({{Tr(QT_TRANSLATE_NOOP("Certificate", "Point")), 265},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Nominal")), 155, TAlign::Right},
                   {QString(), 105},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Reading")), 180, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Error")), 180, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "% of span")), 120, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Tolerance")), 165, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "U (k = 2)")), 140, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "TUR")), 70, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Result")), 120}},
                  groups, 7.5, title + QStringLiteral(" ") + Tr(QT_TRANSLATE_NOOP("Certificate", "(continued)")));
        }
        if (!notVerified.isEmpty()) {
            Room(80);
            y_ += Text(kLeft, y_, kWidth, Tr(QT_TRANSLATE_NOOP("Certificate", "Not verified")), Font(9, true), kFail) + 4;
            for (const QString& s : notVerified)
                Paragraph(QStringLiteral("• ") + s, Font(8.5), kFail);
        }
    }

    void Adjustment() {
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Adjustment")), 160);
        Pairs({{Tr(QT_TRANSLATE_NOOP("Certificate", "Record")), WriteStateText(f_, &translation_)}});
        if (!f_.NotWrittenBecause.isEmpty())
            Pairs({{Tr(QT_TRANSLATE_NOOP("Certificate", "Not written because")), f_.NotWrittenBecause}});
        if (!f_.Written.empty()) {
            Room(60);
            y_ += Text(kLeft, y_, kWidth, Tr(QT_TRANSLATE_NOOP("Certificate", "Values written")), Font(8.5, true)) + 6;
            // Two columns, filled down the first, then the second.
            const std::size_t rows = (f_.Written.size() + 1) / 2;
            const double colW = kWidth / 2, rowH = doc_.LineHeight(Font(8, false, true)) + 6;
            Room(double(rows) * rowH);
            for (std::size_t i = 0; i < f_.Written.size(); ++i) {
                const double x = kLeft + (i < rows ? 0 : colW);
                const double y = y_ + double(i % rows) * rowH;
                Text(x, y, 380, f_.Written[i].Name, Font(8, false, true));
                Text(x + 400, y, colW - 420, WrittenText(f_.Written[i]), Font(8, true, true));
            }
            y_ += double(rows) * rowH + 8;
            const auto hex = [](const std::vector<std::uint8_t>& record) {
                QString text;
                for (std::size_t i = 0; i < record.size(); ++i)
                    text += QStringLiteral("%1%2").arg(i % 4 == 0 && i ? QStringLiteral(" ") : QString())
                                .arg(record[i], 2, 16, QLatin1Char('0'));
                return text;
            };
            for (const auto* record : {&f_.Record, &f_.OutputRecord})
                if (!record->empty())
                    Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "Record bytes: %1")).arg(hex(*record)),
                              Font(7, false, true));
        }
        if (f_.Checks.empty())
            return;
        Room(120);
        y_ += Text(kLeft, y_, kWidth, Tr(QT_TRANSLATE_NOOP("Certificate", "The adjustment's own checks")), Font(8.5, true)) + 4;
        Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "Made with the references the adjustment used: they show the "
                                                      "adjustment took, not that its references were right.")),
                  Font(7.5), kGray);
        std::vector<std::vector<TRow>> rows;
        for (const TCheck& c : f_.Checks) {
            const int n = DecimalsFor(c);
            auto value = [&](const std::optional<double>& v) {
                return v ? QStringLiteral("%1 %2").arg(Fixed(*v, n), c.Unit) : QStringLiteral("-");
            };
            auto error = [&](const std::optional<double>& v) {
                return Finite(v) ? QStringLiteral("%1 %2").arg(Signed(*v - c.Target, n), c.Unit) : QStringLiteral("-");
            };
            const bool pass = WithinTolerance(c, c.AsLeft);
            rows.push_back({{{c.Name, kBlack, true},
                             {QStringLiteral("%1 %2").arg(Fixed(c.Target, n), c.Unit)},
                             {value(c.AsFound)},
                             {error(c.AsFound), c.AsFound && !WithinTolerance(c, c.AsFound) ? kAmber : kBlack},
                             {value(c.AsLeft)},
                             {error(c.AsLeft)},
                             {QStringLiteral("± %1 %2").arg(Fixed(c.Tolerance, n), c.Unit)},
                             {!c.AsLeft ? Tr(QT_TRANSLATE_NOOP("Certificate", "not checked"))
                              : pass    ? Tr(QT_TRANSLATE_NOOP("Certificate", "pass"))
                                        : Tr(QT_TRANSLATE_NOOP("Certificate", "FAIL")),
                              !c.AsLeft ? kAmber : pass ? kPass : kFail, true}}});
        }
        Table({{Tr(QT_TRANSLATE_NOOP("Certificate", "Check")), 140},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Reference")), 190, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "as found")), 190, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Error")), 160, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "as left")), 190, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Error")), 160, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Tolerance")), 170, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Result")), 130}},
              rows, 7.5, Tr(QT_TRANSLATE_NOOP("Certificate", "The adjustment's own checks (continued)")));
    }

    void Signatures() {
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Approval")), 420);
        if (!jsonSha_.isEmpty()) {
            Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "The electronic record of this certificate is %1, SHA-256:"))
                          .arg(jsonName_),
                      Font(8));
            Paragraph(jsonSha_, Font(8, false, true));
        }
        Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "The results relate only to the item calibrated, at the time and "
                                                      "under the conditions stated. This certificate shall not be "
                                                      "reproduced except in full without the written approval of the "
                                                      "laboratory.")),
                  Font(7.5), kGray);
        const double boxH = 250, gap = 60, boxW = (kWidth - gap) / 2;
        Room(boxH + 20);
        y_ += 10;
        const QString date = f_.Finished.isValid() ? f_.Finished.date().toString(Qt::ISODate) : QString();
        const struct {
            const char* role;
            QString name, date;
        } boxes[] = {{QT_TRANSLATE_NOOP("Certificate", "Performed by"), f_.Operator, date},
                     {QT_TRANSLATE_NOOP("Certificate", "Reviewed by"), QString(), QString()}};
        for (int i = 0; i < 2; ++i) {
            const double x = kLeft + i * (boxW + gap);
            doc_.Box(x, y_, boxW, boxH, 3, kRule, TColor{0, 0, 0, 0});
            double y = y_ + 16;
            y += Text(x + 20, y, boxW - 40, Tr(boxes[i].role), Font(8.5, true)) + 10;
            const std::pair<const char*, QString> lines[] = {{QT_TRANSLATE_NOOP("Certificate", "Name"), boxes[i].name},
                                                             {QT_TRANSLATE_NOOP("Certificate", "Date"), boxes[i].date},
                                                             {QT_TRANSLATE_NOOP("Certificate", "Signature"), QString()}};
            for (const auto& [label, filled] : lines) {
                Text(x + 20, y, 200, Tr(label), Font(8), kGray);
                if (!filled.isEmpty())
                    Text(x + 230, y, boxW - 260, filled, Font(8.5, true));
                const double base = y + doc_.LineHeight(Font(8.5)) + 4;
                doc_.Line(x + 230, base, x + boxW - 20, base, 2, kRule);
                y += 60;
            }
        }
        y_ += boxH + 10;
    }

    // Annex A: every point's uncertainty in a summary, and the whole budget
    // of each quantity's worst point (the smallest TUR).
    void Budgets() {
        struct TBudgeted {
            const TPoint* Point;
            const TPointReading* Reading;
            QString Phase;
        };
        std::vector<TBudgeted> all;
        for (const TPoint& p : f_.Points)
            for (const auto& [r, phase] : {std::pair{&p.AsFound, QT_TRANSLATE_NOOP("Certificate", "as found")},
                                           std::pair{&p.AsLeft, QT_TRANSLATE_NOOP("Certificate", "as left")}})
                if (r->Budget)
                    all.push_back({&p, r, f_.Kind == TKind::Verification ? Tr(QT_TRANSLATE_NOOP("Certificate", "reading"))
                                                                         : Tr(phase)});
        if (all.empty())
            return;
        NewPage();
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Annex A: uncertainty budgets")));
        std::vector<std::vector<TRow>> summary;
        std::map<QString, const TBudgeted*> worst;
        const auto ratio = [](const TBudgeted& b) {
            const double u = b.Reading->Budget->Expanded();
            return b.Point->Tolerance > 0 && std::isfinite(u) ? u / b.Point->Tolerance : std::numeric_limits<double>::infinity();
        };
        for (const TBudgeted& b : all) {
            const kv::station::TBudget& budget = *b.Reading->Budget;
            const TComponentView largest = Largest(budget);
            summary.push_back({{{PointName(*b.Point)},
                                {b.Phase},
                                {QStringLiteral("%1 %2").arg(QString::number(budget.Combined(), 'g', 3), budget.Unit)},
                                {QString::number(budget.K, 'g', 3)},
                                {QStringLiteral("%1 %2").arg(UncertaintyText(budget.Expanded()), budget.Unit)},
                                {TurText(TurOf(*b.Point, *b.Reading))},
                                {largest.Name}}});
            const TBudgeted*& w = worst[b.Point->Quantity];
            if (!w || ratio(b) > ratio(*w))
                w = &b;
        }
        Table({{Tr(QT_TRANSLATE_NOOP("Certificate", "Point")), 380},
               {QString(), 110},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "u (combined)")), 170, TAlign::Right},
               {QStringLiteral("k"), 60, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "U (k = 2)")), 160, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "TUR")), 80, TAlign::Right},
               {Tr(QT_TRANSLATE_NOOP("Certificate", "Largest contribution")), 440}},
              summary, 7, Tr(QT_TRANSLATE_NOOP("Certificate", "Annex A (continued)")));
        for (const auto& [quantity, b] : worst) {
            const kv::station::TBudget& budget = *b->Reading->Budget;
            Room(300);
            y_ += 16;
            y_ += Text(kLeft, y_, kWidth,
                       Tr(QT_TRANSLATE_NOOP("Certificate", "Budget of %1, %2 (the quantity's smallest TUR)"))
                           .arg(PointName(*b->Point), b->Phase),
                       Font(8.5, true)) +
                  6;
            std::vector<std::vector<TRow>> rows;
            for (const kv::station::TComponent& c : budget.Components)
                rows.push_back({{{c.Name},
                                 {QStringLiteral("%1 %2").arg(QString::number(c.Value, 'g', 4), c.Unit)},
                                 {c.Distribution == kv::station::TDistribution::Normal
                                      ? Tr(QT_TRANSLATE_NOOP("Certificate", "normal"))
                                      : Tr(QT_TRANSLATE_NOOP("Certificate", "rectangular"))},
                                 {DivisorText(c.Divisor)},
                                 {QString::number(c.Sensitivity, 'g', 4)},
                                 {QStringLiteral("%1 %2").arg(QString::number(c.Standard(), 'g', 3), budget.Unit)}}});
            rows.push_back({{{Tr(QT_TRANSLATE_NOOP("Certificate", "Combined standard uncertainty")), kBlack, true, 5},
                             {QStringLiteral("%1 %2").arg(QString::number(budget.Combined(), 'g', 3), budget.Unit), kBlack,
                              true}}});
            rows.push_back({{{Tr(QT_TRANSLATE_NOOP("Certificate", "Expanded uncertainty U (k = %1)"))
                                  .arg(QString::number(budget.K, 'g', 3)),
                              kBlack, true, 5},
                             {QStringLiteral("%1 %2").arg(UncertaintyText(budget.Expanded()), budget.Unit), kBlack, true}}});
            Table({{Tr(QT_TRANSLATE_NOOP("Certificate", "Component")), 520},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Value")), 220, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Distribution")), 200},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Divisor")), 130, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Sensitivity")), 160, TAlign::Right},
                   {Tr(QT_TRANSLATE_NOOP("Certificate", "Standard uncertainty")), 220, TAlign::Right}},
                  rows, 7, Tr(QT_TRANSLATE_NOOP("Certificate", "Annex A (continued)")));
        }
    }

    struct TComponentView {
        QString Name;
    };
    static TComponentView Largest(const kv::station::TBudget& b) {
        const kv::station::TComponent* best = nullptr;
        for (const kv::station::TComponent& c : b.Components)
            if (!best || c.Standard() > best->Standard())
                best = &c;
        return {best ? best->Name : QStringLiteral("-")};
    }

    // Annex B: the log in columns, over as many pages as it takes up to
    // kLogPages; what they cannot hold is named and left to the JSON file,
    // which has every line.
    void Log() {
        const TFont font = Font(7, false, true);
        const double lineH = doc_.LineHeight(font);
        const double colW = (kWidth - (kLogColumns - 1) * kLogGap) / kLogColumns;
        const int total = int(f_.Log.size());
        NewPage();
        Section(Tr(QT_TRANSLATE_NOOP("Certificate", "Annex B: log (%1 lines)")).arg(total));
        if (total == 0) {
            Paragraph(Tr(QT_TRANSLATE_NOOP("Certificate", "none")));
            return;
        }
        int shown = 0;
        for (int pages = 1; shown < total; ++pages) {
            // Room kept below for the line that ends the certificate.
            const int perColumn = std::max(1, int((kBottom - kEndRoom - y_) / lineH));
            const int room = perColumn * kLogColumns;
            const bool last = pages == kLogPages;
            const int here = total - shown <= room ? total - shown : last ? room - 1 : room;
            auto left = [&](int i) { return kLeft + (i / perColumn) * (colW + kLogGap); };
            auto top = [&](int i) { return y_ + (i % perColumn) * lineH; };
            for (int i = 0; i < here; ++i) {
                const QString& s = f_.Log[shown + i];
                if (!s.isEmpty() && s.count(QLatin1Char('-')) == s.size()) {
                    // The separator line, drawn as a rule.
                    const double mid = top(i) + lineH / 2;
                    doc_.Line(left(i), mid, left(i) + colW, mid, 2, kRule);
                    continue;
                }
                doc_.Text(left(i), top(i) + doc_.Ascent(font), doc_.Elide(LogLineText(s, &translation_), font, colW), font);
            }
            shown += here;
            const bool cut = shown < total && last;
            if (cut)
                doc_.Text(left(here), top(here) + doc_.Ascent(font),
                          doc_.Elide(Tr(QT_TRANSLATE_NOOP("Certificate", "… %1 more lines in the JSON file")).arg(total - shown),
                                     font, colW),
                          font);
            // Below the longest column.
            y_ += double(std::min(here + (cut ? 1 : 0), perColumn)) * lineH;
            if (cut)
                break;
            if (shown < total)
                NewPage();
        }
    }

    // Where the certificate ends, so that a page missing at its end shows.
    void End() {
        const QString end = Tr(QT_TRANSLATE_NOOP("Certificate", "End of certificate %1"))
                                .arg(Or(f_.CertificateNumber, QStringLiteral("-")));
        Room(kEndRoom);
        y_ += 20;
        Text(kLeft, y_, kWidth, QStringLiteral("— %1 —").arg(end), Font(8, true), kGray);
    }

    pdf::TDocument& doc_;
    const TFacts& f_;
    const TVerdict verdict_;
    const lang::TTranslation translation_;
    const int pages_;
    const QString jsonName_, jsonSha_;
    double y_ = kTop;
    int page_ = 1;
};

} // namespace

bool PdfFontsReady(QString* error) { return pdf::TFonts::System(error) != nullptr; }

bool WritePdf(const TFacts& f, const QString& path, QString* error, lang::TLanguage language, const QString& jsonName,
              const QString& jsonSha256) {
    auto fonts = pdf::TFonts::System(error);
    if (!fonts)
        return false;
    // Laid out once to count its pages, then drawn with "page n of m".
    int pages = 0;
    {
        pdf::TDocument count(kPageW, kPageH, kPointsPerUnit, fonts);
        TPainter painter(count, f, language, 0, jsonName, jsonSha256);
        painter.Draw();
        pages = painter.Pages();
    }
    // Drawn in memory, then written whole: a half-drawn PDF never stands
    // under the name, and an earlier one stays until the new one is complete.
    pdf::TDocument doc(kPageW, kPageH, kPointsPerUnit, std::move(fonts));
    TPainter(doc, f, language, pages, jsonName, jsonSha256).Draw();
    const QString title =
        QStringLiteral("Calibration certificate %1").arg(f.CertificateNumber.isEmpty() ? f.Device.Type : f.CertificateNumber);
    const QByteArray bytes = doc.Finish(QStringLiteral("%1 %2").arg(title, Iso(f.Started)),
                                        f.ToolVersion.isEmpty() ? QStringLiteral("kvctl") : f.ToolVersion);
    return kv::WriteFileWhole(path, bytes, error);
}

} // namespace kv::cert
