// kvctl in English (--lang en, or an English locale through main): the
// status texts, the settings' captions and the certificate's log lines are
// translated; JSON keeps its field names and codes, only its text fields
// follow the language.
#include "cli_support.h"
#include "../station/pdf_support.h"

#include "Certificate.h"
#include "TsCatalog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

// The certificate is English unless --lang says otherwise: its PDF's log
// has "Step 1:"; the JSON keeps the log as the wizard wrote it.
TEST(KvctlLanguage, CertificateEnglishByDefault) {
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("out.pdf"));
    const QStringList calibrate = QStringList{"calibrate", "output", "--certificate", pdf} + clitest::SimBench(true);
    TCtlRig rig;
    rig.config.OutputCalibrated = false;
    clitest::ConsoleFixture(rig);
    ASSERT_EQ(rig.Run(QStringList{"--lang", "hu"} + calibrate), 0) << S(rig.err).toStdString();
    const auto hungarian = PdfText(pdf, 1, false);
    TCtlRig en;
    en.config.OutputCalibrated = false;
    clitest::ConsoleFixture(en);
    ASSERT_EQ(en.Run(calibrate), 0) << S(en.err).toStdString();
    QFile json(kv::cert::JsonPathFor(pdf));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(json.readAll())["log"].toArray().first().toString(), QString::fromUtf8("Lépés 1:"));
    const auto english = PdfText(pdf, 1, false);
    if (!english || !hungarian)
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    EXPECT_TRUE(english->Text.contains(QStringLiteral("Step 1:"))) << english->Text.toStdString();
    EXPECT_FALSE(english->Text.contains(QString::fromUtf8("Lépés")));
    EXPECT_TRUE(hungarian->Text.contains(QString::fromUtf8("Lépés 1:"))) << hungarian->Text.toStdString();
}

} // namespace
