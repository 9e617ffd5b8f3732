#include "KvCtl.h"
#include "KvCtlText.h"
#include "KvVersion.h"

#include "LocalDate.h"
#include "NumberPicture.h"
#include "PortsInfo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTemporaryDir>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kvctl {

namespace {

// Polls that carry a maintenance bit before kvctl gives up waiting for the
// acknowledgement (the window would carry it until the user lets go).
constexpr int kMaintenancePolls = 100;
// How often watch looks for a port that hung up.
constexpr int kReopenMs = 500;

struct TMaintenanceAction {
    const char* name;
    std::uint8_t bit;
    const char* what;
};
const TMaintenanceAction kActions[] = {
    {"restart", kv::maint::Reset, "restart the device"},
    {"clear-fram", kv::maint::FRAMClear, "fill the whole FRAM with 0xFF and restart (as if never calibrated)"},
    {"store-wire-resistance", kv::maint::Rof2Wire, "store the present wire resistance as 0 ohm"},
    {"clear-wire-resistance", kv::maint::ResetOf2Wire, "clear the stored wire resistance"},
    {"clear-minmax", kv::maint::TempMinMaxClear, "clear the internal temperature minimum and maximum"},
    {"pot-0", kv::maint::Pot0, "store the present potentiometer position as 0 %"},
    {"pot-100", kv::maint::Pot100, "store the present potentiometer position as 100 %"},
    {"pot-default", kv::maint::PotDefault, "restore the factory potentiometer values"},
};

QJsonArray Words(const std::vector<std::string>& words) {
    QJsonArray a;
    for (const auto& w : words)
        a.append(QString::fromStdString(w));
    return a;
}

} // namespace

// ---- arguments ----------------------------------------------------------------------


QString TKvCtl::HelpText(const QString& command) {
    const QString exits = QStringLiteral(
        "Exit codes:\n"
        "  0    success\n"
        "  1    the device answered, but the result differs (settings diff found a\n"
        "       difference, a written setting read back differently, a command was\n"
        "       refused or a maintenance action not acknowledged)\n"
        "  2    usage or file error (nothing was sent)\n"
        "  3    no answer after the link's retries, or the port could not be opened\n"
        "  130  interrupted (Ctrl-C); files written so far are complete\n");
    const QString globals = QStringLiteral(
        "Global options (before or after the command):\n"
        "  --port PATH     serial port of the transmitter (default: $KV_PORT)\n"
        "  --json          machine-readable output (schema: kvctl help status)\n"
        "  --timeout MS    the link's answer time-out per try (default 1000; 5 tries)\n"
        "  --trace FILE    decoded log of every frame, time-out and damaged frame\n"
        "  -h, --help      this help, or the command's\n"
        "      --version   show the version and exit\n");
    if (command == QLatin1String("ports"))
        return QStringLiteral(
            "kvctl ports\n\n"
            "Lists the serial ports as the setup program's link panel does (last probed\n"
            "first, KV_EXTRA_PORTS included), with their /dev/serial/by-id names, the\n"
            "driver, and whether each can be opened now. A busy port names the program\n"
            "that holds it where /proc tells; a port without permission names the group\n"
            "to join (usually dialout).\n\n"
            "--json: [{\"path\", \"by_id\": [..], \"driver\", \"state\": free|busy|\n"
            "no-permission|missing|error, \"detail\"}]\n");
    if (command == QLatin1String("status"))
        return QStringLiteral(
            "kvctl status\n\n"
            "Polls the device as the setup program does (poll, read settings, poll) and\n"
            "shows the second answer as the status display shows it: the display formats\n"
            "and units follow the device's input mode.\n\n"
            "--json prints one object (schema \"kvctl.status/1\"; fields are only added\n"
            "in later versions, never renamed). Texts are the window's, with the locale's\n"
            "decimal separator; numbers are plain JSON numbers, null where the device\n"
            "has no value:\n"
            "  schema            \"kvctl.status/1\"\n"
            "  time              ISO 8601 local time with offset\n"
            "  port              the port path\n"
            "  device            {type, pcb_identity_address, firmware, calibration_date,\n"
            "                     working_time_minutes, working_time}\n"
            "  settings          {mode, mode_text, cjc, cjc_text}\n"
            "  physical          {value, unit, text}    the sensor value (ohm or mV)\n"
            "  calculated        {value, unit, text}    the measured value\n"
            "  output_percent    {value, text}\n"
            "  internal_temperature      {value, min, max, text, min_text, max_text}\n"
            "  cjc_temperature   {value, text}           text null when not shown\n"
            "  wire_resistance   {value, text}           text null when not shown\n"
            "  potentiometer     {r0, r100, r0_text, r100_text}\n"
            "  data_sources      [source1, source2]     RAM1 RAM2 FRAM1 FRAM2 Gyári ???\n"
            "  status            {code, text}           text null above 5\n"
            "  calibration       {input, output, potentiometer}   booleans\n"
            "  errors            [..]  the error labels the window shows\n"
            "  converter         {flags: [..], ch0_present, ch1_present, ch0_average,\n"
            "                     ch1_average, au_ch0, cycles, samples_per_second}\n"
            "  switches          [..]  input switches the device reports closed\n");
    if (command == QLatin1String("watch"))
        return QStringLiteral(
            "kvctl watch [--interval S] [--csv FILE] [--count N]\n\n"
            "Polls without pause, as the setup program does, and writes one line per\n"
            "interval (default 1 s; 0: every poll) with the time (ISO 8601 with the\n"
            "time zone), the measured value, the sensor value, the output and the status.\n"
            "--csv FILE also writes a CSV row per line (values with a full stop).\n"
            "--count N ends after N lines (exit 0). Ctrl-C ends with the file complete\n"
            "(exit 130). A silent device or a port that hangs up (an adapter pulled) is\n"
            "reported on stderr, and watch waits for it to come back under the same\n"
            "name and goes on.\n"
            "--json: one JSON status object (as status --json) per line.\n");
    if (command == QLatin1String("settings"))
        return QStringLiteral(
            "kvctl settings get [-o FILE.kvs]\n"
            "kvctl settings diff FILE.kvs\n"
            "kvctl settings set FILE.kvs [--dry-run] [--no-verify] [--backup FILE.kvs]\n\n"
            "get   reads the device's settings (command 6) into the setup program's .kvs\n"
            "      format, to FILE or the standard output.\n"
            "diff  shows field by field what writing FILE would change (exit 1 when\n"
            "      anything would).\n"
            "set   checks FILE first (a file that is not a settings file, keys missing\n"
            "      or out of range: exit 2, nothing sent); reads the present settings,\n"
            "      shows the changes (nothing to change: done), saves the present settings\n"
            "      as a backup (default: FILE.backup-YYYYMMDD-HHMMSS.kvs beside FILE),\n"
            "      writes (command 4), reads back (command 6) and compares field by field:\n"
            "      a device that stores other values (it clamps what it cannot take) makes\n"
            "      set fail with the difference (exit 1).\n"
            "      --dry-run stops before the backup and the write; --no-verify does not\n"
            "      compare.\n"
            "      A write without acknowledgement (no answer, port gone) exits 3 and\n"
            "      says so; the backup is complete on disk before anything is written.\n");
    if (command == QLatin1String("factory"))
        return QStringLiteral(
            "kvctl factory [-o FILE.kvs]\n\n"
            "Reads the device's factory defaults (command 5) into the .kvs format, to\n"
            "FILE or the standard output. Nothing is written to the device.\n");
    if (command == QLatin1String("maintenance")) {
        QString t = QStringLiteral(
            "kvctl maintenance ACTION\n\n"
            "Carries the action's bit in the poll until the device acknowledges it, as the\n"
            "setup program's buttons do (exit 1 when it does not within %1 polls).\n"
            "Actions:\n").arg(kMaintenancePolls);
        for (const auto& a : kActions)
            t += QStringLiteral("  %1 %2\n").arg(QString::fromLatin1(a.name), -22).arg(QString::fromLatin1(a.what));
        t += QStringLiteral("store-wire-resistance is refused (exit 1) while the measured resistance is\n"
                            "outside 0 to 100 ohm.\n");
        return t;
    }
    return QStringLiteral(
               "kvctl: the KV5510 / KV7730 transmitter from the command line.\n\n"
               "Usage: kvctl [options] COMMAND [arguments]\n\n"
               "Commands:\n"
               "  ports                      the serial ports and whether they can be opened\n"
               "  status                     one poll, shown as the status display shows it\n"
               "  watch                      continuous polling, a line (or CSV row) per interval\n"
               "  settings get|diff|set      the device's settings and .kvs files\n"
               "  factory                    the factory defaults\n"
               "  maintenance ACTION         restart, clear-fram, store-wire-resistance, ...\n"
               "  help [COMMAND]             this help, or the command's\n\n") +
           globals + QLatin1Char('\n') + exits;
}

bool TKvCtl::Parse(const QStringList& args) {
    TArgs& a = *a_;
    static const QStringList withValue = {QStringLiteral("--port"),     QStringLiteral("--timeout"),
                                          QStringLiteral("--trace"),    QStringLiteral("--interval"),
                                          QStringLiteral("--csv"),      QStringLiteral("--count"),
                                          QStringLiteral("-o"),         QStringLiteral("--output"),
                                          QStringLiteral("--backup")};
    for (int i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        bool hasValue = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            value = arg.mid(arg.indexOf(QLatin1Char('=')) + 1);
            arg = arg.left(arg.indexOf(QLatin1Char('=')));
            hasValue = true;
        }
        if (withValue.contains(arg)) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    Err(QStringLiteral("kvctl: %1 needs a value\n").arg(arg));
                    return false;
                }
                value = args[++i];
            }
            a.given << arg;
            bool ok = true;
            if (arg == QLatin1String("--port"))
                a.port = value;
            else if (arg == QLatin1String("--trace"))
                a.trace = value;
            else if (arg == QLatin1String("--csv"))
                a.csv = value;
            else if (arg == QLatin1String("-o") || arg == QLatin1String("--output"))
                a.output = value;
            else if (arg == QLatin1String("--backup"))
                a.backup = value;
            else if (arg == QLatin1String("--timeout"))
                a.timeoutMs = value.toInt(&ok), ok = ok && a.timeoutMs >= 1 && a.timeoutMs <= 65535;
            else if (arg == QLatin1String("--interval"))
                a.interval = value.toDouble(&ok), ok = ok && a.interval >= 0 && a.interval <= 86400;
            else if (arg == QLatin1String("--count"))
                a.count = value.toLongLong(&ok), ok = ok && a.count >= 1;
            if (!ok) {
                Err(QStringLiteral("kvctl: bad value for %1: %2\n").arg(arg, value));
                return false;
            }
        } else if (hasValue) {
            Err(QStringLiteral("kvctl: %1 takes no value\n").arg(arg));
            return false;
        } else if (arg == QLatin1String("--json")) {
            a.json = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            a.help = true;
        } else if (arg == QLatin1String("--version")) {
            a.version = true;
        } else if (arg == QLatin1String("--dry-run") || arg == QLatin1String("--no-verify")) {
            a.given << arg;
            (arg == QLatin1String("--dry-run") ? a.dryRun : a.noVerify) = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            Err(QStringLiteral("kvctl: unknown option %1 (kvctl --help lists them)\n").arg(arg));
            return false;
        } else if (a.command.isEmpty()) {
            a.command = arg;
        } else {
            a.positional << arg;
        }
    }
    if (a.port.isEmpty())
        a.port = env_.envPort;
    return true;
}

// ---- the run ------------------------------------------------------------------------

TKvCtl::TKvCtl(TEnvironment env) : env_(std::move(env)), a_(std::make_unique<TArgs>()) {
    if (!env_.now)
        env_.now = [] { return QDateTime::currentDateTime(); };
    if (!env_.monotonic) {
        auto t = std::make_shared<QElapsedTimer>();
        t->start();
        env_.monotonic = [t] { return static_cast<double>(t->nsecsElapsed()) / 1e9; };
    }
}

TKvCtl::~TKvCtl() {
    // The session first: it stops listening to the link.
    session_.reset();
    link_.reset();
}

void TKvCtl::Out(const QString& text) {
    const QByteArray b = text.toUtf8();
    if (env_.out) {
        env_.out(b);
    } else {
        std::fwrite(b.constData(), 1, static_cast<std::size_t>(b.size()), stdout);
        std::fflush(stdout);
    }
}

void TKvCtl::Err(const QString& text) {
    const QByteArray b = text.toUtf8();
    if (env_.err) {
        env_.err(b);
    } else {
        std::fwrite(b.constData(), 1, static_cast<std::size_t>(b.size()), stderr);
        std::fflush(stderr);
    }
}

QString TKvCtl::Now() const {
    return env_.now().toOffsetFromUtc(env_.now().offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void TKvCtl::Finish(int code) {
    if (exit_)
        return;
    exit_ = code;
    if (session_)
        session_->Stop();
    if (intervalTimer_)
        intervalTimer_->stop();
    if (reopenTimer_)
        reopenTimer_->stop();
    if (csv_)
        csv_->close();
    if (traceFile_)
        traceFile_->flush();
    if (OnFinished)
        OnFinished(code);
}

QString TKvCtl::WriteState() const {
    // What a settings write that ended early leaves behind.
    const TArgs& a = *a_;
    QString what;
    if (a.command == QLatin1String("settings") && a.sub == QLatin1String("set")) {
        if (writeAcked_)
            what += QStringLiteral("; the write WAS acknowledged, but the settings were not read back to verify");
        else if (writeSent_)
            what += QStringLiteral("; the write was NOT acknowledged: the device may or may not have stored the "
                                   "new settings");
        else
            what += QStringLiteral("; nothing was written");
    }
    if (wroteBackup_)
        what += QStringLiteral("; the settings it held before are in %1").arg(a.backup);
    return what;
}

void TKvCtl::Interrupt() {
    if (exit_)
        return;
    Err(QStringLiteral("kvctl: interrupted") + WriteState() + QLatin1Char('\n'));
    Finish(exitInterrupted);
}

void TKvCtl::Start(const QStringList& args) {
    if (!Parse(args)) {
        Finish(exitUsage);
        return;
    }
    TArgs& a = *a_;
    QString command = a.command;
    if (a.version && !a.help) {
        Out(QStringLiteral("kvctl " KV_VERSION "\n"));
        Finish(exitOK);
        return;
    }
    if (command == QLatin1String("help")) {
        Out(HelpText(a.positional.value(0)));
        Finish(exitOK);
        return;
    }
    if (a.help || command.isEmpty()) {
        Out(HelpText(command));
        Finish(command.isEmpty() && !a.help ? exitUsage : exitOK);
        return;
    }
    if (command == QLatin1String("settings")) {
        a.sub = a.positional.value(0);
        if (!a.positional.isEmpty())
            a.positional.removeFirst();
    }

    // Which options and arguments each command takes.
    struct TShape {
        const char* command;
        const char* sub;
        int arguments;
        QStringList options;
    };
    const TShape shapes[] = {
        {"ports", "", 0, {}},
        {"status", "", 0, {}},
        {"watch", "", 0, {"--interval", "--csv", "--count"}},
        {"settings", "get", 0, {"-o", "--output"}},
        {"settings", "diff", 1, {}},
        {"settings", "set", 1, {"--dry-run", "--no-verify", "--backup"}},
        {"factory", "", 0, {"-o", "--output"}},
        {"maintenance", "", 1, {}},
    };
    const TShape* shape = nullptr;
    for (const auto& s : shapes)
        if (command == QLatin1String(s.command) && a.sub == QLatin1String(s.sub))
            shape = &s;
    if (!shape) {
        if (command == QLatin1String("settings"))
            Err(QStringLiteral("kvctl: settings needs get, diff or set (kvctl help settings)\n"));
        else
            Err(QStringLiteral("kvctl: unknown command %1 (kvctl --help lists them)\n").arg(command));
        Finish(exitUsage);
        return;
    }
    for (const QString& o : a.given)
        if (!shape->options.contains(o) && o != QLatin1String("--port") && o != QLatin1String("--timeout") &&
            o != QLatin1String("--trace")) {
            Err(QStringLiteral("kvctl: %1 is not an option of %2 (kvctl help %2)\n").arg(o, command));
            Finish(exitUsage);
            return;
        }
    if (a.positional.size() != shape->arguments) {
        Err(QStringLiteral("kvctl: wrong number of arguments (kvctl help %1)\n").arg(command));
        Finish(exitUsage);
        return;
    }

    if (!a.trace.isEmpty()) {
        traceFile_ = std::make_unique<QFile>(a.trace);
        if (!traceFile_->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            Err(QStringLiteral("kvctl: cannot write the trace %1: %2\n").arg(a.trace, traceFile_->errorString()));
            Finish(exitUsage);
            return;
        }
        QFile* f = traceFile_.get();
        trace_ = std::make_unique<TFrameTrace>(
            [f](const std::string& line) {
                f->write(line.data(), static_cast<qint64>(line.size()));
                f->write("\n", 1);
                f->flush();
            },
            env_.monotonic);
    }

    if (command == QLatin1String("ports"))
        RunPorts();
    else if (command == QLatin1String("status"))
        RunStatus();
    else if (command == QLatin1String("watch"))
        RunWatch();
    else if (command == QLatin1String("maintenance"))
        RunMaintenance();
    else if (command == QLatin1String("factory"))
        RunSettingsGet(true);
    else if (a.sub == QLatin1String("get"))
        RunSettingsGet(false);
    else if (a.sub == QLatin1String("diff"))
        RunSettingsDiff();
    else
        RunSettingsSet();
}

bool TKvCtl::OpenLink() {
    const TArgs& a = *a_;
    if (a.port.isEmpty()) {
        Err(QStringLiteral("kvctl: no port: give --port PATH or set KV_PORT (kvctl ports lists them)\n"));
        Finish(exitUsage);
        return false;
    }
    link_ = std::make_unique<TKvLink>(env_.timers, env_.makePort ? env_.makePort() : nullptr);
    link_->setMBMasterTimeOut(static_cast<std::uint16_t>(a.timeoutMs));
    link_->SetTrace(trace_.get());
    if (!link_->Open(a.port)) {
        Err(QStringLiteral("kvctl: cannot open %1: %2\n").arg(a.port, link_->OpenError().simplified()));
        Finish(exitNoAnswer);
        return false;
    }
    session_ = std::make_unique<TKvSession>(*link_);
    session_->LocalDate = kv::DateAskedOncePerSecond([this] { return env_.now().date(); }, env_.monotonic);
    session_->OnEnd = [this](const TKvSession::TEnd& end) { OnEnd(end); };
    link_->OnHangUp = [this] {
        if (exit_)
            return;
        // The end event of the transaction under way has told the command
        // already, unless none was under way.
        TKvSession::TEnd end;
        end.command = link_->MBMasterCommandToSlave();
        end.status = stClosedPort;
        NoAnswer(end);
    };
    return true;
}

void TKvCtl::OnEnd(const TKvSession::TEnd& end) {
    if (exit_ || !step_)
        return;
    step_(end);
}

void TKvCtl::NoAnswer(const TKvSession::TEnd& end) {
    if (exit_)
        return;
    const TArgs& a = *a_;
    QString what;
    int code = exitNoAnswer;
    switch (end.status) {
    case stTimeOut:
        what = QStringLiteral("no answer from the device on %1 (command %2, %3 tries of %4 ms)")
                   .arg(a.port)
                   .arg(end.command)
                   .arg(link_->MBMasterMaxTryNumber())
                   .arg(a.timeoutMs);
        break;
    case stSlaveError:
        what = QStringLiteral("the device refused command %1: %2").arg(end.command).arg(Q(end.statusText));
        code = exitDiffers;
        break;
    default:
        what = QStringLiteral("the port %1 closed (hung up)").arg(a.port);
        break;
    }
    what += WriteState();
    Err(QStringLiteral("kvctl: ") + what + QLatin1Char('\n'));
    Finish(code);
}

// ---- ports ------------------------------------------------------------------------------

void TKvCtl::RunPorts() {
    const std::vector<TPortInfo> ports = ListPortInfo();
    if (a_->json) {
        QJsonArray list;
        for (const auto& p : ports)
            list.append(QJsonObject{{QStringLiteral("path"), p.path},
                                    {QStringLiteral("by_id"), QJsonArray::fromStringList(p.byId)},
                                    {QStringLiteral("driver"), p.driver.isEmpty() ? QJsonValue() : QJsonValue(p.driver)},
                                    {QStringLiteral("state"), QString::fromLatin1(PortStateWord(p.state))},
                                    {QStringLiteral("detail"), p.detail}});
        Out(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Indented)));
    } else if (ports.empty()) {
        Out(QStringLiteral("no serial ports (a simulator's port is listed when named in KV_EXTRA_PORTS)\n"));
    } else {
        for (const auto& p : ports) {
            QString line = p.path + QStringLiteral("  ") + QString::fromLatin1(PortStateWord(p.state));
            if (!p.driver.isEmpty())
                line += QStringLiteral("  driver ") + p.driver;
            if (!p.detail.isEmpty())
                line += QStringLiteral("  (") + p.detail + QLatin1Char(')');
            Out(line + QLatin1Char('\n'));
            for (const QString& id : p.byId)
                Out(QStringLiteral("    ") + id + QLatin1Char('\n'));
        }
    }
    Finish(exitOK);
}

// ---- status -----------------------------------------------------------------------------

QJsonObject TKvCtl::StatusJson(const kv::PollAnswer& a) const {
    const kv::TStatusTexts t = kv::StatusTexts(a, modeIndex_, cjcIndex_, formats_);
    auto opt = [](const std::optional<std::string>& s) { return s ? QJsonValue(Q(*s)) : QJsonValue(); };
    const bool input = (a.CalibrationFlags & kv::calflag::Input) != 0;
    const bool physical = input && std::isfinite(a.PhysicalValue) && a.PhysicalValue < kv::kNoPhysicalValue;
    const bool calculated = input && std::isfinite(a.CalculatedValue) && a.CalculatedValue > kv::kNoCalculatedValue;
    QJsonObject o;
    o[QStringLiteral("schema")] = QStringLiteral("kvctl.status/1");
    o[QStringLiteral("time")] = Now();
    o[QStringLiteral("port")] = a_->port;
    o[QStringLiteral("device")] = QJsonObject{
        {QStringLiteral("type"), Q(t.DeviceType)},
        {QStringLiteral("pcb_identity_address"), a.PCBIdentityAddress},
        {QStringLiteral("firmware"), Q(t.Firmware)},
        {QStringLiteral("calibration_date"), Q(t.CalibrationDate)},
        {QStringLiteral("working_time_minutes"), static_cast<double>(a.WorkingTime)},
        {QStringLiteral("working_time"), Q(t.WorkingTime)}};
    o[QStringLiteral("settings")] = QJsonObject{
        {QStringLiteral("mode"), modeIndex_},
        {QStringLiteral("mode_text"), modeIndex_ >= 0 && modeIndex_ < 8 ? QString::fromUtf8(kModeCaptions[modeIndex_]) : QString()},
        {QStringLiteral("cjc"), cjcIndex_},
        {QStringLiteral("cjc_text"), cjcIndex_ >= 0 && cjcIndex_ < 4 ? QString::fromUtf8(kCJCCaptions[cjcIndex_]) : QString()}};
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
    const double cjc = cjcIndex_ == 0 ? a.InternalTemperature : a.CJCTemperature;
    o[QStringLiteral("cjc_temperature")] = QJsonObject{
        {QStringLiteral("value"), cjcIndex_ <= 2 && kv::HasTemperature(cjc) ? Number(cjc) : QJsonValue()},
        {QStringLiteral("text"), opt(t.CJCTemperature)}};
    o[QStringLiteral("wire_resistance")] = QJsonObject{{QStringLiteral("value"), Number(a.WireResistance)},
                                                       {QStringLiteral("text"), opt(t.WireResistance)}};
    o[QStringLiteral("potentiometer")] = QJsonObject{{QStringLiteral("r0"), Number(a.RofPot0)},
                                                     {QStringLiteral("r100"), Number(a.RofPot100)},
                                                     {QStringLiteral("r0_text"), Q(t.RofPot0)},
                                                     {QStringLiteral("r100_text"), Q(t.RofPot100)}};
    o[QStringLiteral("data_sources")] = QJsonArray{Q(t.RAM1DataSource), Q(t.RAM2DataSource)};
    o[QStringLiteral("status")] = QJsonObject{{QStringLiteral("code"), a.StatusCode},
                                              {QStringLiteral("text"), t.Status ? QJsonValue(QString::fromUtf8(t.Status)) : QJsonValue()}};
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
    s += row("Input mode:", modeIndex_ >= 0 && modeIndex_ < 8 ? QString::fromUtf8(kModeCaptions[modeIndex_]) : QStringLiteral("?"));
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
    s += row("Status:", t.Status ? QString::fromUtf8(t.Status) : QStringLiteral("code %1").arg(a.StatusCode));
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
    session_->ReadSettings = true;
    step_ = [this](const TKvSession::TEnd& end) {
        if (end.status != stOK) {
            NoAnswer(end);
            return;
        }
        if (end.command == kv::cmdReadSettings) {
            ApplySettings(kv::SettingsRecord::Decode(end.answer));
        } else if (end.command == kv::cmdPoll && settingsKnown_) {
            const auto a = kv::PollAnswer::Decode(end.answer);
            if (a_->json)
                Out(QString::fromUtf8(QJsonDocument(StatusJson(a)).toJson(QJsonDocument::Indented)));
            else
                Out(StatusText(a));
            Finish(exitOK);
        }
    };
    session_->Start();
}

// ---- watch ------------------------------------------------------------------------------

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

    session_->ReadSettings = true;
    step_ = [this, intervalMs](const TKvSession::TEnd& end) {
        if (end.command == kv::cmdPoll) {
            if (end.status != stOK) {
                if (end.status != stClosedPort && !silent_) {
                    silent_ = true;
                    Err(Now() + QStringLiteral("  no answer from the device (%1); still polling\n").arg(Q(end.statusText)));
                }
                return;
            }
            if (silent_) {
                silent_ = false;
                Err(Now() + QStringLiteral("  the device answers again\n"));
            }
            if (settingsKnown_ && lineDue_) {
                lineDue_ = intervalMs == 0;
                if (intervalTimer_ && !intervalTimer_->isActive())
                    intervalTimer_->start();
                WatchLine(kv::PollAnswer::Decode(end.answer));
                if (a_->count > 0 && ++lines_ >= a_->count)
                    Finish(exitOK);
            }
        } else if (end.command == kv::cmdReadSettings && end.status == stOK) {
            ApplySettings(kv::SettingsRecord::Decode(end.answer));
        }
    };
    session_->Start();
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
    session_->ReadSettings = true;
    session_->Start();
}

// ---- maintenance ------------------------------------------------------------------------

void TKvCtl::RunMaintenance() {
    const QString name = a_->positional.value(0);
    const TMaintenanceAction* action = nullptr;
    for (const auto& act : kActions)
        if (name == QLatin1String(act.name))
            action = &act;
    if (!action) {
        Err(QStringLiteral("kvctl: unknown maintenance action %1 (kvctl help maintenance)\n").arg(name));
        Finish(exitUsage);
        return;
    }
    if (!OpenLink())
        return;
    const std::uint8_t bit = action->bit;
    // The wire-resistance store is offered only while the measured value is
    // plausible for wires: the first poll decides, as the window's enabled
    // button does.
    const bool checkFirst = bit == kv::maint::Rof2Wire;
    auto carried = std::make_shared<bool>(!checkFirst); // the requests carry the bit
    auto polls = std::make_shared<int>(0);
    if (*carried)
        session_->MaintenanceBits = bit;
    step_ = [this, bit, checkFirst, carried, polls, action](const TKvSession::TEnd& end) {
        if (end.command != kv::cmdPoll)
            return;
        if (end.status != stOK) {
            NoAnswer(end);
            return;
        }
        const auto a = kv::PollAnswer::Decode(end.answer);
        const QString name = QString::fromLatin1(action->name);
        if (*carried && (a.MaintenanceAck & bit)) {
            Out(QStringLiteral("%1: acknowledged by the device\n").arg(name));
            Finish(exitOK);
            return;
        }
        if (checkFirst && !(a.PhysicalValue >= 0 && a.PhysicalValue <= 100)) {
            Err(QStringLiteral("kvctl: the measured resistance (%1 ohm) is outside 0 to 100 ohm: no wire "
                               "resistance to store\n")
                    .arg(static_cast<double>(a.PhysicalValue)));
            Finish(exitDiffers);
            return;
        }
        // The next poll carries it.
        session_->MaintenanceBits = bit;
        *carried = true;
        if (++*polls > kMaintenancePolls) {
            Err(QStringLiteral("kvctl: the device did not acknowledge %1 in %2 polls\n").arg(name).arg(kMaintenancePolls));
            Finish(exitDiffers);
        }
    };
    session_->Start();
}

} // namespace kvctl
