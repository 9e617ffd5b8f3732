// The programs' language: which one the environment asks for, the
// translations built into the programs, and the shared texts (status
// texts, the wizards' log lines) in either language.
#include "Language.h"
#include "StatusTexts.h"
#include "TsCatalog.h"
#include "WizardLog.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using kv::lang::TLanguage;

namespace {

TEST(Language, ParsedFromItsCode) {
    const struct {
        const char* text;
        std::optional<TLanguage> language;
    } cases[] = {{"hu", TLanguage::Hungarian}, {"HU", TLanguage::Hungarian}, {"en", TLanguage::English},
                 {"En", TLanguage::English},   {"", std::nullopt},           {"de", std::nullopt},
                 {"english", std::nullopt},    {"en_US", std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(kv::lang::ParseLanguage(QString::fromUtf8(c.text)), c.language) << c.text;
    EXPECT_EQ(kv::lang::LanguageCode(TLanguage::Hungarian), QStringLiteral("hu"));
    EXPECT_EQ(kv::lang::LanguageCode(TLanguage::English), QStringLiteral("en"));
}

// The C library's message locale, then Qt's list of the user's languages.
TEST(Language, ChosenByTheLocale) {
    const struct {
        const char* messages;
        QStringList ui;
        TLanguage language;
    } cases[] = {
        {"", {}, TLanguage::Hungarian},
        {"C", {"C"}, TLanguage::Hungarian},
        {"C.UTF-8", {"C"}, TLanguage::Hungarian},
        {"POSIX", {"C"}, TLanguage::Hungarian},
        // LANGUAGE does not count under the C locale, as gettext has it.
        {"C", {"de", "de-Latn-DE", "de-DE"}, TLanguage::Hungarian},
        {"C.UTF-8", {"en", "en-US"}, TLanguage::Hungarian},
        {"hu_HU.UTF-8", {"hu-HU", "hu-Latn-HU", "hu"}, TLanguage::Hungarian},
        {"en_US.UTF-8", {"en-US", "en-Latn-US", "en"}, TLanguage::English},
        {"en_GB", {"en-GB", "en"}, TLanguage::English},
        {"de_DE.UTF-8", {"de-DE", "de-Latn-DE", "de"}, TLanguage::English},
        {"fr_FR.UTF-8", {}, TLanguage::English},
        // LANGUAGE=de:hu: the first language the programs speak.
        {"de_DE.UTF-8", {"de", "de-DE", "hu", "hu-HU"}, TLanguage::Hungarian},
        {"en_US.UTF-8", {"hu", "hu-Latn-HU", "hu-HU"}, TLanguage::Hungarian},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kv::lang::LanguageFor(QString::fromUtf8(c.messages), c.ui), c.language)
            << c.messages << " " << c.ui.join(QLatin1Char(',')).toStdString();
}

TEST(Language, PatternsMadeAgainInAnotherLanguage) {
    const struct {
        const char* text;
        const char* pattern;
        const char* translated;
        std::optional<QString> result;
    } cases[] = {
        {"Lépés 7:", "Lépés %1:", "Step %1:", QStringLiteral("Step 7:")},
        {"Lépés 23:", "Lépés %1:", "Step %1:", QStringLiteral("Step 23:")},
        {"Lépés :", "Lépés %1:", "Step %1:", std::nullopt}, // no argument
        {"OFFSET_CH0 = 12", "Lépés %1:", "Step %1:", std::nullopt},
        {"Lépés 7", "Lépés %1:", "Step %1:", std::nullopt},
        {"x", "no argument", "none", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kv::lang::Rephrase(QString::fromUtf8(c.text), QString::fromUtf8(c.pattern),
                                     QString::fromUtf8(c.translated)),
                  c.result)
            << c.text;
}

// Every program carries both translations; one can translate without being
// installed, and installed it is what the shared texts speak.
TEST(Language, TranslationsBuiltIn) {
    const kv::lang::TTranslation english(TLanguage::English);
    ASSERT_TRUE(english.Loaded());
    EXPECT_EQ(english.Text("StatusTexts", "Súlyos hiba"), QStringLiteral("Serious error"));
    EXPECT_EQ(english.Text("StatusTexts", "not a message"), QStringLiteral("not a message"));
    EXPECT_EQ(kv::LogLineText(QStringLiteral("Lépés 12:"), &english), QStringLiteral("Step 12:"));
    // Not installed: the program still speaks Hungarian.
    EXPECT_EQ(kv::StatusText(1), std::optional<std::string>("Súlyos hiba"));
    EXPECT_EQ(kv::LogLineText(QStringLiteral("Lépés 12:")), QStringLiteral("Lépés 12:"));

    const kv::lang::TTranslation hungarian(TLanguage::Hungarian);
    EXPECT_EQ(hungarian.Text("StatusTexts", "Súlyos hiba"), QStringLiteral("Súlyos hiba"));
    EXPECT_EQ(kv::LogLineText(QStringLiteral("Lépés 12:"), &hungarian), QStringLiteral("Lépés 12:"));
}

kv::PollAnswer Uncalibrated() {
    kv::PollAnswer a;
    a.CalibrationYear = 0;
    a.InternalTemperature = -300.0f;
    a.RAM1DataSource = 4;
    a.RAM2DataSource = 9;
    a.WorkingTime = 3 * 1440 + 2 * 60 + 1;
    a.StatusCode = 4;
    return a;
}

TEST(Language, StatusTextsInEitherLanguage) {
    const kv::PollAnswer a = Uncalibrated();
    const struct {
        std::function<std::string()> text;
        const char* hungarian;
        const char* english;
    } cases[] = {
        {[&] { return kv::CalibrationDateText(a); }, "Kalibrálatlan!", "Uncalibrated!"},
        {[&] { return kv::DataSourceText(a.RAM1DataSource); }, "Gyári", "Factory"},
        {[&] { return kv::DataSourceText(a.RAM2DataSource); }, "???", "???"},
        {[&] { return kv::WorkingTimeText(a.WorkingTime); }, "3 nap, 2 óra, 1 perc, ", "3 d, 2 h, 1 min, "},
        {[&] { return kv::WorkingTimeText(59); }, "59 perc, ", "59 min, "},
        {[&] { return kv::InternalTemperatureText(a.InternalTemperature); }, "Hiba! Nincs adat.", "Error! No data."},
        {[&] { return *kv::StatusText(a.StatusCode); }, "Méréstartományon kívül esik", "Out of measuring range"},
        {[&] { return *kv::StatusText(0); }, "OK", "OK"},
        {[&] { return kv::StatusText(6).value_or("none"); }, "none", "none"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text(), c.hungarian);
    kv::lang::TTranslation english(TLanguage::English);
    ASSERT_TRUE(english.Install());
    for (const auto& c : cases)
        EXPECT_EQ(c.text(), c.english);
    // What JSON keeps for scripts to compare stays as it is.
    EXPECT_EQ(kv::CalibrationDateText(a, kv::TTextLanguage::Source), "Kalibrálatlan!");
    EXPECT_EQ(kv::DataSourceText(4, kv::TTextLanguage::Source), "Gyári");
    EXPECT_EQ(kv::WorkingTimeText(61, kv::TTextLanguage::Source), "1 óra, 1 perc, ");
    EXPECT_EQ(kv::StatusText(2, kv::TTextLanguage::Source), std::optional<std::string>("Szenzor v. vezeték hiba"));
    EXPECT_EQ(kv::LogLineText(QStringLiteral("Lépés 3:")), QStringLiteral("Step 3:"));
    EXPECT_EQ(kv::LogLineText(QStringLiteral("RREF_500_3W = 250,00 ohm")), QStringLiteral("RREF_500_3W = 250,00 ohm"));
}

// Both files hold only finished translations (the build's own check,
// translations_complete, also finds texts the files lack), and no English
// text still carries the Hungarian's letters.
TEST(Language, TranslationFilesFinished) {
    for (const char* file : {"kvsetup_en.ts", "kvsetup_hu.ts"}) {
        SCOPED_TRACE(file);
        const kvtest::TTsCatalog ts(QStringLiteral(KV_TRANSLATIONS_DIR "/") + QLatin1String(file));
        for (const kvtest::TTsMessage& m : ts.Messages()) {
            EXPECT_TRUE(m.Finished) << m.Context.toStdString() << ": " << m.Source.toStdString();
            // Placeholders kept: a translation that drops %1 loses the value.
            EXPECT_EQ(m.Source.count(QLatin1String("%1")), m.Translation.count(QLatin1String("%1")))
                << m.Source.toStdString();
        }
    }
    const kvtest::TTsCatalog en(QStringLiteral(KV_TRANSLATIONS_DIR "/kvsetup_en.ts"));
    ASSERT_TRUE(en.Ok());
    for (const kvtest::TTsMessage& m : en.Messages())
        EXPECT_FALSE(kvtest::HasHungarianLetters(m.Translation)) << m.Translation.toStdString();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
