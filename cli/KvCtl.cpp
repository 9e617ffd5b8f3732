// The run of one kvctl command: its start from the parsed arguments, the
// link, the output and the exit code, shared by every command.
#include "KvCtl.h"
#include "KvCtlText.h"

#include "LocalDate.h"
#include "SettingsModel.h"

#include <QElapsedTimer>

#include <cstdio>

namespace kvctl {

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

void TKvCtl::ApplySettings(const kv::SettingsRecord& r) {
    // As the settings page after a read: the selections (by the radio
    // groups' rule) and the display formats of the device's mode.
    deviceSettings_ = r;
    const kv::SettingsPage page = kv::PageFromRecord(r, formats_);
    modeIndex_ = page.Mode;
    cjcIndex_ = page.CJC;
    settingsKnown_ = true;
}

} // namespace kvctl
