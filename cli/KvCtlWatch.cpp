// kvctl watch: polling without pause, a line (and a CSV row) per interval,
// through a silent device or a port that hangs up and comes back.
#include "KvCtl.h"
#include "KvCtlText.h"

#include <QJsonDocument>

#include <cmath>

namespace kvctl {

namespace {

// How often watch looks for a port that hung up.
constexpr int kReopenMs = 500;

// "90 s", "15 min": a --for duration as a person reads it.
QString DurationText(double seconds) {
    if (seconds >= 3600 && std::fmod(seconds, 3600) == 0)
        return QStringLiteral("%1 h").arg(seconds / 3600);
    if (seconds >= 60 && std::fmod(seconds, 60) == 0)
        return QStringLiteral("%1 min").arg(seconds / 60);
    return QStringLiteral("%1 s").arg(seconds);
}

} // namespace

void TKvCtl::WatchLine(const kv::PollAnswer& a) {
    // One time for the line and the row of a poll.
    const QString now = Now();
    if (a_->json) {
        // A reading: no exit code yet (the last line of a run that fails has one).
        QJsonObject o = StatusJson(a, "kvctl.watch/1", now);
        o[QStringLiteral("exit_code")] = QJsonValue();
        o[QStringLiteral("error")] = QJsonValue();
        if (!Out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n')))
            return;
    } else {
        const kv::TStatusTexts t = kv::StatusTexts(a, modeIndex_, cjcIndex_, formats_);
        QString line = now + QStringLiteral("  ") + Q(t.SzamitottErtek) + QStringLiteral("  ") + Q(t.FizikaiErtek) +
                       QStringLiteral("  ") + Q(t.OutputPercent) +
                       QStringLiteral("  ") + (t.Status ? Q(*t.Status) : QStringLiteral("code %1").arg(a.StatusCode));
        for (const auto& e : t.Errors)
            line += QStringLiteral("; ") + Q(e);
        if (!Out(line + QLatin1Char('\n')))
            return;
    }
    if (a_->csv.isEmpty() || (!csv_ && !WatchOpenCsv()))
        return;
    // The device's values in full (the shortest text that reads back as the
    // same single), with a full stop; empty where the display shows dashes.
    const bool input = (a.CalibrationFlags & kv::calflag::Input) != 0;
    auto num = [](bool has, float v) { return has && std::isfinite(v) ? Single(v) : QString(); };
    auto quoted = [](QString s) { return QLatin1Char('"') + s.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"'); };
    QStringList errors;
    for (const auto& e : kv::ErrorWords(a))
        errors << Q(e);
    const QStringList row = {
        now,
        num(input && a.CalculatedValue > kv::kNoCalculatedValue, a.CalculatedValue),
        formats_.SzamitottErtekUnit,
        num(input && a.PhysicalValue < kv::kNoPhysicalValue, a.PhysicalValue),
        formats_.FizikaiErtekUnit,
        num(input, a.OutputLevel * 100.0f),
        num(kv::HasTemperature(a.InternalTemperature), a.InternalTemperature),
        QString::number(a.StatusCode),
        // The log's rows read alike whatever language each run spoke.
        quoted(Q(kv::StatusText(a.StatusCode, kv::TTextLanguage::Source).value_or(std::string()))),
        quoted(errors.join(QStringLiteral("; "))),
    };
    if (!csv_->Append((row.join(QLatin1Char(',')) + QLatin1Char('\n')).toUtf8()))
        Fail(exitOutput, QStringLiteral("cannot write the CSV log %1; it ends with its last whole row (%2 rows added)")
                             .arg(csv_->Error())
                             .arg(csv_->Rows()));
}

namespace {
const QByteArray kCsvHeader = QByteArrayLiteral("time,calculated,calculated_unit,physical,physical_unit,output_percent,"
                                                "internal_temperature,status_code,status,errors");
} // namespace

bool TKvCtl::WatchOpenCsv() {
    QString error;
    switch (TCsvLog::Open(a_->csv, kCsvHeader, csv_, &error)) {
    case TCsvLog::TOpen::Opened:
        if (csv_->CutBytes() > 0)
            Err(QStringLiteral("kvctl: %1 ended in a row cut short (%2 bytes, the trace of a crash); taken out before "
                               "the rows of this run\n")
                    .arg(csv_->Path())
                    .arg(csv_->CutBytes()));
        return true;
    case TCsvLog::TOpen::Refused:
        Fail(exitUsage, error);
        break;
    case TCsvLog::TOpen::Failed:
        Fail(exitOutput, QStringLiteral("cannot write the CSV log %1").arg(error));
        break;
    }
    return false;
}

void TKvCtl::RunWatch() {
    TArgs& a = *a_;
    if (!a.csv.isEmpty()) {
        // A log that will be refused is refused before the port is opened;
        // the file itself is opened only after the device's first answer.
        QString error;
        switch (TCsvLog::Check(a.csv, kCsvHeader, &error)) {
        case TCsvLog::TOpen::Opened:
            break;
        case TCsvLog::TOpen::Refused:
            Fail(exitUsage, error);
            return;
        case TCsvLog::TOpen::Failed:
            Fail(exitOutput, QStringLiteral("cannot write the CSV log %1; nothing was sent").arg(error));
            return;
        }
    }
    if (!OpenLink())
        return;
    TMBTimerFactory& timers = link_->MBTimers();
    const int intervalMs = static_cast<int>(std::lround(a.interval * 1000.0));
    // The interval counts from the first line, so that the lines keep its pace.
    if (intervalMs > 0)
        intervalTimer_ = timers.createTimer(intervalMs, false, [this] { lineDue_ = true; });
    reopenTimer_ = timers.createTimer(kReopenMs, false, [this] { WatchReopen(); });
    if (a.forSeconds > 0) {
        forTimer_ = timers.createTimer(static_cast<int>(std::min(std::ceil(a.forSeconds * 1000.0), 2147483647.0)), true,
                                       [this] {
                                           // A device that never answered is no watch that went well.
                                           if (answered_)
                                               Finish(exitOK);
                                           else
                                               Fail(exitNoAnswer, QStringLiteral("the device on %1 never answered in %2")
                                                                      .arg(a_->port, DurationText(a_->forSeconds)));
                                       });
        forTimer_->start();
    }
    link_->OnMBDeviceLost = [this] { WatchHungUp(); };

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
        answered_ = answered_ || end.Done;
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
    if (exit_ || !link_->MBOpenLink(a_->port))
        return;
    reopenTimer_->stop();
    Err(Now() + QStringLiteral("  %1 is back\n").arg(a_->port));
    silent_ = false;
    // It may be another device now: its settings again, as at the start.
    pending_.SetPending(kv::pendReadSettings, true);
    cycle_->StartPoll();
}

} // namespace kvctl
