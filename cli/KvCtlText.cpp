#include "KvCtlText.h"

#include <charconv>
#include <cmath>
#include <iterator>

namespace kvctl {

namespace {
const char* const kTCTypes[] = {"B", "E", "J", "K", "L", "N", "R", "S", "T", "U"};
const char* const kOutputCaptions[] = {"4-20 mA", "0-20 mA", "0-10 V", "2-10 V", "0-5 V"};
} // namespace

const char* const kModeCaptions[8] = {
    "Hőmérséklet (Pt 100)",        "Hőmérséklet  (Pt 1000)",     "Hőmérséklet  (Hőelem)",
    "Potenciométer (0 - 500 ohm)", "Potenciométer (0 - 5k ohm)", "Ellenállás (0 - 500 ohm)",
    "Ellenállás (0 - 5k ohm)",     "Feszültség (-100 mV - +100 mV)",
};
const char* const kCJCCaptions[4] = {"Belső", "Külső Pt1000-rel", "külső Pt100-zal", "Nincs"};

QJsonValue Number(double v) { return std::isfinite(v) ? QJsonValue(v) : QJsonValue(); }

QString Item(const char* const* items, std::size_t count, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= count)
        return QStringLiteral("%1 (?)").arg(index);
    return QStringLiteral("%1 %2").arg(index).arg(QString::fromUtf8(items[index]));
}

QString Single(float v) {
    char b[32];
    const auto r = std::to_chars(b, b + sizeof b, v);
    return QString::fromLatin1(b, static_cast<int>(r.ptr - b));
}

std::vector<TFieldDiff> DiffRecords(const kv::SettingsRecord& l, const kv::SettingsRecord& r) {
    std::vector<TFieldDiff> d;
    auto add = [&](const char* name, const QString& a, const QString& b) {
        if (a != b)
            d.push_back({QString::fromLatin1(name), a, b});
    };
    auto item = [](const char* const* items, std::size_t n, int i) { return Item(items, n, i); };
    add("mode", item(kModeCaptions, std::size(kModeCaptions), l.Mode), item(kModeCaptions, std::size(kModeCaptions), r.Mode));
    add("wires", QString::number(l.Wires), QString::number(r.Wires));
    add("thermocouple", item(kTCTypes, std::size(kTCTypes), l.TCType), item(kTCTypes, std::size(kTCTypes), r.TCType));
    add("cjc", item(kCJCCaptions, std::size(kCJCCaptions), l.CJC), item(kCJCCaptions, std::size(kCJCCaptions), r.CJC));
    // Reals compared bit for bit through their shortest text: what the device
    // stores is a single, so a sent single comes back unchanged or not at all.
    add("output_low", Single(l.FizikaiForOutL), Single(r.FizikaiForOutL));
    add("output_high", Single(l.FizikaiForOutH), Single(r.FizikaiForOutH));
    add("output", item(kOutputCaptions, std::size(kOutputCaptions), l.OutputMode),
        item(kOutputCaptions, std::size(kOutputCaptions), r.OutputMode));
    auto level = [](std::uint8_t f) { return QString::fromLatin1(f & kv::errsig::High ? "high" : "low"); };
    auto signal = [](std::uint8_t f) { return QString::fromLatin1(f & kv::errsig::Disabled ? "disabled" : "enabled"); };
    add("error_level", level(l.ErrorSignalFlags), level(r.ErrorSignalFlags));
    add("error_signal", signal(l.ErrorSignalFlags), signal(r.ErrorSignalFlags));
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
                             {QString::fromLatin1(left), d.left},
                             {QString::fromLatin1(right), d.right}});
    return a;
}

QString DiffText(const std::vector<TFieldDiff>& diffs, const QString& left, const QString& right) {
    QString t;
    for (const auto& d : diffs)
        t += QStringLiteral("  %1  %2: %3  ->  %4: %5\n").arg(d.field, -13).arg(left, d.left, right, d.right);
    return t;
}

} // namespace kvctl
