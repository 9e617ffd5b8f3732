#pragma once
// The language the programs speak, and their translations.
//
// The texts in the code are the programs' own Hungarian texts: they are what
// the window, kvctl and the certificates show in Hungarian, and the source
// texts of Qt's translation files (translations/*.ts, compiled to .qm at
// build time and built into the programs as resources). Two translations
// exist: English (every text a user sees, from Hungarian) and Hungarian (the
// certificate's headings, which are written in English in the code).
//
// Which language: `--lang hu|en` when given; otherwise Hungarian under a
// Hungarian locale and under the C/POSIX locale (so that scripts and tests
// see what they always saw), English under every other locale. A
// calibration certificate is English unless `--lang` says otherwise.
//
// Texts are marked where they stand (tr(), QT_TRANSLATE_NOOP,
// QCoreApplication::translate with a fixed context), so that the window and
// kvctl translate a shared text the same way from the same file.
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdint>
#include <memory>
#include <optional>

class QTranslator;

namespace kv::lang {

enum class TLanguage : std::uint8_t { Hungarian, English };

// "hu" or "en" (any letter case); none for anything else.
std::optional<TLanguage> ParseLanguage(QStringView name);
// "hu", "en".
QString LanguageCode(TLanguage language);

// The language for a message locale (the first of LC_ALL, LC_MESSAGES and
// LANG that is set, as the C library takes it) and the user's list of
// languages (QLocale::system().uiLanguages(), which also reads LANGUAGE).
// The C or POSIX locale (or none set) means Hungarian whatever LANGUAGE
// says, as gettext has it; otherwise the first language in the list that
// the programs speak, and English when none is.
TLanguage LanguageFor(const QString& messagesLocale, const QStringList& uiLanguages);
// The same for this process's environment.
TLanguage LanguageOfEnvironment();

// The programs' translation into one language, loaded from the resources.
// It can translate on its own (a certificate in another language than the
// program's), or be installed as the application's translation, which
// tr() and QCoreApplication::translate then use until it is destroyed.
class TTranslation {
public:
    explicit TTranslation(TLanguage language);
    ~TTranslation();
    TTranslation(const TTranslation&) = delete;
    TTranslation& operator=(const TTranslation&) = delete;

    TLanguage Language() const { return language_; }
    // False when the translation is missing from the program (a build
    // without it): every text then stays as it is in the code.
    bool Loaded() const;
    // `source` in this language: its translation, or the source itself when
    // there is none. `source` is UTF-8.
    QString Text(const char* context, const char* source, const char* disambiguation = nullptr) const;
    // Makes it the application's translation (needs a QCoreApplication).
    bool Install();

private:
    TLanguage language_;
    std::unique_ptr<QTranslator> translator_;
};

// A text made from a pattern with one argument ("Lépés %1:" made "Lépés
// 7:"), made again from `translated` (the pattern's translation): "Step 7:".
// None when `text` was not made from `pattern`.
std::optional<QString> Rephrase(const QString& text, const QString& pattern, const QString& translated);

} // namespace kv::lang
