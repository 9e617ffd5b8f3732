// kvctl status: one poll shown as the status display shows it (also the
// status object of watch --json).
#include "KvCtl.h"
#include "KvCtlJson.h"
#include "KvCtlText.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace kvctl {

namespace {

QJsonArray Words(const std::vector<std::string>& words) {
    QJsonArray a;
    for (const auto& w : words)
        a.append(QString::fromStdString(w));
    return a;
}

} // namespace

QJsonObject TKvCtl::StatusJson(const kv::PollAnswer& a, const char* schema, const QString& time) const {
    const kv::TStatusTexts t = kv::StatusTexts(a, modeIndex_, cjcIndex_, formats_);
    auto opt = [](const std::optional<std::string>& s) { return s ? QJsonValue(Q(*s)) : QJsonValue(); };
    const bool input = (a.CalibrationFlags & kv::calflag::Input) != 0;
    const bool physical = input && std::isfinite(a.PhysicalValue) && a.PhysicalValue < kv::kNoPhysicalValue;
    const bool calculated = input && std::isfinite(a.CalculatedValue) && a.CalculatedValue > kv::kNoCalculatedValue;
    QJsonObject o = JsonHead(schema, time);
    o[QStringLiteral("device")] = QJsonObject{
        {QStringLiteral("type"), Q(t.DeviceType)},
        {QStringLiteral("pcb_identity_address"), a.PCBIdentityAddress},
        {QStringLiteral("firmware"), Q(t.Firmware)},
        // Values that scripts compare stay in the texts' own language; only
        // the *_text and text fields follow kvctl's.
        {QStringLiteral("calibration_date"), Q(kv::CalibrationDateText(a, kv::TTextLanguage::Source))},
        {QStringLiteral("working_time_minutes"), static_cast<double>(a.WorkingTime)},
        {QStringLiteral("working_time"), Q(kv::WorkingTimeText(a.WorkingTime, kv::TTextLanguage::Source))}};
    // What the device holds (12 is 12), with the caption where it has one
    // (in kvctl's language); the values below are shown as the window shows
    // them for it.
    const int mode = deviceSettings_ ? deviceSettings_->Mode : modeIndex_;
    const int cjc = deviceSettings_ ? deviceSettings_->CJC : cjcIndex_;
    const auto caption = [](const char* const* items, int count, int i) {
        return i >= 0 && i < count ? QJsonValue(Caption(items[i])) : QJsonValue();
    };
    o[QStringLiteral("settings")] = QJsonObject{{QStringLiteral("mode"), mode},
                                                {QStringLiteral("mode_text"), caption(kModeCaptions, 8, mode)},
                                                {QStringLiteral("cjc"), cjc},
                                                {QStringLiteral("cjc_text"), caption(kCJCCaptions, 4, cjc)}};
    o[QStringLiteral("physical")] = QJsonObject{{QStringLiteral("value"), physical ? Number(a.PhysicalValue) : QJsonValue()},
                                                {QStringLiteral("unit"), formats_.FizikaiErtekUnit},
                                                {QStringLiteral("text"), Q(t.FizikaiErtek)}};
    o[QStringLiteral("calculated")] = QJsonObject{{QStringLiteral("value"), calculated ? Number(a.CalculatedValue) : QJsonValue()},
                                                  {QStringLiteral("unit"), formats_.SzamitottErtekUnit},
                                                  {QStringLiteral("text"), Q(t.SzamitottErtek)}};
    o[QStringLiteral("output_percent")] = QJsonObject{{QStringLiteral("value"), input ? Number(a.OutputLevel * 100.0) : QJsonValue()},
                                                      {QStringLiteral("text"), Q(t.OutputPercent)}};
    const bool internal = kv::HasTemperature(a.InternalTemperature);
    o[QStringLiteral("internal_temperature")] = QJsonObject{
        {QStringLiteral("value"), internal ? Number(a.InternalTemperature) : QJsonValue()},
        {QStringLiteral("min"), Number(a.InternalTemperatureMin)},
        {QStringLiteral("max"), Number(a.InternalTemperatureMax)},
        {QStringLiteral("text"), Q(t.InternalTemperature)},
        {QStringLiteral("min_text"), Q(t.InternalTemperatureMin)},
        {QStringLiteral("max_text"), Q(t.InternalTemperatureMax)}};
    const double cjcTemperature = cjcIndex_ == 0 ? a.InternalTemperature : a.CJCTemperature;
    o[QStringLiteral("cjc_temperature")] = QJsonObject{
        {QStringLiteral("value"), cjcIndex_ <= 2 && kv::HasTemperature(cjcTemperature) ? Number(cjcTemperature) : QJsonValue()},
        {QStringLiteral("text"), opt(t.CJCTemperature)}};
    o[QStringLiteral("wire_resistance")] = QJsonObject{{QStringLiteral("value"), Number(a.WireResistance)},
                                                       {QStringLiteral("text"), opt(t.WireResistance)}};
    o[QStringLiteral("potentiometer")] = QJsonObject{{QStringLiteral("r0"), Number(a.RofPot0)},
                                                     {QStringLiteral("r100"), Number(a.RofPot100)},
                                                     {QStringLiteral("r0_text"), Q(t.RofPot0)},
                                                     {QStringLiteral("r100_text"), Q(t.RofPot100)}};
    o[QStringLiteral("data_sources")] = QJsonArray{Q(kv::DataSourceText(a.RAM1DataSource, kv::TTextLanguage::Source)),
                                                   Q(kv::DataSourceText(a.RAM2DataSource, kv::TTextLanguage::Source))};
    o[QStringLiteral("status")] = QJsonObject{{QStringLiteral("code"), a.StatusCode},
                                              {QStringLiteral("text"), t.Status ? QJsonValue(Q(*t.Status)) : QJsonValue()}};
    o[QStringLiteral("calibration")] = QJsonObject{
        {QStringLiteral("input"), input},
        {QStringLiteral("output"), (a.CalibrationFlags & kv::calflag::Output) != 0},
        {QStringLiteral("potentiometer"), (a.CalibrationFlags & kv::calflag::Potentiometer) != 0}};
    o[QStringLiteral("errors")] = Words(t.Errors);
    o[QStringLiteral("converter")] = QJsonObject{{QStringLiteral("flags"), Words(t.Converter)},
                                                 {QStringLiteral("ch0_present"), a.ADCH0Present},
                                                 {QStringLiteral("ch1_present"), a.ADCH1Present},
                                                 {QStringLiteral("ch0_average"), a.ADCH0Average},
                                                 {QStringLiteral("ch1_average"), a.ADCH1Average},
                                                 {QStringLiteral("au_ch0"), a.AuCH0},
                                                 {QStringLiteral("cycles"), a.Cycles},
                                                 {QStringLiteral("samples_per_second"), a.ADSamplesPs}};
    o[QStringLiteral("switches")] = Words(t.Switches);
    return o;
}

QString TKvCtl::StatusText(const kv::PollAnswer& a) const {
    const kv::TStatusTexts t = kv::StatusTexts(a, modeIndex_, cjcIndex_, formats_);
    auto join = [](const std::vector<std::string>& w) {
        QStringList l;
        for (const auto& s : w)
            l << Q(s);
        return l.isEmpty() ? QStringLiteral("none") : l.join(QStringLiteral(", "));
    };
    auto row = [](const char* label, const QString& value) {
        return QStringLiteral("%1 %2\n").arg(QString::fromLatin1(label), -22).arg(value);
    };
    QString s;
    s += row("Port:", a_->port);
    s += row("Device:", Q(t.DeviceType) + QStringLiteral(" (PCB identity address ") + Q(t.PCBIdentityAddress) + QLatin1Char(')'));
    s += row("Firmware:", Q(t.Firmware));
    s += row("Calibration date:", Q(t.CalibrationDate));
    s += row("Working time:", Q(t.WorkingTime));
    const int mode = deviceSettings_ ? deviceSettings_->Mode : modeIndex_;
    s += row("Input mode:", mode >= 0 && mode < 8 ? Caption(kModeCaptions[mode])
                                                  : QStringLiteral("%1 (none of the settings page's modes)").arg(mode));
    s += row("Measured value:", Q(t.SzamitottErtek));
    s += row("Sensor value:", Q(t.FizikaiErtek));
    s += row("Output:", Q(t.OutputPercent));
    s += row("Internal temperature:", Q(t.InternalTemperature) + QStringLiteral("  (min ") + Q(t.InternalTemperatureMin) +
                                          QStringLiteral(", max ") + Q(t.InternalTemperatureMax) + QLatin1Char(')'));
    if (t.CJCTemperature && modeIndex_ == 2)
        s += row("Cold junction:", Q(*t.CJCTemperature));
    if (t.WireResistance)
        s += row("Wire resistance:", Q(*t.WireResistance));
    if (modeIndex_ == 3 || modeIndex_ == 4)
        s += row("Potentiometer:", QStringLiteral("0% = ") + Q(t.RofPot0) + QStringLiteral(", 100% = ") + Q(t.RofPot100));
    s += row("Data sources:", Q(t.RAM1DataSource) + QStringLiteral(", ") + Q(t.RAM2DataSource));
    s += row("Status:", t.Status ? Q(*t.Status) : QStringLiteral("code %1").arg(a.StatusCode));
    s += row("Errors:", join(t.Errors));
    if (!t.Converter.empty())
        s += row("Converter:", join(t.Converter));
    return s;
}

void TKvCtl::RunStatus() {
    if (!OpenLink())
        return;
    // As the window after opening: a poll, the settings, and the poll that
    // shows the values in the device's formats.
    pending_.SetPending(kv::pendReadSettings, true);
    steps_.settings = [this](kv::TDeviceCommand, const kv::SettingsRecord& r) { ApplySettings(r); };
    steps_.poll = [this](const kv::PollAnswer& a) {
        if (!settingsKnown_)
            return;
        const bool written = a_->json ? PrintJson(StatusJson(a, "kvctl.status/1", Now()), exitOK) : Out(StatusText(a));
        if (written)
            Finish(exitOK);
    };
    cycle_->StartPoll();
}

} // namespace kvctl
