// The calibration certificate: the verdict, the JSON against its documented
// fields, the PDF (A4, one or two pages, the verdict on every page, numbers
// without the locale's separator) and files written whole or not at all.
#include "Certificate.h"
#include "NumberPicture.h"
#include "certificate_facts.h"
#include "pdf_support.h"

#include <QCoreApplication>
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

namespace {

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int PdfPages(const QByteArray& pdf) {
    return int(QString::fromLatin1(pdf).count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![s\\w])"))));
}

TEST(CertificateVerdict, PassesOnlyAWrittenRunWithEveryFigureWithinTolerance) {
    struct TCase {
        const char* what;
        std::function<void(TFacts&)> change;
        bool passed;
        const char* reason;
    };
    const TCase cases[] = {
        {"as run", [](TFacts&) {}, true, ""},
        {"interrupted after the write", [](TFacts& f) { f.Failure = QStringLiteral("interrupted"); }, false,
         "did not finish: interrupted"},
        {"never written", [](TFacts& f) { f.Write = TWrite::NotSent; }, false, "not written"},
        {"no acknowledgement", [](TFacts& f) { f.Write = TWrite::Unacknowledged; }, false, "without acknowledgement"},
        {"nothing checked", [](TFacts& f) { f.Checks.clear(); }, false, "Nothing was checked"},
        {"one figure not checked after", [](TFacts& f) { f.Checks[1].AsLeft.reset(); }, false,
         "R5K was not checked"},
        {"just over the bound", [](TFacts& f) { f.Checks[0].AsLeft = 500.012 + 0.0301; }, false,
         "R500 as left is out of tolerance: error +0.030 ohm"},
        {"on the upper bound", [](TFacts& f) { f.Checks[0].AsLeft = 500.042; }, true, ""},
        {"on the lower bound", [](TFacts& f) { f.Checks[0].AsLeft = 499.982; }, true, ""},
        {"as-found out of tolerance does not matter", [](TFacts& f) { f.Checks[0].AsFound = 600; }, true, ""},
        {"a reading that is no number", [](TFacts& f) { f.Checks[0].AsLeft = std::nan(""); }, false,
         "error n/a"},
        {"a negative tolerance", [](TFacts& f) { f.Checks[1].Tolerance = -1; }, false, "R5K as left"},
    };
    for (const TCase& c : cases) {
        TFacts f = InputRun();
        c.change(f);
        const TVerdict v = Verdict(f);
        EXPECT_EQ(v.Passed, c.passed) << c.what;
        EXPECT_TRUE(v.Reason.contains(QString::fromUtf8(c.reason))) << c.what << ": " << v.Reason.toStdString();
        EXPECT_EQ(ToJson(f)[QStringLiteral("passed")].toBool(), c.passed) << c.what;
        EXPECT_EQ(ToJson(f)[QStringLiteral("result")].toString(), c.passed ? "passed" : "failed") << c.what;
    }
}

// Every field the schema documents, with its JSON type; and nothing else, so
// that the documentation stays the whole truth.
TEST(CertificateJson, HoldsTheDocumentedFieldsAndNoOthers) {
    using T = QJsonValue::Type;
    const std::vector<std::pair<QString, std::vector<std::pair<const char*, std::vector<T>>>>> schema = {
        {QString(),
         {{"schema", {T::String}},       {"calibration", {T::String}},    {"result", {T::String}},
          {"passed", {T::Bool}},         {"reason", {T::String, T::Null}}, {"failure", {T::String, T::Null}},
          {"started", {T::String}},      {"finished", {T::String}},       {"duration_s", {T::Double}},
          {"operator", {T::String, T::Null}}, {"kvctl_version", {T::String, T::Null}}, {"port", {T::String, T::Null}},
          {"device", {T::Object}},       {"references", {T::Array}},      {"checks", {T::Array}},
          {"record", {T::Object}},       {"log", {T::Array}}}},
        {QStringLiteral("device"),
         {{"type", {T::String}},
          {"pcb_identity_address", {T::Double}},
          {"firmware", {T::String}},
          {"calibration_date_before", {T::String, T::Null}},
          {"calibration_date_after", {T::String, T::Null}}}},
        {QStringLiteral("record"),
         {{"command", {T::Double}}, {"state", {T::String}}, {"bytes", {T::String}}, {"values", {T::Array}}}},
        {QStringLiteral("checks/0"),
         {{"name", {T::String}},
          {"unit", {T::String}},
          {"target", {T::Double}},
          {"tolerance", {T::Double}},
          {"as_found", {T::Object, T::Null}},
          {"as_left", {T::Object, T::Null}},
          {"passed", {T::Bool}}}},
        {QStringLiteral("checks/0/as_left"),
         {{"value", {T::Double}}, {"error", {T::Double}}, {"within_tolerance", {T::Bool}}}},
        {QStringLiteral("references/0"), {{"name", {T::String}}, {"value", {T::Double}}, {"unit", {T::String}}}},
        {QStringLiteral("record/values/0"), {{"name", {T::String}}, {"value", {T::Double}}}},
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
    // The meter's entry names it instead of a value.
    const QJsonObject meter = ToJson(OutputRun())[QStringLiteral("references")].toArray()[0].toObject();
    EXPECT_EQ(meter.keys(), (QStringList{QStringLiteral("identity"), QStringLiteral("name")}));
}

TEST(CertificateJson, CarriesTheRunsFactsAsNumbersAndIsoTimes) {
    // The locale must change nothing: Hungarian writes 500,012.
    QLocale::setDefault(QLocale(QLocale::Hungarian, QLocale::Hungary));
    kv::SetDecimalSeparator(',');
    TFacts f = InputRun();
    f.Device.Before = {true, {}};
    f.Device.After = {false, {}};
    const QJsonObject j = ToJson(f);
    const QJsonObject device = j[QStringLiteral("device")].toObject();
    const QJsonObject record = j[QStringLiteral("record")].toObject();
    const QJsonArray values = record[QStringLiteral("values")].toArray();
    const QJsonObject r500 = j[QStringLiteral("checks")].toArray()[0].toObject();
    QLocale::setDefault(QLocale::c());
    kv::SetDecimalSeparator('.');

    EXPECT_EQ(j[QStringLiteral("schema")].toString(), "kvctl.calibration/1");
    EXPECT_EQ(j[QStringLiteral("calibration")].toString(), "input");
    EXPECT_EQ(j[QStringLiteral("started")].toString(), "2026-12-08T01:02:03.456+01:00");
    EXPECT_EQ(j[QStringLiteral("finished")].toString(), "2026-12-08T01:03:27.706+01:00");
    EXPECT_DOUBLE_EQ(j[QStringLiteral("duration_s")].toDouble(), 84.25);
    EXPECT_EQ(j[QStringLiteral("operator")].toString(), QStringLiteral("Kovács Éva"));
    EXPECT_EQ(device[QStringLiteral("calibration_date_before")].toString(), "uncalibrated");
    EXPECT_TRUE(device[QStringLiteral("calibration_date_after")].isNull());
    EXPECT_EQ(record[QStringLiteral("command")].toInt(), 2);
    EXPECT_EQ(record[QStringLiteral("state")].toString(), "acknowledged");
    EXPECT_EQ(record[QStringLiteral("bytes")].toString().size(), 144);
    EXPECT_TRUE(record[QStringLiteral("bytes")].toString().startsWith(QLatin1String("2efbffff"))); // -1234
    // The record's order, each single as the shortest decimal that is it.
    ASSERT_EQ(values.size(), 18);
    EXPECT_EQ(values[0].toObject()[QStringLiteral("name")].toString(), "OFFSET_CH0");
    EXPECT_EQ(values[5].toObject()[QStringLiteral("name")].toString(), "RREF_500_3W");
    EXPECT_EQ(values[17].toObject()[QStringLiteral("name")].toString(), "OFFSET_CH0_3W_5K");
    const QByteArray text = QJsonDocument(j).toJson();
    EXPECT_TRUE(text.contains("\"value\": 500.12\n")) << text.constData();
    EXPECT_TRUE(text.contains("\"value\": -1234\n"));
    EXPECT_TRUE(text.contains("\"target\": 500.012,")) << "a check, with a full stop";
    // Errors without binary noise: 500.020 - 500.012.
    EXPECT_EQ(r500[QStringLiteral("as_left")].toObject()[QStringLiteral("error")].toDouble(), 0.008);
    EXPECT_FALSE(r500[QStringLiteral("as_found")].toObject()[QStringLiteral("within_tolerance")].toBool());
    EXPECT_EQ(j[QStringLiteral("log")].toArray().size(), 22 * 3 + 21);
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

TEST(CertificatePdf, IsA4OnOneOrTwoPagesWithTheVerdictOnEach) {
    struct TCase {
        const char* what;
        TFacts facts;
        int pages;
        bool passed;
    };
    TFacts longLog = InputRun();
    for (int i = 0; i < 1000; ++i)
        longLog.Log << QStringLiteral("line %1 of a log far longer than any wizard leaves").arg(i);
    TFacts interrupted = InputRun();
    interrupted.Failure = QStringLiteral("interrupted");
    interrupted.Write = TWrite::NotSent;
    interrupted.Checks[0].AsLeft.reset();
    interrupted.Checks[1].AsLeft.reset();
    interrupted.Device.After = {};
    TFacts empty;
    TFacts hungarian = InputRun();
    hungarian.Operator = QStringLiteral("Szőke Űrhajós Éva");
    TFacts foreign = InputRun();
    foreign.Operator = QStringLiteral("Дмитрий Łukasz Żółć");
    const TCase cases[] = {
        {"input, passed", hungarian, 2, true},
        {"operator in Cyrillic and Polish letters", foreign, 2, true},
        {"output, passed", OutputRun(), 1, true},
        {"a log longer than two pages", longLog, 2, true},
        {"interrupted", interrupted, 2, false},
        {"nothing known", empty, 1, false},
    };
    // Numbers must not follow the locale in the PDF either.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    kv::SetDecimalSeparator(',');
    QTemporaryDir dir;
    for (const TCase& c : cases) {
        const QString path = dir.filePath(QStringLiteral("c.pdf"));
        QString error;
        ASSERT_TRUE(WritePdf(c.facts, path, &error)) << c.what << ": " << error.toStdString();
        const QByteArray pdf = ReadAll(path);
        EXPECT_TRUE(pdf.startsWith("%PDF-")) << c.what;
        EXPECT_EQ(PdfPages(pdf), c.pages) << c.what;
        EXPECT_TRUE(pdf.contains("/MediaBox [0 0 595")) << c.what << ": A4 is 595 x 842 points";
        for (int page = 1; page <= c.pages; ++page) {
            const auto read = PdfText(path, page);
            if (!read)
                continue;
            EXPECT_EQ(read->Errors, QString()) << c.what;
            const QString* text = &read->Text;
            EXPECT_EQ(text->contains(QLatin1String("FAILED / NOT CALIBRATED")), !c.passed) << c.what << " page " << page;
            EXPECT_TRUE(text->contains(QStringLiteral("page %1 of %2").arg(page).arg(c.pages))) << c.what;
            if (page == 1 && c.facts.Kind == TKind::Input && c.passed) {
                EXPECT_TRUE(text->contains(QLatin1String("500.012 ohm"))) << text->toStdString();
                EXPECT_TRUE(text->contains(QLatin1String("+0.008"))) << text->toStdString();
                EXPECT_TRUE(text->contains(QLatin1String("2026-12-08T01:02:03.456+01:00")));
                EXPECT_TRUE(text->contains(QLatin1String("500.12")));
                EXPECT_TRUE(text->contains(c.facts.Operator)) << text->toStdString();
            }
        }
        if (c.pages == 2 && std::string(c.what).starts_with("a log")) {
            const auto read = PdfText(path, 2);
            if (read) {
                const QString* last = &read->Text;
                EXPECT_TRUE(last->contains(QLatin1String("more lines in the JSON file")));
            }
        }
    }
    QLocale::setDefault(QLocale::c());
    kv::SetDecimalSeparator('.');
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
        const QByteArray pdf = ReadAll(path);
        // A typical certificate stays small: its four faces are subsets.
        EXPECT_LT(pdf.size(), 60000) << c.what;
        const auto read = PdfText(path, 1);
        QString errors;
        const auto fonts = PdfFonts(path, &errors);
        if (!read || !fonts)
            GTEST_SKIP() << "poppler-utils is not installed";
        EXPECT_TRUE(read->Text.contains(QString::fromUtf8(c.read))) << c.what << ": " << read->Text.toStdString();
        EXPECT_EQ(errors, QString()) << c.what;
        ASSERT_EQ(fonts->size(), 4u) << c.what << ": sans and mono, regular and bold";
        for (const TPdfFont& f : *fonts) {
            EXPECT_EQ(f.Type, QStringLiteral("CID TrueType")) << c.what << " " << f.Name.toStdString();
            EXPECT_EQ(f.Embedded, QStringLiteral("yes")) << c.what << " " << f.Name.toStdString();
            EXPECT_EQ(f.ToUnicode, QStringLiteral("yes")) << c.what << " " << f.Name.toStdString();
        }
    }
}

TEST(CertificateFiles, AreWrittenWholeOrNotAtAll) {
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
    EXPECT_EQ(QJsonDocument::fromJson(ReadAll(dir.filePath(QStringLiteral("SN1234.json")))).object(),
              ToJson(OutputRun()));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("SN1234.json"), QStringLiteral("SN1234.pdf")}))
        << "no temporary file stays behind";

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
