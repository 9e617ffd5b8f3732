// kvctl in English (--lang en, or an English locale through main): the
// status texts, the settings' captions and the certificate's log lines are
// translated; JSON keeps its field names and codes, only its text fields
// follow the language.
#include "cli_support.h"
#include "../station/pdf_support.h"

#include "Certificate.h"
#include "TsCatalog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

using clitest::TCtlRig;

namespace {

QString S(const QByteArray& b) { return QString::fromUtf8(b); }

// A device whose answer makes the status show its rarer texts.
kvsim::TDeviceConfig Uncalibrated() {
    kvsim::TDeviceConfig c = kvsim::TDeviceConfig::Steady();
    c.InputCalibrated = false;
    return c;
}

TEST(KvctlLanguage, StatusInEnglish) {
    {
        TCtlRig rig;
        rig.config = Uncalibrated();
        ASSERT_EQ(rig.Run({"--lang", "en", "status"}), 0) << S(rig.err).toStdString();
        const QString out = S(rig.out);
        for (const char* line : {"Input mode:            Temperature (Pt 100)", "Working time:          ",
                                 "Status:                "})
            EXPECT_TRUE(out.contains(QString::fromUtf8(line))) << out.toStdString();
        EXPECT_TRUE(out.contains(QStringLiteral(" min, "))) << out.toStdString();
        EXPECT_FALSE(kvtest::HasHungarianLetters(out)) << out.toStdString();
    }
    // The same device in Hungarian, the texts' own language (the English
    // kvctl is gone with its translation).
    TCtlRig hu;
    hu.config = Uncalibrated();
    ASSERT_EQ(hu.Run({"--lang=hu", "status"}), 0);
    EXPECT_TRUE(S(hu.out).contains(QString::fromUtf8("Input mode:            Hőmérséklet (Pt 100)")));
    EXPECT_TRUE(S(hu.out).contains(QStringLiteral(" perc, ")));
}

// Every field of `hu` is in `en` with the same value, except the text
// fields ("text", "*_text"), which are translated; returns how many differ.
int CompareJson(const QJsonValue& hu, const QJsonValue& en, const QString& path) {
    int translated = 0;
    if (hu.isObject()) {
        const QJsonObject h = hu.toObject(), e = en.toObject();
        EXPECT_EQ(h.keys(), e.keys()) << path.toStdString();
        for (const QString& key : h.keys()) {
            const QString at = path + QLatin1Char('.') + key;
            if ((key == QLatin1String("text") || key.endsWith(QLatin1String("_text"))) && h[key].isString())
                translated += h[key] != e[key];
            else if (key != QLatin1String("time"))
                translated += CompareJson(h[key], e[key], at);
        }
        return translated;
    }
    if (hu.isArray()) {
        const QJsonArray h = hu.toArray(), e = en.toArray();
        EXPECT_EQ(h.size(), e.size()) << path.toStdString();
        for (qsizetype i = 0; i < std::min(h.size(), e.size()); ++i)
            translated += CompareJson(h[i], e[i], path + QStringLiteral("[%1]").arg(i));
        return translated;
    }
    EXPECT_EQ(hu, en) << path.toStdString();
    return 0;
}

TEST(KvctlLanguage, JsonKeepsFieldNamesAndCodes) {
    QJsonObject json[2];
    const char* const languages[] = {"hu", "en"};
    for (int i = 0; i < 2; ++i) {
        TCtlRig rig;
        rig.config = Uncalibrated();
        ASSERT_EQ(rig.Run({"status", "--json", "--lang", QString::fromLatin1(languages[i])}), 0);
        json[i] = QJsonDocument::fromJson(rig.out).object();
    }
    // The mode's caption at least, and the calibration's dashes do not change.
    EXPECT_GE(CompareJson(json[0], json[1], QStringLiteral("status")), 1);
    const QJsonObject& hu = json[0];
    const QJsonObject& en = json[1];
    EXPECT_EQ(en["settings"]["mode_text"].toString(), QStringLiteral("Temperature (Pt 100)"));
    EXPECT_EQ(en["device"]["calibration_date"], hu["device"]["calibration_date"]);
}

TEST(KvctlLanguage, SettingsDiffTranslatesTheTextNotTheJson) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("tc.kvs"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Header]\nKV=KV5510/KV7730\n[Settings]\nRadioGroup_Mode=2\nRadioGroup_Wires=2\nRadioGroup_TCType=3\n"
            "RadioGroup_CJC=1\nRadioGroup_RefreshTime=0\nRadioGroup_OutputMode=0\nRadioButton_ErrorLow=1\n"
            "RadioButton_ErrorHigh=0\nCheckBox_DisableErrorSignal=0\nEdit_FizikaiForOutL=0\n"
            "Edit_FizikaiForOutH=100\n[Date]\nDate=2026-12-06\n");
    f.close();
    TCtlRig text;
    EXPECT_EQ(text.Run({"--lang", "en", "settings", "diff", file}), 1);
    EXPECT_TRUE(S(text.out).contains(
        QStringLiteral("mode           device: 0 Temperature (Pt 100)  ->  file: 2 Temperature (thermocouple)")))
        << S(text.out).toStdString();
    EXPECT_TRUE(S(text.out).contains(QStringLiteral("cjc            device: 0 Internal  ->  file: 1 External, Pt1000")))
        << S(text.out).toStdString();
    TCtlRig json;
    EXPECT_EQ(json.Run({"--lang", "en", "--json", "settings", "diff", file}), 1);
    const QJsonArray diffs = QJsonDocument::fromJson(json.out).object()["differences"].toArray();
    ASSERT_FALSE(diffs.isEmpty()) << S(json.out).toStdString();
    // The value is the same in every language; only its text beside it
    // follows --lang.
    EXPECT_EQ(diffs[0].toObject()["file"].toInt(-1), 2);
    EXPECT_EQ(diffs[0].toObject()["file_text"].toString(), QStringLiteral("2 Temperature (thermocouple)"));
}

TEST(KvctlLanguage, OnlyHungarianOrEnglish) {
    for (const char* value : {"de", "", "english"}) {
        TCtlRig rig;
        EXPECT_EQ(rig.Run({"--lang", QString::fromLatin1(value), "status"}), 2) << value;
        EXPECT_TRUE(S(rig.err).contains(*value ? QStringLiteral("bad value for --lang")
                                               : QStringLiteral("--lang is given an empty value")))
            << S(rig.err).toStdString();
        EXPECT_EQ(rig.port, nullptr);
    }
}

// The certificate is English unless --lang says otherwise: its PDF's
// headings and log ("Step 1:") follow it; the JSON keeps the log as the
// wizard wrote it.
TEST(KvctlLanguage, CertificateEnglishByDefault) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    const QStringList calibrate =
        QStringList{"calibrate", "output", "--certificate", pdf, "--serial", "SN1"} + clitest::SimBench(true);
    TCtlRig rig;
    rig.config.OutputCalibrated = false;
    clitest::ConsoleFixture(rig);
    ASSERT_EQ(rig.Run(QStringList{"--lang", "hu"} + calibrate), 0) << S(rig.err).toStdString();
    const auto hungarian = PdfDocumentText(pdf);
    TCtlRig en;
    en.config.OutputCalibrated = false;
    clitest::ConsoleFixture(en);
    ASSERT_EQ(en.Run(calibrate), 0) << S(en.err).toStdString();
    QFile json(kv::cert::JsonPathFor(pdf));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(json.readAll())["log"].toArray().first().toString(), QString::fromUtf8("Lépés 1:"));
    const auto english = PdfDocumentText(pdf);
    if (!english || !hungarian)
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    EXPECT_TRUE(english->Text.contains(QStringLiteral("Step 1:"))) << english->Text.toStdString();
    EXPECT_TRUE(english->Text.contains(QStringLiteral("Calibration certificate")));
    EXPECT_FALSE(english->Text.contains(QString::fromUtf8("Lépés")));
    EXPECT_TRUE(hungarian->Text.contains(QString::fromUtf8("Lépés 1:"))) << hungarian->Text.toStdString();
    EXPECT_TRUE(hungarian->Text.contains(QString::fromUtf8("Kalibrálási bizonyítvány")));
    EXPECT_FALSE(hungarian->Text.contains(QStringLiteral("Calibration certificate")));
}

// What kvctl puts on every certificate: the name as meant however it was
// typed (an accent as a combining character), in the PDF and the JSON
// alike; a number claimed in the register beside it, the next run's the
// next; the JSON file's digest in the PDF.
TEST(KvctlCertificate, NamesNumbersAndTheDigest) {
    QTemporaryDir dir;
    const QString typed = QString::fromUtf8("Дмитрий Łukasz Z\xCC\x87o\xCC\x81\xC5\x82" "c\xCC\x81");
    const QString meant = QString::fromUtf8("Дмитрий Łukasz Żółć");
    ASSERT_NE(typed, meant);
    QStringList numbers;
    for (const char* name : {"first.pdf", "second.pdf"}) {
        const QString pdf = dir.filePath(QString::fromLatin1(name));
        TCtlRig rig;
        rig.config.OutputCalibrated = false;
        const int exit = rig.Run({"calibrate", "output", "--meter", "/dev/ttyMEM1", "--certificate", pdf, "--serial",
                                  " KV-0042\r\n", "--ambient", "23.1C,45%RH", "--operator", typed});
        EXPECT_LE(exit, 1) << "the run reached the device and ended on its own: " << S(rig.err).toStdString();
        QFile file(kv::cert::JsonPathFor(pdf));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QJsonObject j = QJsonDocument::fromJson(bytes).object();
        EXPECT_EQ(j["operator"].toString(), meant);
        EXPECT_EQ(j["serial"].toString(), "KV-0042") << "a scanner's line end is no part of it";
        EXPECT_EQ(j["ambient"]["relative_humidity_percent"].toDouble(), 45);
        const QString number = j["certificate_number"].toString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Z0-9-]+-20261206-\\d{4}$")).match(number).hasMatch())
            << number.toStdString();
        numbers << number;
        QFile claim(QDir(dir.filePath(QStringLiteral("certificate-numbers"))).filePath(number));
        ASSERT_TRUE(claim.open(QIODevice::ReadOnly)) << "the claim stands in the register";
        EXPECT_TRUE(claim.readAll().contains("issued " + pdf.toUtf8()));
        const auto text = PdfDocumentText(pdf);
        if (!text)
            continue;
        EXPECT_TRUE(text->Text.contains(meant)) << text->Text.toStdString();
        EXPECT_TRUE(text->Text.contains(QStringLiteral("Certificate No. ") + number));
        EXPECT_TRUE(text->Text.contains(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex())));
    }
    ASSERT_EQ(numbers.size(), 2);
    EXPECT_EQ(numbers[0].right(4).toInt() + 1, numbers[1].right(4).toInt());
}

} // namespace
