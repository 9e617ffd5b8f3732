#include "KvCtlText.h"

#include "NumberPicture.h"

#include <QCoreApplication>

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

QString Single(float v) { return QString::fromStdString(kv::SingleText(v)); }

QJsonValue SingleJson(float v) { return Number(kv::SingleDecimal(v)); }

std::vector<std::pair<QString, TFieldValue>> RecordFields(const kv::SettingsRecord& r) {
    const auto item = [](const char* const* items, std::size_t n, int i) { return TFieldValue{i, Item(items, n, i)}; };
    const auto word = [](const char* w) { return TFieldValue{QString::fromLatin1(w), QString::fromLatin1(w)}; };
    // Reals as their shortest text: what the device stores is a single, so
    // a sent single comes back unchanged or not at all.
    const auto real = [](float v) { return TFieldValue{SingleJson(v), Single(v)}; };
    return {
        {QStringLiteral("mode"), item(kModeCaptions, std::size(kModeCaptions), r.Mode)},
        {QStringLiteral("wires"), TFieldValue{r.Wires, QString::number(r.Wires)}},
        {QStringLiteral("thermocouple"), item(kTCTypes, std::size(kTCTypes), r.TCType)},
        {QStringLiteral("cjc"), item(kCJCCaptions, std::size(kCJCCaptions), r.CJC)},
        {QStringLiteral("output_low"), real(r.FizikaiForOutL)},
        {QStringLiteral("output_high"), real(r.FizikaiForOutH)},
        {QStringLiteral("output"), item(kOutputCaptions, std::size(kOutputCaptions), r.OutputMode)},
        {QStringLiteral("error_level"), word(r.ErrorSignalFlags & kv::errsig::High ? "high" : "low")},
        {QStringLiteral("error_signal"), word(r.ErrorSignalFlags & kv::errsig::Disabled ? "disabled" : "enabled")},
    };
}

std::vector<TFieldDiff> DiffRecords(const kv::SettingsRecord& l, const kv::SettingsRecord& r) {
    const auto left = RecordFields(l), right = RecordFields(r);
    std::vector<TFieldDiff> d;
    // Compared as the JSON keeps them (language-free); shown in kvctl's language.
    for (std::size_t i = 0; i < left.size(); ++i)
        if (left[i].second.value != right[i].second.value)
            d.push_back({left[i].first, left[i].second, right[i].second});
    return d;
}

QJsonObject RecordJson(const kv::SettingsRecord& r) {
    QJsonObject o;
    for (const auto& [name, f] : RecordFields(r))
        o[name] = f.value;
    return o;
}

QJsonArray DiffJson(const std::vector<TFieldDiff>& diffs, const char* left, const char* right) {
    const QString l = QString::fromLatin1(left), r = QString::fromLatin1(right);
    QJsonArray a;
    for (const auto& d : diffs)
        a.append(QJsonObject{{QStringLiteral("field"), d.field},
                             {l, d.left.value},
                             {l + QStringLiteral("_text"), d.left.text},
                             {r, d.right.value},
                             {r + QStringLiteral("_text"), d.right.text}});
    return a;
}

QString DiffText(const std::vector<TFieldDiff>& diffs, const QString& left, const QString& right) {
    QString t;
    for (const auto& d : diffs)
        t += QStringLiteral("  %1  %2: %3  ->  %4: %5\n").arg(d.field, -13).arg(left, d.left.text, right, d.right.text);
    return t;
}

} // namespace kvctl
