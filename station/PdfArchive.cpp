#include "PdfArchive.h"

#include <QtEndian>

#include <cmath>
#include <utility>
#include <vector>

namespace kv::pdf {

namespace {

void Append16(QByteArray& d, quint16 v) {
    char b[2];
    qToBigEndian(v, b);
    d.append(b, 2);
}
void Append32(QByteArray& d, quint32 v) {
    char b[4];
    qToBigEndian(v, b);
    d.append(b, 4);
}
// An ICC s15Fixed16Number.
void AppendFixed(QByteArray& d, double v) { Append32(d, quint32(qint32(std::lround(v * 65536.0)))); }

QByteArray Xyz(double x, double y, double z) {
    QByteArray t("XYZ \0\0\0\0", 8);
    AppendFixed(t, x);
    AppendFixed(t, y);
    AppendFixed(t, z);
    return t;
}

QByteArray Escaped(const QString& s) {
    return s.toHtmlEscaped().toUtf8();
}

QByteArray Offset(const QDateTime& when, const char* between) {
    const int minutes = when.offsetFromUtc() / 60;
    const int a = std::abs(minutes);
    return (minutes < 0 ? "-" : "+") + QByteArray::number(a / 60).rightJustified(2, '0') + between +
           QByteArray::number(a % 60).rightJustified(2, '0');
}

} // namespace

QByteArray SrgbProfile() {
    // Tag data: the description, the copyright, the white point (D50, as
    // the profile connection space has it), the primaries adapted to D50
    // with Bradford, and one tone curve that the three channels share.
    QByteArray desc("desc\0\0\0\0", 8);
    Append32(desc, quint32(sizeof kSrgbName));
    desc.append(kSrgbName, sizeof kSrgbName);
    desc.append(QByteArray(4 + 4 + 2 + 1 + 67, '\0')); // no Unicode or Macintosh description
    const char copyright[] = "No copyright, use freely";
    QByteArray cprt("text\0\0\0\0", 8);
    cprt.append(copyright, sizeof copyright);
    QByteArray curve("curv\0\0\0\0", 8);
    constexpr int kSamples = 1024;
    Append32(curve, kSamples);
    for (int i = 0; i < kSamples; ++i) {
        const double v = double(i) / (kSamples - 1);
        const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        Append16(curve, quint16(std::lround(linear * 65535.0)));
    }
    const std::vector<std::pair<const char*, QByteArray>> tags = {
        {"desc", desc},
        {"cprt", cprt},
        {"wtpt", Xyz(0.9642, 1.0, 0.8249)},
        {"rXYZ", Xyz(0.436066, 0.222488, 0.013916)},
        {"gXYZ", Xyz(0.385147, 0.716873, 0.097076)},
        {"bXYZ", Xyz(0.143066, 0.060608, 0.714096)},
        {"rTRC", curve},
        {"gTRC", {}}, // the same data as rTRC
        {"bTRC", {}},
    };

    QByteArray table, data;
    Append32(table, quint32(tags.size()));
    const quint32 dataStart = 128 + 4 + 12 * quint32(tags.size());
    quint32 curveAt = 0;
    for (const auto& [sig, bytes] : tags) {
        table.append(sig, 4);
        if (bytes.isEmpty()) {
            Append32(table, curveAt);
            Append32(table, quint32(curve.size()));
            continue;
        }
        const quint32 at = dataStart + quint32(data.size());
        if (bytes.startsWith("curv"))
            curveAt = at;
        Append32(table, at);
        Append32(table, quint32(bytes.size()));
        data += bytes;
        data.append(QByteArray((4 - data.size() % 4) % 4, '\0'));
    }

    QByteArray header;
    Append32(header, dataStart + quint32(data.size()));
    Append32(header, 0);          // no preferred colour management module
    Append32(header, 0x02100000); // version 2.1
    header += "mntrRGB XYZ ";
    for (int part : {2026, 1, 1, 0, 0, 0}) // when the profile was made
        Append16(header, quint16(part));
    header += "acsp";
    header.append(QByteArray(4 + 4 + 4 + 4 + 8 + 4, '\0')); // platform, flags, maker, model, attributes, intent
    AppendFixed(header, 0.9642); // the D50 illuminant of the connection space
    AppendFixed(header, 1.0);
    AppendFixed(header, 0.8249);
    header.append(QByteArray(128 - header.size(), '\0')); // creator and reserved
    return header + table + data;
}

QString MetadataText(const QString& t) {
    QString clean;
    const QString n = t.normalized(QString::NormalizationForm_C);
    clean.reserve(n.size());
    for (qsizetype i = 0; i < n.size(); ++i) {
        const QChar c = n[i];
        if (c.isHighSurrogate() && i + 1 < n.size() && n[i + 1].isLowSurrogate()) {
            clean += c;
            clean += n[++i];
            continue;
        }
        const char16_t u = c.unicode();
        if (u == '\t' || u == '\n' || u == '\r') // XML would change a line's end: a blank for each
            clean += u' ';
        else
            clean += u >= 0x20 && u < 0xFFFE && !c.isSurrogate() ? c : QChar(QChar::ReplacementCharacter);
    }
    return clean;
}

QByteArray PdfDate(const QDateTime& when) {
    const QDateTime t = when.toOffsetFromUtc(when.offsetFromUtc());
    return "D:" + t.toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + Offset(t, "'") + '\'';
}

QByteArray XmpDate(const QDateTime& when) {
    const QDateTime t = when.toOffsetFromUtc(when.offsetFromUtc());
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + Offset(t, ":");
}

QByteArray XmpPacket(const QString& title, const QString& creator, const QDateTime& created) {
    const QByteArray date = XmpDate(created);
    const QByteArray tool = Escaped(MetadataText(creator));
    // The packet is not filtered in the file, so its "begin" mark is the
    // UTF-8 byte order mark that tells readers its encoding.
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Description rdf:about=\"\"\n"
           "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
           "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
           "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"\n"
           "    xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n"
           "   <dc:format>application/pdf</dc:format>\n"
           "   <dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" +
           Escaped(MetadataText(title)) +
           "</rdf:li></rdf:Alt></dc:title>\n"
           "   <xmp:CreatorTool>" +
           tool + "</xmp:CreatorTool>\n   <xmp:CreateDate>" + date + "</xmp:CreateDate>\n   <xmp:ModifyDate>" + date +
           "</xmp:ModifyDate>\n   <xmp:MetadataDate>" + date + "</xmp:MetadataDate>\n   <pdf:Producer>" + tool +
           "</pdf:Producer>\n"
           "   <pdfaid:part>2</pdfaid:part>\n"
           "   <pdfaid:conformance>B</pdfaid:conformance>\n"
           "  </rdf:Description>\n"
           " </rdf:RDF>\n"
           "</x:xmpmeta>\n"
           "<?xpacket end=\"w\"?>";
}

} // namespace kv::pdf
