// kvctl watch: polling without pause, a line (and a CSV row) per interval,
// through a silent device or a port that hangs up and comes back.
#include "KvCtl.h"
#include "KvCtlText.h"

#include "NumberPicture.h"

#include <QJsonDocument>

#include <cmath>

namespace kvctl {

namespace {

// How often watch looks for a port that hung up.
constexpr int kReopenMs = 500;

} // namespace

void TKvCtl::WatchLine(const kv::PollAnswer& a) {
    if (a_->json) {
        Out(QString::fromUtf8(QJsonDocument(StatusJson(a)).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
    } else {
        const kv::TStatusTexts t = kv::StatusTexts(a, modeIndex_, cjcIndex_, formats_);
        QString line = Now() + QStringLiteral("  ") + Q(t.SzamitottErtek) + QStringLiteral("  ") + Q(t.FizikaiErtek) +
                       QStringLiteral("  ") + Q(t.OutputPercent) +
                       QStringLiteral("  ") + (t.Status ? QString::fromUtf8(t.Status) : QStringLiteral("code %1").arg(a.StatusCode));
        for (const auto& e : t.Errors)
            line += QStringLiteral("; ") + Q(e);
        Out(line + QLatin1Char('\n'));
    }
    if (csv_) {
        // Numbers with a full stop, rounded as the display rounds them;
        // empty where the display shows dashes.
        const bool input = (a.CalibrationFlags & kv::calflag::Input) != 0;
        auto num = [](bool has, double v, const std::string& picture) {
            return has && std::isfinite(v) ? Q(kv::FormatPicture(v, picture, '.')) : QString();
        };
        auto quoted = [](QString s) { return QLatin1Char('"') + s.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"'); };
        QStringList errors;
        for (const auto& e : kv::ErrorWords(a))
            errors << Q(e);
        const QStringList row = {
            Now(),
            num(input && a.CalculatedValue > kv::kNoCalculatedValue, a.CalculatedValue, formats_.SzamitottErtekFormat.toStdString()),
            formats_.SzamitottErtekUnit,
            num(input && a.PhysicalValue < kv::kNoPhysicalValue, a.PhysicalValue, formats_.FizikaiErtekFormat.toStdString()),
            formats_.FizikaiErtekUnit,
            num(input, a.OutputLevel * 100.0, "0.00"),
            num(kv::HasTemperature(a.InternalTemperature), a.InternalTemperature, "0.0"),
            QString::number(a.StatusCode),
            quoted(kv::StatusText(a.StatusCode) ? QString::fromUtf8(kv::StatusText(a.StatusCode)) : QString()),
            quoted(errors.join(QStringLiteral("; "))),
        };
        csv_->write((row.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8());
        csv_->flush();
    }
}

void TKvCtl::RunWatch() {
    TArgs& a = *a_;
    if (!a.csv.isEmpty()) {
        csv_ = std::make_unique<QFile>(a.csv);
        if (!csv_->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            Err(QStringLiteral("kvctl: cannot write %1: %2\n").arg(a.csv, csv_->errorString()));
            csv_.reset();
            Finish(exitUsage);
            return;
        }
        csv_->write("time,calculated,calculated_unit,physical,physical_unit,output_percent,"
                    "internal_temperature,status_code,status,errors\n");
        csv_->flush();
    }
    if (!OpenLink())
        return;
    TMBTimerFactory& timers = link_->Timers();
    const int intervalMs = static_cast<int>(std::lround(a.interval * 1000.0));
    // The interval counts from the first line, so that the lines keep its pace.
    if (intervalMs > 0)
        intervalTimer_ = timers.createTimer(intervalMs, false, [this] { lineDue_ = true; });
    reopenTimer_ = timers.createTimer(kReopenMs, false, [this] { WatchReopen(); });
    link_->OnHangUp = [this] { WatchHungUp(); };

    pending_.SetPending(kv::pendReadSettings, true);
    // Watch goes on through every failure, as the window does.
    steps_.tolerant = true;
    steps_.end = [this](const kv::TCommandEnd& end) {
        if (end.Crossed) {
            if (!crossedWarned_) {
                crossedWarned_ = true;
                Err(Now() + QStringLiteral("  ") + CrossedText() + QStringLiteral("; still polling\n"));
            }
            return;
        }
        if (end.Command != kv::cmdPoll)
            return;
        if (!end.Done) {
            if (end.Status != stClosedPort && !silent_) {
                silent_ = true;
                Err(Now() + QStringLiteral("  no answer from the device (%1); still polling\n").arg(Q(end.StatusText)));
            }
        } else if (silent_) {
            silent_ = false;
            Err(Now() + QStringLiteral("  the device answers again\n"));
        }
    };
    steps_.settings = [this](kv::TDeviceCommand, const kv::SettingsRecord& r) { ApplySettings(r); };
    steps_.poll = [this, intervalMs](const kv::PollAnswer& a) {
        if (!settingsKnown_ || !lineDue_)
            return;
        lineDue_ = intervalMs == 0;
        if (intervalTimer_ && !intervalTimer_->isActive())
            intervalTimer_->start();
        WatchLine(a);
        if (a_->count > 0 && ++lines_ >= a_->count)
            Finish(exitOK);
    };
    cycle_->StartPoll();
}

void TKvCtl::WatchHungUp() {
    if (exit_)
        return;
    Err(Now() + QStringLiteral("  %1 hung up; waiting for it to come back\n").arg(a_->port));
    reopenTimer_->start();
}

void TKvCtl::WatchReopen() {
    if (exit_ || !link_->Open(a_->port))
        return;
    reopenTimer_->stop();
    Err(Now() + QStringLiteral("  %1 is back\n").arg(a_->port));
    silent_ = false;
    // It may be another device now: its settings again, as at the start.
    pending_.SetPending(kv::pendReadSettings, true);
    cycle_->StartPoll();
}

} // namespace kvctl
