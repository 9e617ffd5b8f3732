#pragma once
// The messages of a translation file (translations/*.ts) as a test reads
// them: to find texts left untranslated in a window walked in English, and
// to know what a caption of the code reads in English.
#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QXmlStreamReader>

#include <optional>
#include <vector>

namespace kvtest {

struct TTsMessage {
    QString Context, Source, Translation;
    bool Finished = false; // a translation that lrelease puts into the .qm
    // The texts the source stands for: "Lépés %1:" matches "Lépés 7:".
    QRegularExpression Pattern;
};

class TTsCatalog {
public:
    explicit TTsCatalog(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        QXmlStreamReader xml(&file);
        QString context;
        TTsMessage m;
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            const auto name = xml.name();
            if (name == QLatin1String("name")) {
                context = Text(xml);
            } else if (name == QLatin1String("message")) {
                m = TTsMessage{context, {}, {}, false, {}};
            } else if (name == QLatin1String("source")) {
                m.Source = Text(xml);
            } else if (name == QLatin1String("translation")) {
                const QString type = xml.attributes().value(QLatin1String("type")).toString();
                m.Translation = Text(xml);
                m.Finished = type.isEmpty() && !m.Translation.isEmpty();
                QStringList parts = m.Source.split(QLatin1String("%1"));
                for (QString& part : parts)
                    part = QRegularExpression::escape(part);
                m.Pattern = QRegularExpression(parts.join(QLatin1String(".+")));
                if (type != QLatin1String("vanished") && type != QLatin1String("obsolete"))
                    messages_.push_back(m);
            }
        }
        ok_ = !xml.hasError() && !messages_.empty();
    }

    bool Ok() const { return ok_; }
    const std::vector<TTsMessage>& Messages() const { return messages_; }

    // The source text `text` shows, unless it is shown translated: the first
    // message whose source (or pattern) occurs in it while its translation
    // does not stand there instead.
    std::optional<TTsMessage> Untranslated(const QString& text) const {
        for (const TTsMessage& m : messages_)
            if (m.Source != m.Translation && m.Pattern.match(text).hasMatch())
                return m;
        return std::nullopt;
    }

    // The translation of a source text in any context; the source itself
    // when there is none.
    QString Translation(const QString& source) const {
        for (const TTsMessage& m : messages_)
            if (m.Source == source && m.Finished)
                return m.Translation;
        return source;
    }

private:
    // An element's text; lupdate writes a control character as
    // <byte value="xd"/>.
    static QString Text(QXmlStreamReader& xml) {
        QString text;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isCharacters()) {
                text += xml.text();
            } else if (xml.isStartElement() && xml.name() == QLatin1String("byte")) {
                const QString value = xml.attributes().value(QLatin1String("value")).toString();
                text += QChar(value.mid(1).toUShort(nullptr, 16));
                xml.skipCurrentElement();
            } else if (xml.isEndElement()) {
                break;
            }
        }
        return text;
    }

    std::vector<TTsMessage> messages_;
    bool ok_ = false;
};

// Letters of the window's Hungarian that English never has.
inline bool HasHungarianLetters(const QString& text) {
    static const QRegularExpression letters(QStringLiteral("[áéíóöőúüűÁÉÍÓÖŐÚÜŰ]"));
    return letters.match(text).hasMatch();
}

} // namespace kvtest
