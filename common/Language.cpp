#include "Language.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace kv::lang {

namespace {

// The compiled translations, built into every program that links this
// library (translations/translations.cmake).
QString ResourceFile(TLanguage language) {
    return QStringLiteral(":/kv/translations/kvsetup_%1.qm").arg(LanguageCode(language));
}

// "en", "en-US", "en_US.UTF-8", "hu-Latn-HU": the language part.
QString LanguagePart(const QString& name) {
    qsizetype end = 0;
    while (end < name.size() && name.at(end).isLetter())
        ++end;
    return name.left(end).toLower();
}

} // namespace

std::optional<TLanguage> ParseLanguage(QStringView name) {
    if (name.compare(QLatin1String("hu"), Qt::CaseInsensitive) == 0)
        return TLanguage::Hungarian;
    if (name.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0)
        return TLanguage::English;
    return std::nullopt;
}

QString LanguageCode(TLanguage language) {
    return language == TLanguage::English ? QStringLiteral("en") : QStringLiteral("hu");
}

TLanguage LanguageFor(const QString& messagesLocale, const QStringList& uiLanguages) {
    // "C", "C.UTF-8", "POSIX", or nothing set: the programs' own texts.
    const QString locale = messagesLocale.section(QLatin1Char('.'), 0, 0);
    if (locale.isEmpty() || locale == QLatin1String("C") || locale == QLatin1String("POSIX"))
        return TLanguage::Hungarian;
    for (const QString& ui : uiLanguages) {
        if (ui == QLatin1String("C"))
            return TLanguage::Hungarian;
        if (const auto language = ParseLanguage(LanguagePart(ui)))
            return *language;
    }
    return TLanguage::English;
}

TLanguage LanguageOfEnvironment() {
    QString messages;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        messages = qEnvironmentVariable(name);
        if (!messages.isEmpty())
            break;
    }
    return LanguageFor(messages, QLocale::system().uiLanguages());
}

TTranslation::TTranslation(TLanguage language) : language_(language), translator_(std::make_unique<QTranslator>()) {
    // A program built without the translation keeps its texts as they are.
    (void)translator_->load(ResourceFile(language));
}

// A translator still installed removes itself from the application.
TTranslation::~TTranslation() = default;

bool TTranslation::Loaded() const { return !translator_->isEmpty(); }

QString TTranslation::Text(const char* context, const char* source, const char* disambiguation) const {
    const QString text = translator_->translate(context, source, disambiguation);
    return text.isNull() ? QString::fromUtf8(source) : text;
}

bool TTranslation::Install() {
    return QCoreApplication::instance() && QCoreApplication::installTranslator(translator_.get());
}

std::optional<QString> Rephrase(const QString& text, const QString& pattern, const QString& translated) {
    const qsizetype at = pattern.indexOf(QLatin1String("%1"));
    if (at < 0)
        return std::nullopt;
    const QStringView prefix = QStringView(pattern).left(at);
    const QStringView suffix = QStringView(pattern).mid(at + 2);
    if (text.size() <= prefix.size() + suffix.size() || !text.startsWith(prefix) || !text.endsWith(suffix))
        return std::nullopt;
    const QString argument = text.mid(prefix.size(), text.size() - prefix.size() - suffix.size());
    return QString(translated).replace(QLatin1String("%1"), argument);
}

} // namespace kv::lang
