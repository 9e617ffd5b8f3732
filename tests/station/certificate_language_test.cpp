// The certificate in either language: the PDF's log lines translated (a
// wizard's "Lépés 7:" reads "Step 7:" in English), the JSON the same in both.
#include "Certificate.h"
#include "pdf_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace kv::cert;
using kv::lang::TLanguage;

namespace {

TFacts OutputRunFacts() {
    TFacts f;
    f.Kind = TKind::Output;
    f.Device.Type = QStringLiteral("KV7730");
    f.Device.PCBIdentityAddress = 0;
    f.Device.Firmware = QStringLiteral("v2016-10-11");
    f.Started = QDateTime(QDate(2026, 12, 8), QTime(1, 2, 3), QTimeZone(3600));
    f.Finished = f.Started.addSecs(5);
    f.Log = {QStringLiteral("Lépés 1:"), QStringLiteral("PWMForIL =  1 200"), QString(43, QLatin1Char('-')),
             QStringLiteral("Lépés 2:"), QStringLiteral("PWMForIH = 54 000"), QStringLiteral("Write withdrawn: value changed")};
    return f;
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(CertificateLanguage, LogLinesInTheCertificatesLanguage) {
    QTemporaryDir dir;
    const struct {
        TLanguage language;
        const char* shown;
        const char* notShown;
    } cases[] = {{TLanguage::English, "Step 2:", "Lépés"}, {TLanguage::Hungarian, "Lépés 2:", "Step 2:"}};
    QByteArray json;
    for (const auto& c : cases) {
        const QString pdf = dir.filePath(kv::lang::LanguageCode(c.language) + QStringLiteral(".pdf"));
        QString error;
        ASSERT_TRUE(WriteCertificate(OutputRunFacts(), pdf, &error, c.language)) << error.toStdString();
        // The JSON is the same whatever the PDF's language.
        const QByteArray written = Read(JsonPathFor(pdf));
        if (!json.isEmpty()) {
            EXPECT_EQ(written, json);
        }
        json = written;
        EXPECT_TRUE(json.contains("\"L\xc3\xa9p\xc3\xa9s 1:\""));
        const auto text = PdfText(pdf, 1, false);
        if (!text)
            GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
        EXPECT_TRUE(text->Text.contains(QString::fromUtf8(c.shown))) << text->Text.toStdString();
        EXPECT_FALSE(text->Text.contains(QString::fromUtf8(c.notShown))) << text->Text.toStdString();
        // Names, values and the wizards' English lines as they are.
        EXPECT_TRUE(text->Text.contains(QStringLiteral("PWMForIH = 54 000")));
        EXPECT_TRUE(text->Text.contains(QStringLiteral("Write withdrawn: value changed")));
    }
}

} // namespace
