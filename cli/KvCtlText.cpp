#include "KvCtlText.h"

#include <QCoreApplication>

#include <charconv>
#include <cmath>
#include <iterator>

namespace kvctl {

namespace {
const char* const kTCTypes[] = {"B", "E", "J", "K", "L", "N", "R", "S", "T", "U"};
const char* const kOutputCaptions[] = {"4-20 mA", "0-20 mA", "0-10 V", "2-10 V", "0-5 V"};
} // namespace

const char* const kModeCaptions[8] = {
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Hőmérséklet (Pt 100)"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Hőmérséklet  (Pt 1000)"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Hőmérséklet  (Hőelem)"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Potenciométer (0 - 500 ohm)"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Potenciométer (0 - 5k ohm)"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Ellenállás (0 - 500 ohm)"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Ellenállás (0 - 5k ohm)"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Feszültség (-100 mV - +100 mV)"),
};
const char* const kCJCCaptions[4] = {
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Belső"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Külső Pt1000-rel"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "külső Pt100-zal"),
    QT_TRANSLATE_NOOP("TabSheet_Settings", "Nincs"),
};

QString Caption(const char* item) { return QCoreApplication::translate("TabSheet_Settings", item); }

QJsonValue Number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(); }

QString Item(const char* const* items, std::size_t count, int index, kv::TTextLanguage language) {
    if (index < 0 || static_cast<std::size_t>(index) >= count)
        return QStringLiteral("%1 (?)").arg(index);
    return QStringLiteral("%1 %2").arg(index).arg(language == kv::TTextLanguage::Source ? QString::fromUtf8(items[index])
                                                                                        : Caption(items[index]));
}

QString Single(float v) {
    char b[32];
    const auto r = std::to_chars(b, b + sizeof b, v);
    return QString::fromLatin1(b, static_cast<int>(r.ptr - b));
}

std::vector<TFieldDiff> DiffRecords(const kv::SettingsRecord& l, const kv::SettingsRecord& r) {
    std::vector<TFieldDiff> d;
    // Values compared as the JSON keeps them; shown in kvctl's language.
    struct TValue {
        QString shown, source;
    };
    auto add = [&](const char* name, const TValue& a, const TValue& b) {
        if (a.source != b.source)
            d.push_back({QString::fromLatin1(name), a.shown, b.shown, a.source, b.source});
    };
    auto item = [](const char* const* items, std::size_t n, int i) {
        return TValue{Item(items, n, i), Item(items, n, i, kv::TTextLanguage::Source)};
    };
    add("mode", item(kModeCaptions, std::size(kModeCaptions), l.Mode), item(kModeCaptions, std::size(kModeCaptions), r.Mode));
    auto same = [](const QString& v) { return TValue{v, v}; };
    add("wires", same(QString::number(l.Wires)), same(QString::number(r.Wires)));
    add("thermocouple", item(kTCTypes, std::size(kTCTypes), l.TCType), item(kTCTypes, std::size(kTCTypes), r.TCType));
    add("cjc", item(kCJCCaptions, std::size(kCJCCaptions), l.CJC), item(kCJCCaptions, std::size(kCJCCaptions), r.CJC));
    // Reals compared bit for bit through their shortest text: what the device
    // stores is a single, so a sent single comes back unchanged or not at all.
    add("output_low", same(Single(l.FizikaiForOutL)), same(Single(r.FizikaiForOutL)));
    add("output_high", same(Single(l.FizikaiForOutH)), same(Single(r.FizikaiForOutH)));
    add("output", item(kOutputCaptions, std::size(kOutputCaptions), l.OutputMode),
        item(kOutputCaptions, std::size(kOutputCaptions), r.OutputMode));
    auto level = [](std::uint8_t f) { return QString::fromLatin1(f & kv::errsig::High ? "high" : "low"); };
    auto signal = [](std::uint8_t f) { return QString::fromLatin1(f & kv::errsig::Disabled ? "disabled" : "enabled"); };
    add("error_level", same(level(l.ErrorSignalFlags)), same(level(r.ErrorSignalFlags)));
    add("error_signal", same(signal(l.ErrorSignalFlags)), same(signal(r.ErrorSignalFlags)));
    return d;
}

QJsonObject RecordJson(const kv::SettingsRecord& r) {
    return QJsonObject{
        {QStringLiteral("mode"), r.Mode},
        {QStringLiteral("wires"), r.Wires},
        {QStringLiteral("thermocouple"), r.TCType},
        {QStringLiteral("cjc"), r.CJC},
        {QStringLiteral("output_low"), Number(r.FizikaiForOutL)},
        {QStringLiteral("output_high"), Number(r.FizikaiForOutH)},
        {QStringLiteral("output"), r.OutputMode},
        {QStringLiteral("error_level"), QString::fromLatin1(r.ErrorSignalFlags & kv::errsig::High ? "high" : "low")},
        {QStringLiteral("error_signal"), QString::fromLatin1(r.ErrorSignalFlags & kv::errsig::Disabled ? "disabled" : "enabled")},
    };
}

QJsonArray DiffJson(const std::vector<TFieldDiff>& diffs, const char* left, const char* right) {
    QJsonArray a;
    for (const auto& d : diffs)
        a.append(QJsonObject{{QStringLiteral("field"), d.field},
                             {QString::fromLatin1(left), d.leftSource},
                             {QString::fromLatin1(right), d.rightSource}});
    return a;
}

QString DiffText(const std::vector<TFieldDiff>& diffs, const QString& left, const QString& right) {
    QString t;
    for (const auto& d : diffs)
        t += QStringLiteral("  %1  %2: %3  ->  %4: %5\n").arg(d.field, -13).arg(left, d.left, right, d.right);
    return t;
}

} // namespace kvctl
