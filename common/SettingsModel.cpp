#include "SettingsModel.h"

#include "IniFile.h"

#include <deque>
#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <optional>
#include <cfloat>
#include <string>
#include <vector>

namespace kv {
namespace {

// Windows-1250, bytes 0x80-0xFF. The five bytes it leaves undefined map to
// the control characters of the same value, as the system's own conversion
// does, so that every byte survives a round trip.
const char16_t kCp1250[128] = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// The display formats by input mode 0-7.
struct TModeFormats {
    const char* szamitottFormat;
    const char* szamitottUnit;
    const char* fizikaiFormat;
    const char* fizikaiUnit;
};
const TModeFormats kModeFormats[kModeItems] = {
    {"0.0", "°C", "0.00", "ohm"},   // Pt 100
    {"0.0", "°C", "0.0", "ohm"},    // Pt 1000
    {"0.0", "°C", "0.000", "mV"},   // thermocouple
    {"0.00", "%", "0.00", "ohm"},   // potentiometer 0-500 ohm
    {"0.00", "%", "0.0", "ohm"},    // potentiometer 0-5k ohm
    {"0.00", "ohm", "0.00", "ohm"}, // resistance 0-500 ohm
    {"0.0", "ohm", "0.0", "ohm"},   // resistance 0-5k ohm
    {"0.00", "mV", "0.00", "mV"},   // voltage
};

// The error levels' captions are the page's own texts, marked for
// translation in the context "SettingsModel".
const char* const kLow32mA = QT_TRANSLATE_NOOP("SettingsModel", "Alacsony (3,2 mA)");
const char* const kHigh22mA = QT_TRANSLATE_NOOP("SettingsModel", "Magas (22 mA)");
const char* const kLow16V = QT_TRANSLATE_NOOP("SettingsModel", "Alacsony (1,6 V)");
const char* const kHigh11V = QT_TRANSLATE_NOOP("SettingsModel", "Magas (11 V)");
const char* const kHigh55V = QT_TRANSLATE_NOOP("SettingsModel", "Magas (5,5 V)");
// The captions by output type 0-4. A range whose low end is zero cannot
// signal below it, so both levels read as the high one there.
const char* const kOutputCaptions[kOutputModeItems][4] = {
    {"4 mA", "20 mA", kLow32mA, kHigh22mA},
    {"0 mA", "20 mA", kHigh22mA, kHigh22mA},
    {"0 V", "10 V", kHigh11V, kHigh11V},
    {"2 V", "10 V", kLow16V, kHigh11V},
    {"0 V", "5 V", kHigh55V, kHigh55V},
};

constexpr char kSettings[] = "Settings";

// The radio groups in the file's order.
struct TGroupKey {
    const char* key;
    int count;
    int SettingsPage::*field;
};
const TGroupKey kGroupKeys[] = {
    {"RadioGroup_Mode", kModeItems, &SettingsPage::Mode},
    {"RadioGroup_Wires", kWiresItems, &SettingsPage::Wires},
    {"RadioGroup_TCType", kTCTypeItems, &SettingsPage::TCType},
    {"RadioGroup_CJC", kCJCItems, &SettingsPage::CJC},
    {"RadioGroup_RefreshTime", kRefreshTimeItems, &SettingsPage::RefreshTime},
    {"RadioGroup_OutputMode", kOutputModeItems, &SettingsPage::OutputMode},
};
struct TCheckKey {
    const char* key;
    bool SettingsPage::*field;
};
const TCheckKey kCheckKeys[] = {
    {"RadioButton_ErrorLow", &SettingsPage::ErrorLow},
    {"RadioButton_ErrorHigh", &SettingsPage::ErrorHigh},
    {"CheckBox_DisableErrorSignal", &SettingsPage::DisableErrorSignal},
};
struct TTextKey {
    const char* key;
    QString SettingsPage::*field;
    double fallback;
};
const TTextKey kTextKeys[] = {
    {"Edit_FizikaiForOutL", &SettingsPage::FizikaiForOutL, 0.0},
    {"Edit_FizikaiForOutH", &SettingsPage::FizikaiForOutH, 100.0},
};

bool IsAscii(const QString& s) {
    return std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// A scaling text in the file ends at its first control character: an edit
// holds one line of printable text, and a NUL or a line break can be
// neither shown nor stored in a key line.
std::string_view ScalingTextBytes(std::string_view bytes) {
    const auto end = std::find_if(bytes.begin(), bytes.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
    return bytes.substr(0, static_cast<std::size_t>(end - bytes.begin()));
}

QString Quoted(std::string_view bytes, bool utf8) {
    return QLatin1Char('"') + DecodeSettingsText(bytes, utf8) + QLatin1Char('"');
}

} // namespace

int SelectItem(int value, int count) {
    if (value < 0 || count <= 0)
        return -1;
    return std::min(value, count - 1);
}

float ScalingValue(const QString& text, double fallback, char sep) {
    // Straight into a single: a text that names a single (a kvctl backup's)
    // gives exactly that single back.
    const std::string t = text.toStdString();
    float exact = 0;
    bool beyond = false;
    if (ParseDecimal(t, sep, exact, &beyond))
        return exact;
    double v = fallback;
    if (!beyond || !ParseDecimal(t, sep, v))
        v = fallback;
    // The device is never sent an infinity.
    return static_cast<float>(std::clamp(v, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

SettingsRecord RecordFromPage(const SettingsPage& page, char sep) {
    const auto indexOr = [](int index, int none) { return static_cast<std::uint8_t>(index < 0 ? none : index); };
    SettingsRecord r;
    r.Mode = indexOr(page.Mode, 0);
    r.Wires = page.Wires == 0 ? 2 : page.Wires == 1 ? 3 : 4; // no selection: 4
    r.TCType = indexOr(page.TCType, 3);
    r.CJC = indexOr(page.CJC, 0);
    r.Reserved = 0;
    r.FizikaiForOutL = ScalingValue(page.FizikaiForOutL, 0.0, sep);
    r.FizikaiForOutH = ScalingValue(page.FizikaiForOutH, 100.0, sep);
    r.OutputMode = indexOr(page.OutputMode, 0);
    r.ErrorSignalFlags = 0;
    if (page.ErrorHigh) // whatever is not high counts as low
        r.ErrorSignalFlags |= errsig::High;
    if (page.DisableErrorSignal)
        r.ErrorSignalFlags |= errsig::Disabled;
    return r;
}

std::optional<DisplayFormats> FormatsForMode(int mode) {
    if (mode < 0 || mode >= kModeItems)
        return std::nullopt;
    const TModeFormats& f = kModeFormats[mode];
    return DisplayFormats{QString::fromUtf8(f.szamitottFormat), QString::fromUtf8(f.szamitottUnit),
                          QString::fromUtf8(f.fizikaiFormat), QString::fromUtf8(f.fizikaiUnit)};
}

std::optional<OutputCaptions> CaptionsForOutput(int outputMode) {
    if (outputMode < 0 || outputMode >= kOutputModeItems)
        return std::nullopt;
    const auto& c = kOutputCaptions[outputMode];
    return OutputCaptions{QString::fromUtf8(c[0]), QString::fromUtf8(c[1]),
                          QCoreApplication::translate("SettingsModel", c[2]),
                          QCoreApplication::translate("SettingsModel", c[3])};
}

SettingsPage PageFromRecord(const SettingsRecord& record, DisplayFormats& formats, char sep) {
    SettingsPage p;
    p.Mode = SelectItem(record.Mode, kModeItems);
    if (const auto f = FormatsForMode(record.Mode))
        formats = *f;
    p.Wires = SelectItem(static_cast<int>(record.Wires) - 2, kWiresItems);
    p.TCType = SelectItem(record.TCType, kTCTypeItems);
    p.CJC = SelectItem(record.CJC, kCJCItems);
    const std::string picture = formats.SzamitottErtekFormat.toStdString();
    p.FizikaiForOutL = QString::fromStdString(FormatPicture(record.FizikaiForOutL, picture, sep));
    p.FizikaiForOutH = QString::fromStdString(FormatPicture(record.FizikaiForOutH, picture, sep));
    p.OutputMode = SelectItem(record.OutputMode, kOutputModeItems);
    p.DisableErrorSignal = (record.ErrorSignalFlags & errsig::Disabled) != 0;
    p.ErrorHigh = (record.ErrorSignalFlags & errsig::High) != 0;
    p.ErrorLow = !p.ErrorHigh;
    return p;
}

QString ExactScalingText(float value, char sep) { return QString::fromStdString(SingleText(value, sep)); }

SettingsPage ExactPageFromRecord(const SettingsRecord& record, char sep) {
    DisplayFormats formats;
    SettingsPage p = PageFromRecord(record, formats, sep);
    p.FizikaiForOutL = ExactScalingText(record.FizikaiForOutL, sep);
    p.FizikaiForOutH = ExactScalingText(record.FizikaiForOutH, sep);
    return p;
}

QString WithSettingsFileExtension(const QString& name) {
    const QString file = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    // A leading dot names a hidden file, not an extension.
    if (file.lastIndexOf(QLatin1Char('.')) > 0)
        return name;
    return name + QLatin1Char('.') + QLatin1String(kSettingsFileExtension);
}

QString SettingsFileDate(const QDate& date, const QLocale& locale) {
    // Digits and month names of the C locale keep the text ASCII.
    const QString text = QLocale::c().toString(date, locale.dateFormat(QLocale::ShortFormat));
    if (!text.isEmpty() && IsAscii(text))
        return text;
    return date.toString(Qt::ISODate);
}

std::string EncodeSettingsText(const QString& text, bool utf8) {
    if (utf8)
        return text.toStdString();
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            out += static_cast<char>(u);
            continue;
        }
        const auto* hit = std::find(std::begin(kCp1250), std::end(kCp1250), u);
        out += hit == std::end(kCp1250) ? '?' : static_cast<char>(0x80 + (hit - std::begin(kCp1250)));
    }
    return out;
}

QString DecodeSettingsText(std::string_view bytes, bool utf8) {
    if (utf8)
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QString out;
    out.reserve(static_cast<qsizetype>(bytes.size()));
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out += u < 0x80 ? QChar(u) : QChar(kCp1250[u - 0x80]);
    }
    return out;
}

namespace {

// The thirteen keys in the file's order, each handed to put(section, key,
// value); stops at the first put that fails and names it in `failed`.
template <class Put>
bool PutSettingsKeys(const SettingsPage& page, const QDate& date, const QLocale& locale, bool utf8, Put put,
                     QString* failed) {
    const auto one = [&](const char* section, const char* key, const std::string& value) {
        if (put(section, key, value))
            return true;
        if (failed)
            *failed = QStringLiteral("[%1] %2").arg(QLatin1String(section), QLatin1String(key));
        return false;
    };
    if (!one("Header", "KV", kSettingsFileHeader))
        return false;
    for (const TGroupKey& g : kGroupKeys)
        if (!one(kSettings, g.key, std::to_string(page.*g.field)))
            return false;
    for (const TCheckKey& c : kCheckKeys)
        if (!one(kSettings, c.key, page.*c.field ? "1" : "0"))
            return false;
    for (const TTextKey& t : kTextKeys)
        if (!one(kSettings, t.key, std::string(ScalingTextBytes(EncodeSettingsText(page.*t.field, utf8)))))
            return false;
    return one("Date", "Date", SettingsFileDate(date, locale).toStdString());
}

} // namespace

bool SaveSettingsFile(const QString& path, const SettingsPage& page, const QDate& date, QString* error,
                      const QLocale& locale) {
    const std::string name = QFile::encodeName(path).toStdString();
    // The texts go in the kind of the file that is there.
    const bool utf8 = IniSnapshot::Read(name).HasBom();
    // All thirteen keys in one write: a file is never left with some of them.
    std::deque<std::string> values; // the entries look at them (a deque never moves them)
    std::vector<IniEntry> entries;
    const auto put = [&](const char* section, const char* key, const std::string& value) {
        entries.push_back({section, key, values.emplace_back(value)});
        return true;
    };
    if (PutSettingsKeys(page, date, locale, utf8, put, nullptr) && IniFile(name).WriteStrings(entries))
        return true;
    if (error)
        *error = QStringLiteral("could not write the file (read-only, no space, unreadable, or not a regular file)");
    return false;
}

std::string SettingsFileText(const SettingsPage& page, const QDate& date, const QLocale& locale) {
    std::string text;
    const auto put = [&](const char* section, const char* key, const std::string& value) {
        std::string next;
        if (!IniFile::EditText(text, section, key, value, next))
            return false;
        text = std::move(next);
        return true;
    };
    // A text that cannot stand in one line (a line break typed into a
    // scaling edit) is left out, as the file's writer refuses it.
    PutSettingsKeys(page, date, locale, false, put, nullptr);
    return text;
}

SettingsFileLoad LoadSettingsFile(const QString& path, char sep, FileSeparators separators) {
    const IniSnapshot ini = IniSnapshot::Read(QFile::encodeName(path).toStdString(), kMaxSettingsFileSize);
    if (!ini.Ok()) {
        SettingsFileLoad load;
        load.reason = QString::fromStdString(ini.Error());
        return load;
    }
    return LoadSettings(ini, sep, separators);
}

SettingsFileLoad LoadSettings(const IniSnapshot& ini, char sep, FileSeparators separators) {
    SettingsFileLoad load;
    std::string header;
    if (!ini.Find("Header", "KV", header)) {
        load.reason = QStringLiteral("no KV key in section [Header]");
        return load;
    }
    if (header != kSettingsFileHeader) { // letter case included
        load.reason = QStringLiteral("header %1 is not \"%2\"").arg(Quoted(header, ini.HasBom()), QLatin1String(kSettingsFileHeader));
        return load;
    }

    // A text that says two things: the reader takes the first, the writer
    // may have meant the second (two files run together, a key typed twice).
    for (const char* section : {"Header", kSettings})
        if (const int n = ini.SectionCount(section); n > 1)
            load.problems << QStringLiteral("section [%1] stands %2 times").arg(QLatin1String(section)).arg(n);
    const auto once = [&](const char* section, const char* key) {
        if (const int n = ini.KeyCount(section, key); n > 1)
            load.problems << QStringLiteral("%1 is given %2 times").arg(QLatin1String(key)).arg(n);
    };
    once("Header", "KV");

    SettingsPage& p = load.page;
    // An integer key as read: none when missing or not an integer.
    const auto integer = [&](const char* key) -> std::optional<int> {
        once(kSettings, key);
        std::string text;
        int value = 0;
        if (!ini.Find(kSettings, key, text)) {
            load.problems << QStringLiteral("%1 is missing").arg(QLatin1String(key));
            return std::nullopt;
        }
        if (!IniFile::ParseInteger(text, value)) {
            load.problems << QStringLiteral("%1 %2 is not an integer").arg(QLatin1String(key), Quoted(text, ini.HasBom()));
            return std::nullopt;
        }
        return value;
    };
    for (const TGroupKey& g : kGroupKeys) {
        const std::optional<int> v = integer(g.key);
        // -1, no selection, is what a write sends as the first item: no
        // value a careful reader takes.
        if (v && (*v >= g.count || *v < 0))
            load.problems << QStringLiteral("%1 %2 is out of range 0-%3").arg(QLatin1String(g.key)).arg(*v).arg(g.count - 1);
        p.*g.field = SelectItem(v.value_or(-1), g.count);
    }
    for (const TCheckKey& c : kCheckKeys)
        p.*c.field = integer(c.key).value_or(0) != 0;
    // Checking one error level unchecks the other; unchecking leaves it.
    if (p.ErrorHigh)
        p.ErrorLow = false;
    for (const TTextKey& t : kTextKeys) {
        once(kSettings, t.key);
        std::string text;
        if (!ini.Find(kSettings, t.key, text))
            load.problems << QStringLiteral("%1 is missing").arg(QLatin1String(t.key));
        if (const std::size_t end = ScalingTextBytes(text).size(); end < text.size()) {
            load.problems << QStringLiteral("%1 %2 ends at a control character").arg(QLatin1String(t.key), Quoted(text.substr(0, end), ini.HasBom()));
            text.resize(end);
        }
        p.*t.field = DecodeSettingsText(text, ini.HasBom());
        if (separators == FileSeparators::Either)
            p.*t.field = WithDecimalSeparator(p.*t.field, sep);
        float v;
        bool beyond = false;
        if (ParseDecimal((p.*t.field).toStdString(), sep, v, &beyond))
            continue;
        if (beyond)
            load.problems << QStringLiteral("%1 %2 is beyond what the device holds (%3 at most; sent as that)")
                                 .arg(QLatin1String(t.key), Quoted(text, ini.HasBom()), ExactScalingText(FLT_MAX, sep));
        else
            load.problems << QStringLiteral("%1 %2 is not a number here (sent as %3)")
                                 .arg(QLatin1String(t.key), Quoted(text, ini.HasBom()), QString::number(t.fallback, 'f', 1));
    }
    load.status = SettingsFileLoad::Loaded;
    return load;
}

QString WithDecimalSeparator(const QString& text, char sep) {
    const QChar other = sep == ',' ? QLatin1Char('.') : QLatin1Char(',');
    if (text.contains(QLatin1Char(sep)) || text.count(other) != 1)
        return text;
    QString out = text;
    return out.replace(other, QLatin1Char(sep));
}

} // namespace kv
