// The calibration certificate: the verdict read from the facts, the JSON
// against its documented fields with the meter's digits and the budgets,
// the PDF (the verdict and the certificate's number on every page, the
// points as found and as left, long tables across pages, the JSON's digest,
// Hungarian headings) and files written whole or not at all.
#include "Certificate.h"
#include "CertificateText.h"
#include "NumberPicture.h"
#include "certificate_facts.h"
#include "pdf_support.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <functional>

using namespace kv::cert;
using kv::cert::samples::InputRun;
using kv::cert::samples::OutputRun;
using kv::cert::samples::VerificationRun;
using kv::station::TOutcome;
using kv::station::TPutBack;
using kv::station::TVerdictKind;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int PdfPages(const QByteArray& pdf) {
    return int(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s\\w])"))));
}

// Every page's text as pdftotext reads it (raw order: no layout columns
// between words); none without poppler-utils.
std::optional<QStringList> PagesText(const QString& path, int pages) {
    QStringList texts;
    for (int page = 1; page <= pages; ++page) {
        const auto read = PdfText(path, page, false);
        if (!read)
            return std::nullopt;
        EXPECT_EQ(read->Errors, QString()) << path.toStdString() << " page " << page;
        texts << read->Text;
    }
    return texts;
}

void SetLeft(TFacts& f, std::size_t point, std::optional<TOutcome> result) {
    f.Points.at(point).AsLeft.Result = result;
}

TEST(CertificateVerdict, SaysWhatTheDeviceNowHolds) {
    struct TCase {
        const char* what;
        std::function<TFacts()> facts;
        TVerdictKind kind;
        const char* reason;
    };
    const auto input = [](std::function<void(TFacts&)> change) {
        return [change] {
            TFacts f = InputRun();
            change(f);
            return f;
        };
    };
    const TCase cases[] = {
        {"every as-left point passed", input([](TFacts&) {}), TVerdictKind::Passed, "all 5 as-left points passed"},
        {"as found out of tolerance does not matter", input([](TFacts& f) { f.Points[0].AsFound.Result = TOutcome::Fail; }),
         TVerdictKind::Passed, "written and acknowledged"},
        {"an as-left point conditional", input([](TFacts& f) { SetLeft(f, 2, TOutcome::Conditional); }),
         TVerdictKind::AdjustedFailedVerification, "1 of 5 as-left points was conditional"},
        {"an as-left point failed", input([](TFacts& f) { SetLeft(f, 4, TOutcome::Fail); }),
         TVerdictKind::AdjustedFailedVerification, "1 of 5 as-left points failed"},
        {"an as-left point not measured", input([](TFacts& f) {
             f.Points[3].AsLeft = {};
             f.Points[3].AsLeft.NotMeasured = QStringLiteral("the fixture failed");
         }),
         TVerdictKind::AdjustedFailedVerification, "input at 75 % (Pt 100, 4 wires): the fixture failed"},
        {"written, nothing verified after", input([](TFacts& f) { f.Points.clear(); }),
         TVerdictKind::AdjustedFailedVerification, "no as-left point was verified"},
        {"written, the output not verified", input([](TFacts& f) { f.NotVerified = {QStringLiteral("the output (no meter)")}; }),
         TVerdictKind::AdjustedFailedVerification, "not verified: the output (no meter)"},
        {"its own check out of tolerance after the write", input([](TFacts& f) { f.Checks[0].AsLeft = 500.1; }),
         TVerdictKind::AdjustedFailedVerification, "failed"},
        {"refused to write", input([](TFacts& f) {
             f.Write = TWrite::NotSent;
             f.NotWrittenBecause = QStringLiteral("step 5/23: the value is out of range");
         }),
         TVerdictKind::Failed, "Nothing was written (step 5/23: the value is out of range); the device keeps"},
        {"interrupted after the write", input([](TFacts& f) { f.Failure = QStringLiteral("interrupted"); }),
         TVerdictKind::NotCompleted, "The run stopped (interrupted): the device holds the new calibration"},
        {"no acknowledgement", input([](TFacts& f) { f.Write = TWrite::Unacknowledged; }), TVerdictKind::NotCompleted,
         "may hold the old or the new calibration"},
        {"left in another mode", input([](TFacts& f) {
             f.Failure = QStringLiteral("the device stopped answering");
             f.SettingsGivenBack = TPutBack::Unknown;
             f.LeftIn = QStringLiteral("resistance 0-5 kohm, 4 wires");
         }),
         TVerdictKind::NotCompleted, "is not known (left in resistance 0-5 kohm, 4 wires)"},
        {"a verification that passed", [] { return VerificationRun(); }, TVerdictKind::Passed,
         "All 8 points passed; nothing was written"},
        {"a verification with a conditional point", [] {
             TFacts f = VerificationRun();
             f.Points[6].AsFound.Result = TOutcome::Conditional;
             return f;
         },
         TVerdictKind::Failed, "1 of 8 points was conditional"},
        {"nothing known", [] { return TFacts{}; }, TVerdictKind::Failed, "Nothing was written"},
        {"a run of both that wrote the output only", [] {
             TFacts f = InputRun();
             f.Kind = TKind::All;
             f.Write = TWrite::NotSent;
             f.OutputWrite = TWrite::Acknowledged;
             return f;
         },
         TVerdictKind::Passed, "holds the new calibration"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const TFacts f = c.facts();
        const TVerdict v = Verdict(f);
        EXPECT_EQ(v.Kind, c.kind);
        EXPECT_TRUE(v.Reason.contains(QString::fromUtf8(c.reason))) << v.Reason.toStdString();
        // kvctl's exit code, the JSON and the PDF read the same verdict.
        const QJsonObject j = ToJson(f);
        EXPECT_EQ(j["passed"].toBool(), c.kind == TVerdictKind::Passed);
        EXPECT_EQ(j["verdict"]["code"].toString(), kv::station::VerdictCode(c.kind));
        EXPECT_EQ(j["verdict"]["title"].toString(), kv::station::VerdictTitle(c.kind));
        EXPECT_EQ(j["verdict"]["reason"].toString(), v.Reason);
    }
}

// The figures as the instruments gave them: a meter's digits, a single's
// shortest decimal, six significant digits of a computed figure; errors to
// the digits of both figures.
TEST(CertificateFigures, KeepTheirOwnDigitsWithoutBinaryNoise) {
    const struct {
        double in, shown;
        int decimals;
    } figures[] = {
        {19.99876, 19.99876, 5},
        {double(100.0123f), 100.0123, 4},       // the device's single
        {100.00155370231, 100.002, 3},          // IEC 60751 computed back
        {0.1 + 0.2, 0.3, 1},                    // binary noise
        {1.5e-05, 1.5e-05, 6},
        {-0.0, 0.0, 0},
        {850, 850, 0},
    };
    for (const auto& f : figures) {
        EXPECT_EQ(Shown(f.in), f.shown) << f.in;
        EXPECT_EQ(DecimalsOf(Shown(f.in)), f.decimals) << f.in;
    }
    TPoint p;
    p.Nominal = 12.0;
    p.Span = 16;
    TPointReading r;
    r.Readings = {12.00121, 12.00123, 12.00122};
    r.Value = (12.00121 + 12.00123 + 12.00122) / 3;
    EXPECT_EQ(ShownValue(r), 12.00122);
    EXPECT_EQ(ErrorOf(p, r), 0.00122);
    EXPECT_EQ(PercentOfSpan(p, r), 0.007625);
    // Judged against what it had to read, as the run says.
    r.Expected = 12.0031;
    EXPECT_EQ(ErrorOf(p, r), -0.00188);
    r.Error = -0.001883333;
    EXPECT_EQ(ErrorOf(p, r), -0.00188);
    TPointReading none;
    EXPECT_FALSE(ShownValue(none));
    EXPECT_FALSE(ErrorOf(p, none));
}

TEST(CertificateFigures, ReadTheAmbientConditionsAsTyped) {
    const struct {
        const char* text;
        std::optional<double> temperature, humidity;
    } cases[] = {
        {"23.1C,45%RH", 23.1, 45},
        {"23,1 °C; 45,5 %rH", 23.1, 45.5},
        {"-5C", -5, std::nullopt},
        {"45%", std::nullopt, 45},
        {"see the lab's log", std::nullopt, std::nullopt},
        {"1013 hPa, 22 °C", 22, std::nullopt},
    };
    for (const auto& c : cases) {
        const TAmbient a = AmbientOf(QString::fromUtf8(c.text));
        EXPECT_EQ(a.Temperature, c.temperature) << c.text;
        EXPECT_EQ(a.Humidity, c.humidity) << c.text;
    }
}

// Every field the schema documents (kvctl help json holds the same list
// against kvctl's own output), with its JSON type; nothing else.
TEST(CertificateJson, HoldsTheDocumentedFieldsAndNoOthers) {
    using T = QJsonValue::Type;
    const std::vector<T> text{T::String, T::Null}, number{T::Double, T::Null};
    const std::vector<std::pair<QString, std::vector<std::pair<const char*, std::vector<T>>>>> schema = {
        {QString(),
         {{"schema", {T::String}},          {"certificate_number", text},    {"calibration", {T::String}},
          {"verdict", {T::Object}},         {"passed", {T::Bool}},           {"failure", text},
          {"not_written_because", text},    {"started", text},               {"finished", text},
          {"duration_s", number},           {"operator", text},              {"serial", text},
          {"kvctl_version", text},          {"port", text},                  {"station", {T::Object}},
          {"ambient", {T::Object, T::Null}}, {"device", {T::Object}},        {"meter", {T::Object, T::Null}},
          {"source", {T::Object, T::Null}}, {"references", {T::Array}},      {"rule", {T::Object}},
          {"points", {T::Array}},           {"not_verified", {T::Array}},    {"checks", {T::Array}},
          {"record", {T::Object}},          {"output_record", {T::Object, T::Null}}, {"log", {T::Array}}}},
        {QStringLiteral("verdict"), {{"code", {T::String}}, {"title", {T::String}}, {"reason", {T::String}}}},
        {QStringLiteral("station"), {{"lab", text}, {"address", text}, {"station", text}, {"procedure", text}}},
        {QStringLiteral("ambient"), {{"text", {T::String}}, {"temperature_c", number}, {"relative_humidity_percent", number}}},
        {QStringLiteral("device"),
         {{"type", text},
          {"pcb_identity_address", number},
          {"firmware", text},
          {"calibration_date_before", text},
          {"calibration_date_after", text},
          {"working_time_minutes", number},
          {"internal_temperature_start", number},
          {"internal_temperature_end", number}}},
        {QStringLiteral("source"), {{"name", text}, {"serial", text}, {"certificate", text}, {"due", text}}},
        {QStringLiteral("rule"), {{"code", {T::String}}, {"name", {T::String}}, {"statement", {T::String}}}},
        {QStringLiteral("references/0"),
         {{"name", {T::String}}, {"value", number}, {"unit", text}, {"uncertainty", number}, {"serial", text},
          {"certificate", text}, {"due", text}}},
        {QStringLiteral("points/0"),
         {{"quantity", text},          {"path", text},           {"percent", number},
          {"source", text},            {"nominal", number},      {"unit", text},
          {"span", number},            {"tolerance", number},    {"as_found", number},
          {"as_left", number},         {"expected", {T::Object}}, {"error_as_found", number},
          {"error_as_left", number},   {"error_percent_span", {T::Object}}, {"uncertainty", {T::Object}},
          {"tur", {T::Object}},        {"result", {T::Object}},  {"readings", {T::Object}},
          {"not_measured", {T::Object}}}},
        {QStringLiteral("points/0/result"), {{"as_found", text}, {"as_left", text}}},
        {QStringLiteral("points/0/uncertainty/as_left"),
         {{"unit", {T::String}}, {"components", {T::Array}}, {"combined", number}, {"k", number}, {"expanded", number},
          {"tur", number}}},
        {QStringLiteral("checks/0"),
         {{"name", {T::String}}, {"unit", {T::String}}, {"target", number}, {"tolerance", number},
          {"as_found", {T::Object, T::Null}}, {"as_left", {T::Object, T::Null}}, {"passed", {T::Bool}}}},
        {QStringLiteral("record"),
         {{"command", {T::Double}}, {"state", {T::String}}, {"bytes", {T::String}}, {"values", {T::Array}}}},
    };
    const QJsonObject root = ToJson(InputRun());
    for (const auto& [path, fields] : schema) {
        QJsonValue node = root;
        for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
            node = node.isArray() ? node.toArray().at(part.toInt()) : node.toObject().value(part);
        ASSERT_TRUE(node.isObject()) << path.toStdString();
        const QJsonObject o = node.toObject();
        EXPECT_EQ(o.size(), qsizetype(fields.size())) << path.toStdString() << ": " << o.keys().join(' ').toStdString();
        for (const auto& [name, types] : fields)
            EXPECT_NE(std::find(types.begin(), types.end(), o.value(QLatin1String(name)).type()), types.end())
                << path.toStdString() << "/" << name;
    }
    // The meter on its own, with its identity and traceability.
    const QJsonObject meter = ToJson(OutputRun())["meter"].toObject();
    EXPECT_EQ(meter.keys(), (QStringList{"certificate", "due", "identity", "serial"}));
    EXPECT_EQ(meter["due"].toString(), "2027-03-31");
    EXPECT_TRUE(ToJson(OutputRun())["references"].toArray().isEmpty());
}

TEST(CertificateJson, CarriesTheFactsTheBudgetsAndNullWhereNothingIsKnown) {
    // The locale must change nothing: Hungarian writes 500,012.
    QLocale::setDefault(QLocale(QLocale::Hungarian, QLocale::Hungary));
    kv::SetDecimalSeparator(',');
    TFacts f = InputRun();
    f.Device.Before = {true, {}};
    f.Device.After = {false, {}};
    const QJsonObject j = ToJson(f);
    const QByteArray text = JsonBytes(f);
    QLocale::setDefault(QLocale::c());
    kv::SetDecimalSeparator('.');

    EXPECT_EQ(j["schema"].toString(), "kvctl.calibration/2");
    EXPECT_EQ(j["certificate_number"].toString(), "LINE-3-20261208-0007");
    EXPECT_EQ(j["serial"].toString(), "SN-0042");
    EXPECT_EQ(j["calibration"].toString(), "input");
    EXPECT_EQ(j["started"].toString(), "2026-12-08T01:02:03.456+01:00");
    EXPECT_DOUBLE_EQ(j["duration_s"].toDouble(), 84.25);
    EXPECT_EQ(j["station"]["procedure"].toString(), "KV-CAL-01 rev. 2");
    EXPECT_EQ(j["ambient"]["temperature_c"].toDouble(), 23.1);
    EXPECT_EQ(j["device"]["working_time_minutes"].toInt(), 17480);
    EXPECT_EQ(j["device"]["internal_temperature_end"].toDouble(), 33.5);
    EXPECT_EQ(j["device"]["calibration_date_before"].toString(), "uncalibrated");
    EXPECT_TRUE(j["device"]["calibration_date_after"].isNull());
    EXPECT_EQ(j["rule"]["code"].toString(), "guarded");
    EXPECT_EQ(j["source"]["serial"].toString(), "DB7-118");
    EXPECT_TRUE(j["meter"].isNull());
    EXPECT_TRUE(j["output_record"].isNull());
    EXPECT_EQ(j["record"]["state"].toString(), "acknowledged");
    EXPECT_TRUE(j["record"]["bytes"].toString().startsWith(QLatin1String("2efbffff"))); // -1234
    EXPECT_EQ(j["log"].toArray().size(), 22 * 3 + 21);

    // A point: its figures with their own digits, its budget whole.
    const QJsonObject p = j["points"][2].toObject();
    EXPECT_EQ(p["nominal"].toDouble(), 100.0016);
    EXPECT_EQ(p["as_left"].toDouble(), 100.0136);
    EXPECT_EQ(p["error_as_left"].toDouble(), 0.012);
    EXPECT_EQ(p["error_percent_span"]["as_left"].toDouble(), 0.006);
    EXPECT_EQ(p["result"]["as_found"].toString(), "fail");
    EXPECT_EQ(p["result"]["as_left"].toString(), "pass");
    EXPECT_EQ(p["readings"]["as_left"].toArray().size(), 3);
    EXPECT_TRUE(p["expected"]["as_left"].isNull());
    const TPointReading& left = f.Points[2].AsLeft;
    EXPECT_EQ(p["uncertainty"]["as_left"].toObject(), kv::station::BudgetJson(*left.Budget, 0.2));
    EXPECT_EQ(p["uncertainty"]["as_left"]["components"].toArray().size(), 3);
    EXPECT_EQ(p["tur"]["as_left"].toDouble(), p["uncertainty"]["as_left"]["tur"].toDouble());
    EXPECT_NEAR(p["tur"]["as_left"].toDouble(), 0.2 / left.Budget->Expanded(), 1e-4);
    // No binary noise anywhere, no empty texts, a full stop in numbers.
    EXPECT_FALSE(QRegularExpression(QStringLiteral("\\d\\.\\d*0000000\\d|\\d\\.\\d*9999999\\d")).match(QString::fromUtf8(text)).hasMatch())
        << text.constData();
    EXPECT_FALSE(text.contains(": \"\"")) << "an empty text where null belongs";
    EXPECT_TRUE(text.contains("\"value\": 500.012")) << "a reference, with a full stop";

    // Nothing known: nulls, never "".
    const QByteArray empty = JsonBytes(TFacts{});
    EXPECT_FALSE(empty.contains(": \"\"")) << empty.constData();
    const QJsonObject e = QJsonDocument::fromJson(empty).object();
    EXPECT_TRUE(e["device"]["type"].isNull());
    EXPECT_TRUE(e["device"]["pcb_identity_address"].isNull());
    EXPECT_TRUE(e["certificate_number"].isNull());
    EXPECT_TRUE(e["ambient"].isNull());
    EXPECT_TRUE(e["station"]["lab"].isNull());
}

TEST(CertificateJson, NamesTheFileBesideThePdf) {
    const std::pair<const char*, const char*> cases[] = {
        {"/srv/certs/SN1234.pdf", "/srv/certs/SN1234.json"},
        {"SN1234.PDF", "SN1234.json"},
        {"cert", "cert.json"},
        {"x.pdf.old", "x.pdf.old.json"},
    };
    for (const auto& [pdf, json] : cases)
        EXPECT_EQ(JsonPathFor(QString::fromLatin1(pdf)), QString::fromLatin1(json)) << pdf;
}

// Every page of every verdict: the verdict with its reason, the certificate's
// number and "page n of m"; a failed run's verdict also across the page.
TEST(CertificatePdf, EveryPageCarriesTheVerdictAndTheNumber) {
    struct TCase {
        const char* what;
        TFacts facts;
        const char* title;
    };
    TFacts conditional = InputRun();
    SetLeft(conditional, 1, TOutcome::Conditional);
    TFacts refused = InputRun();
    refused.Write = TWrite::NotSent;
    refused.NotWrittenBecause = QStringLiteral("R500 as found is 0.5 ohm off");
    for (TPoint& p : refused.Points)
        p.AsLeft = {};
    TFacts interrupted = OutputRun();
    interrupted.Failure = QStringLiteral("interrupted");
    TFacts unverified = InputRun();
    for (int i = 0; i < 30; ++i)
        unverified.NotVerified << QStringLiteral("the millivolt path at %1 mV (no source)").arg(i);
    TFacts longLog = InputRun();
    for (int i = 0; i < 1000; ++i)
        longLog.Log << QStringLiteral("line %1 of a log far longer than any wizard leaves").arg(i);
    const TCase cases[] = {
        {"input, passed", InputRun(), "PASSED"},
        {"output, conditional after the write", conditional, "ADJUSTED – FAILED VERIFICATION"},
        {"refused to write", refused, "FAILED"},
        {"interrupted", interrupted, "NOT COMPLETED"},
        {"a verification", VerificationRun(), "PASSED"},
        {"a log of many pages", longLog, "PASSED"},
        {"a reason of many lines", unverified, "ADJUSTED – FAILED VERIFICATION"},
    };
    // Numbers must not follow the locale in the PDF either.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    kv::SetDecimalSeparator(',');
    QTemporaryDir dir;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = dir.filePath(QStringLiteral("c.pdf"));
        QString error;
        ASSERT_TRUE(WritePdf(c.facts, path, &error)) << error.toStdString();
        const QByteArray pdf = ReadAll(path);
        EXPECT_TRUE(pdf.contains("/MediaBox [0 0 595")) << "A4 is 595 x 842 points";
        const int pages = PdfPages(pdf);
        EXPECT_GE(pages, 2) << "the log's annex has a page of its own";
        const auto texts = PagesText(path, pages);
        if (!texts)
            GTEST_SKIP() << "poppler-utils is not installed";
        const QString reason = Verdict(c.facts).Reason;
        for (int page = 1; page <= pages; ++page) {
            const QString& text = (*texts)[page - 1];
            EXPECT_TRUE(text.contains(QStringLiteral("Verdict: %1").arg(QString::fromUtf8(c.title)))) << page;
            EXPECT_TRUE(text.simplified().contains(reason.left(60))) << page << text.toStdString();
            EXPECT_TRUE(text.contains(QStringLiteral("Certificate No. LINE-3-20261208-0007"))) << page;
            EXPECT_TRUE(text.contains(QStringLiteral("Page %1 of %2").arg(page).arg(pages))) << page;
        }
        // Where it ends, on its last page.
        EXPECT_TRUE(texts->back().contains(QLatin1String("End of certificate LINE-3-20261208-0007")));
        if (std::string(c.what) == "a log of many pages") {
            // The log's annex takes three pages at most; the JSON has the rest.
            EXPECT_TRUE((*texts)[pages - 3].contains(QLatin1String("Annex B: log (1087 lines)")));
            EXPECT_TRUE(texts->back().contains(QLatin1String("more lines in the JSON file")));
        }
        if (std::string(c.what) == "a reason of many lines") {
            // Whole on the first page; its first lines, what the device
            // holds, on the others.
            EXPECT_TRUE((*texts)[0].simplified().contains(QLatin1String("at 29 mV (no source).")));
            EXPECT_FALSE(texts->back().simplified().contains(QLatin1String("at 29 mV")));
        }
        if (std::string(c.what) == "input, passed") {
            const QString all = texts->join(QLatin1Char('\n'));
            for (const char* s : {"SN-0042", "Calibration laboratory of the example plant", "KV-CAL-01 rev. 2",
                                  "23.1C,45%RH", "31.3 °C", "33.5 °C", "17480 min (12 d 3 h 20 min)", "DB7-118",
                                  "CAL-2026-203", "2027-06-30", "Guarded acceptance (ILAC-G8)", "100.0016 °C",
                                  "100.0136 °C", "+0.0120 °C", "± 0.2 °C", "0.031 °C", "Performed by", "Reviewed by",
                                  "Kovács Éva", "Annex A: uncertainty budgets", "Combined standard uncertainty",
                                  "traceable to national measurement standards (SI)",
                                  "500.12", "2026-12-08T01:02:03.456+01:00"})
                EXPECT_TRUE(all.contains(QString::fromUtf8(s))) << s;
        }
    }
    QLocale::setDefault(QLocale::c());
    kv::SetDecimalSeparator('.');
}

// The decision rule's three outcomes as a verification's rows show them, and
// a points table longer than a page: it breaks between points, its head
// repeated, no row lost.
TEST(CertificatePdf, ShowsEachPointsOutcomeAndBreaksLongTablesCleanly) {
    TFacts f = VerificationRun();
    f.Points[0].AsFound.Result = TOutcome::Conditional;
    f.Points[1].AsFound.Result = TOutcome::Fail;
    // 40 more points: the table goes on over the next page.
    for (int i = 0; i < 40; ++i) {
        TPoint p = f.Points[2];
        p.Percent = 1000 + i;
        f.Points.push_back(p);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("v.pdf"));
    QString error;
    ASSERT_TRUE(WritePdf(f, path, &error)) << error.toStdString();
    const int pages = PdfPages(ReadAll(path));
    const auto texts = PagesText(path, pages);
    if (!texts)
        GTEST_SKIP() << "poppler-utils is not installed";
    const QString all = texts->join(QLatin1Char('\n'));
    const QString results = all.left(all.indexOf(QLatin1String("Annex A")));
    EXPECT_TRUE(all.contains(QLatin1String("conditional")));
    EXPECT_TRUE(all.contains(QLatin1String("FAIL")));
    EXPECT_TRUE(all.contains(QLatin1String("pass")));
    EXPECT_TRUE(all.contains(QLatin1String("Verdict: FAILED")));
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(results.count(QStringLiteral("Pt 100, 4 wires, %1 %").arg(1000 + i)), 1) << i;
    int continued = 0;
    for (const QString& t : *texts)
        continued += t.contains(QLatin1String("Input: the device's calculated value (continued)")) ? 1 : 0;
    EXPECT_GE(continued, 1) << "the table's head again on the next page";
}

TEST(CertificatePdf, CarriesItsFontsAndNamesTheOperatorAsTyped) {
    struct TCase {
        const char* what;
        TFacts facts;
        const char* typed; // the operator's name as given
        const char* read;  // as the PDF's text reads back
    };
    TFacts output = OutputRun();
    output.Failure = QStringLiteral("interrupted"); // the verdict across the page
    const TCase cases[] = {
        {"input", InputRun(), "Дмитрий Łukasz Żółć", "Дмитрий Łukasz Żółć"},
        {"output, failed", output, "Σωκράτης Ame\xCC\x81lie", "Σωκράτης Amélie"},
    };
    QTemporaryDir dir;
    for (TCase c : cases) {
        c.facts.Operator = QString::fromUtf8(c.typed);
        const QString path = dir.filePath(QStringLiteral("c.pdf"));
        QString error;
        ASSERT_TRUE(WritePdf(c.facts, path, &error)) << c.what << ": " << error.toStdString();
        // A typical certificate stays small: its four faces are subsets.
        EXPECT_LT(ReadAll(path).size(), 90000) << c.what;
        const auto read = PdfText(path, 1);
        QString errors;
        const auto fonts = PdfFonts(path, &errors);
        if (!read || !fonts)
            GTEST_SKIP() << "poppler-utils is not installed";
        EXPECT_TRUE(read->Text.contains(QString::fromUtf8(c.read))) << c.what << ": " << read->Text.toStdString();
        EXPECT_EQ(errors, QString()) << c.what;
        ASSERT_EQ(fonts->size(), 4u) << c.what << ": sans and mono, regular and bold";
        for (const TPdfFont& f : *fonts) {
            EXPECT_EQ(f.Embedded, QStringLiteral("yes")) << c.what << " " << f.Name.toStdString();
            EXPECT_EQ(f.ToUnicode, QStringLiteral("yes")) << c.what << " " << f.Name.toStdString();
        }
    }
}

// A Hungarian reader's certificate: the headings in Hungarian, the facts
// (numbers, names, the JSON) the same.
TEST(CertificatePdf, SpeaksHungarianWhenAsked) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("hu.pdf"));
    QString error;
    ASSERT_TRUE(WritePdf(InputRun(), path, &error, kv::lang::TLanguage::Hungarian)) << error.toStdString();
    const int pages = PdfPages(ReadAll(path));
    const auto texts = PagesText(path, pages);
    if (!texts)
        GTEST_SKIP() << "poppler-utils is not installed";
    const QString all = texts->join(QLatin1Char('\n'));
    for (const char* s : {"Kalibrálási bizonyítvány", "Bizonyítvány száma: LINE-3-20261208-0007", "MEGFELELT",
                          "Kalibrált eszköz", "Sorozatszám vagy azonosító", "Döntési szabály", "Eredmények",
                          "Végezte", "Ellenőrizte", "100.0016 °C", "Kovács Éva"})
        EXPECT_TRUE(all.contains(QString::fromUtf8(s))) << s;
    for (const char* s : {"Calibration certificate", "Item calibrated", "Performed by"})
        EXPECT_FALSE(all.contains(QString::fromUtf8(s))) << s;
}

TEST(CertificateFiles, AreWrittenWholeWithTheJsonsDigestInThePdf) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("SN1234.pdf"));
    // An earlier certificate of the same name is replaced.
    QFile old(pdf);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older certificate");
    old.close();
    QString error;
    ASSERT_TRUE(WriteCertificate(OutputRun(), pdf, &error)) << error.toStdString();
    EXPECT_TRUE(ReadAll(pdf).startsWith("%PDF-"));
    const QByteArray json = ReadAll(dir.filePath(QStringLiteral("SN1234.json")));
    EXPECT_EQ(json, JsonBytes(OutputRun()));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("SN1234.json"), QStringLiteral("SN1234.pdf")}))
        << "no temporary file stays behind";
    // The digest printed is the file's, byte for byte.
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(json, QCryptographicHash::Sha256).toHex());
    if (const auto texts = PagesText(pdf, PdfPages(ReadAll(pdf)))) {
        const QString all = texts->join(QLatin1Char('\n'));
        EXPECT_TRUE(all.contains(QStringLiteral("The electronic record of this certificate is SN1234.json, SHA-256:")));
        EXPECT_TRUE(all.contains(sha)) << sha.toStdString();
    }

    // A name that cannot be written: nothing is left, and the error says where.
    const QString blocked = dir.filePath(QStringLiteral("taken.pdf"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("taken.pdf")));
    const QString missing = dir.filePath(QStringLiteral("no/such/folder/c.pdf"));
    for (const QString& path : {blocked, missing}) {
        error.clear();
        EXPECT_FALSE(WriteCertificate(InputRun(), path, &error)) << path.toStdString();
        EXPECT_TRUE(error.startsWith(path)) << error.toStdString();
        EXPECT_FALSE(QFile::exists(JsonPathFor(path)));
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
