// The run of one kvctl command: its start from the parsed arguments, the
// link, the output and the exit code, shared by every command.
#include "KvCtl.h"
#include "KvCtlText.h"
#include "KvVersion.h"

#include "LocalDate.h"
#include "SettingsModel.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace kvctl {

namespace {
// Answers that belong to other requests before a command gives up: a late
// answer or two is the device catching up, more mean that its answers come
// after every time-out, so that each request meets the answer to the one
// before it and a settings read never gets its own.
constexpr int kMaxCrossed = 6;
} // namespace

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
    // The link first: its events would reach the cycle.
    link_.reset();
    calibrateOutput_.reset();
    cycle_.reset();
    if (traceFd_ >= 0)
        ::close(traceFd_);
}

bool TKvCtl::Out(const QString& text) {
    if (exit_ && *exit_ == exitOutput)
        return false;
    const QByteArray b = text.toUtf8();
    if (env_.out)
        env_.out(b);
    else if (!out_.Write(b))
        OutputFailed(out_);
    return !exit_ || *exit_ != exitOutput;
}

void TKvCtl::Err(const QString& text) {
    const QByteArray b = text.toUtf8();
    if (env_.err)
        env_.err(b);
    else if (!err_.Write(b))
        OutputFailed(err_);
}

void TKvCtl::OutputFailed(const TStream& stream) {
    if (exit_ && *exit_ == exitOutput)
        return;
    // A reader that went away ends a pipeline's writer by SIGPIPE, silently.
    if (stream.Error() == EPIPE && env_.brokenPipeIsSignal && &stream != traceStream_.get()) {
        endSignal_ = SIGPIPE;
        exit_.reset();
        Finish(128 + SIGPIPE);
        return;
    }
    const QString what = WriteState();
    exit_.reset(); // an earlier result is no success when its output is lost
    Finish(exitOutput);
    if (&stream != &err_)
        Err(QStringLiteral("kvctl: cannot write %1%2\n").arg(stream.FailureText(), what));
}

void TKvCtl::TraceLine(const std::string& line) {
    if (!traceStream_ || traceStream_->Failed())
        return;
    if (!traceStream_->Write(QByteArray::fromStdString(line + '\n')))
        OutputFailed(*traceStream_);
}

bool TKvCtl::Result(const QByteArray& bytes, const QString& what) {
    const QString output = a_->output;
    if (output.isEmpty() || IsStandardOutput(output)) {
        if (env_.out) {
            env_.out(bytes);
            return true;
        }
        if (out_.Write(bytes))
            return true;
        OutputFailed(out_);
        return false;
    }
    QString error;
    if (!WriteFileWhole(output, bytes, &error)) {
        exit_.reset();
        Finish(exitOutput);
        Err(QStringLiteral("kvctl: cannot write %1 (%2): %3; an earlier file of that name is as it was\n")
                .arg(what, output, error));
        return false;
    }
    Err(QStringLiteral("saved %1\n").arg(output));
    return true;
}

QJsonObject TKvCtl::JsonHead(const char* schema, const QString& time) const {
    return QJsonObject{{QStringLiteral("schema"), QString::fromLatin1(schema)},
                       {QStringLiteral("time"), time},
                       {QStringLiteral("port"), a_->port}};
}

kv::lang::TLanguage TKvCtl::CertificateLanguage() const {
    return a_->language.value_or(kv::lang::TLanguage::English);
}

QString TKvCtl::Now() const {
    return env_.now().toOffsetFromUtc(env_.now().offsetFromUtc()).toString(Qt::ISODateWithMs);
}

void TKvCtl::Finish(int code) {
    if (exit_)
        return;
    const bool first = !finishedOnce_;
    finishedOnce_ = true;
    exit_ = code;
    if (cycle_)
        cycle_->Stop();
    for (auto* t : {intervalTimer_.get(), reopenTimer_.get(), forTimer_.get()})
        if (t)
            t->stop();
    if (first && OnFinished)
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
    if (a.command == QLatin1String("maintenance") && cycle_) {
        switch (maintenance_) {
        case TMaintenance::NotSent:
            what += QStringLiteral("; the action was NOT sent");
            break;
        case TMaintenance::Pending:
            what += QStringLiteral("; the action MAY have been sent (a poll carrying it was under way), it was not "
                                   "acknowledged");
            break;
        case TMaintenance::Sent:
            what += QStringLiteral("; the action WAS sent but not acknowledged: the device may have carried it out");
            break;
        case TMaintenance::Acknowledged:
            what += QStringLiteral("; the device acknowledged the action");
            break;
        }
    }
    return what;
}

void TKvCtl::Interrupt(int sig) {
    if (exit_)
        return;
    endSignal_ = sig;
    if (calibrateInput_ && calibrateInput_->End() == TCalibrateInput::TEnd::Running) {
        // The device gets its settings back first; the run then ends.
        Err(QStringLiteral("kvctl: interrupted; giving the device back what the calibration changed\n"));
        calibrateInput_->Interrupt();
        return;
    }
    if (calibrateOutput_ && calibrateOutput_->End() == TCalibrateOutput::TEnd::Running) {
        // The forcing is ended first; the run then finishes the command.
        calibrateOutput_->Interrupt();
        return;
    }
    QString what = WriteState();
    if (csv_)
        what += QStringLiteral("; %1 ends with its last whole row (%2 rows added)").arg(csv_->Path()).arg(csv_->Rows());
    Finish(128 + sig);
    Err(QStringLiteral("kvctl: interrupted (SIG%1)").arg(QString::fromLatin1(sigabbrev_np(sig) ? sigabbrev_np(sig) : "?")) +
        what + QLatin1Char('\n'));
}

void TKvCtl::Start(const QStringList& args) {
    if (!Parse(args)) {
        Finish(exitUsage);
        return;
    }
    TArgs& a = *a_;
    translation_ = std::make_unique<kv::lang::TTranslation>(a.language.value_or(env_.language));
    translation_->Install();
    QString command = a.command;
    if (a.version && !a.help) {
        Out(QStringLiteral("kvctl " KV_VERSION "\n"));
        Finish(exitOK);
        return;
    }
    if (command == QLatin1String("help") || a.help || command.isEmpty()) {
        const QString topic = command == QLatin1String("help") ? a.positional.value(0) : command;
        const QString text = HelpText(topic);
        if (text.isEmpty()) {
            Err(QStringLiteral("kvctl: no help for %1 (kvctl --help lists the commands)\n")
                    .arg(command == QLatin1String("help") ? a.positional.join(QLatin1Char(' ')) : command));
            Finish(exitUsage);
            return;
        }
        // Without a command the overview is a usage error's message.
        if (command.isEmpty() && !a.help) {
            Err(text);
            Finish(exitUsage);
            return;
        }
        if (Out(text))
            Finish(exitOK);
        return;
    }
    if (command == QLatin1String("settings") || command == QLatin1String("calibrate")) {
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
        {"watch", "", 0, {"--interval", "--csv", "--count", "--for"}},
        {"settings", "get", 0, {"-o", "--output"}},
        {"settings", "diff", 1, {}},
        {"settings", "set", 1, {"--dry-run", "--no-verify", "--backup"}},
        {"factory", "", 0, {"-o", "--output"}},
        {"maintenance", "", 1, {}},
        {"calibrate", "input", 0, {"--fixture", "--references", "--certificate", "--operator"}},
        {"calibrate", "output", 0, {"--meter", "--meter-baud", "--fixture", "--certificate", "--operator", "--settle"}},
    };
    const TShape* shape = nullptr;
    for (const auto& s : shapes)
        if (command == QLatin1String(s.command) && a.sub == QLatin1String(s.sub))
            shape = &s;
    if (!shape) {
        if (command == QLatin1String("settings"))
            Err(QStringLiteral("kvctl: settings needs get, diff or set (kvctl help settings)\n"));
        else if (command == QLatin1String("calibrate"))
            Err(QStringLiteral("kvctl: calibrate needs input or output (kvctl help calibrate)\n"));
        else
            Err(QStringLiteral("kvctl: unknown command %1 (kvctl --help lists them)\n").arg(command));
        Finish(exitUsage);
        return;
    }
    for (const QString& o : a.given)
        if (!shape->options.contains(o) && o != QLatin1String("--port") && o != QLatin1String("--timeout") &&
            o != QLatin1String("--trace") && o != QLatin1String("--lang")) {
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
        // The trace is this run's log, written as it goes (a run that hangs
        // is what it is for): a file of that name is replaced at the start.
        traceFd_ = ::open(QFile::encodeName(a.trace).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY,
                          0644);
        if (traceFd_ < 0) {
            Err(QStringLiteral("kvctl: cannot write the trace %1: %2\n").arg(a.trace, QString::fromLocal8Bit(std::strerror(errno))));
            Finish(exitUsage);
            return;
        }
        traceStream_ = std::make_unique<TStream>(traceFd_, QStringLiteral("the trace ") + a.trace);
        trace_ = std::make_unique<TFrameTrace>([this](const std::string& line) { TraceLine(line); }, env_.monotonic);
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
    else if (command == QLatin1String("calibrate"))
        a.sub == QLatin1String("input") ? RunCalibrateInput() : RunCalibrateOutput();
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
    link_ = std::make_unique<TMBLink>(env_.timers, env_.makePort ? env_.makePort() : nullptr);
    link_->setMBMasterTimeOut(static_cast<std::uint16_t>(a.timeoutMs));
    link_->MBSetWireObserver(trace_.get());
    if (!link_->MBOpenLink(a.port)) {
        Err(QStringLiteral("kvctl: cannot open %1: %2\n").arg(a.port, link_->MBPortDevice().ErrorText().simplified()));
        Finish(exitNoAnswer);
        return false;
    }
    inputs_ = std::make_unique<TPollInputsNoForcing>(
        kv::DateAskedOncePerSecond([this] { return env_.now().date(); }, env_.monotonic));
    cycle_ = std::make_unique<kv::TPollCycle>(*link_, *inputs_, pending_);
    link_->OnMBMasterEndOfEvent = [this](TMBStatus s, const std::string& t) { cycle_->EndOfTransaction(s, t); };
    cycle_->OnEnd = [this](const kv::TCommandEnd& end) { Ended(end); };
    cycle_->OnPollAnswer = [this](const kv::PollAnswer& a) {
        if (!exit_ && steps_.poll)
            steps_.poll(a);
    };
    cycle_->OnSettingsRecord = [this](kv::TDeviceCommand command, const kv::SettingsRecord& r) {
        if (!exit_ && steps_.settings)
            steps_.settings(command, r);
    };
    link_->OnMBDeviceLost = [this] {
        // The end event of the transaction under way has told the command
        // already, unless none was under way.
        if (!exit_)
            NoAnswer(link_->MBMasterCommandToSlave(), stClosedPort);
    };
    return true;
}

void TKvCtl::Ended(const kv::TCommandEnd& end) {
    if (exit_)
        return;
    // A poll that carried the maintenance action has been on the line
    // (its request is still in the transmit buffer).
    if (end.Command == kv::cmdPoll && maintenance_ == TMaintenance::Pending && link_->MBDataNumberToSend() >= 3 &&
        (link_->MBTXDataAt(3) & maintenanceBit_))
        maintenance_ = TMaintenance::Sent;
    if (!end.Done && !steps_.tolerant) {
        // The cycle would try again, as the window does; a command ends at
        // the first failure instead, and after a few crossed answers.
        if (!end.Crossed) {
            NoAnswer(end.Command, end.Status, end.StatusText);
            return;
        }
        if (!CountCrossed())
            return;
    }
    if (steps_.end)
        steps_.end(end);
}

bool TKvCtl::CountCrossed() {
    if (++crossed_ < kMaxCrossed)
        return true;
    Err(QStringLiteral("kvctl: %1; %2 answers that belonged to other requests were not used")
            .arg(CrossedText())
            .arg(crossed_) +
        WriteState() + QLatin1Char('\n'));
    Finish(exitNoAnswer);
    return false;
}

QString TKvCtl::CrossedText() const {
    return QStringLiteral("the device on %1 answers later than the time-out (%2 ms), so that requests meet the "
                          "answers to earlier ones (a longer --timeout may help)")
        .arg(a_->port)
        .arg(a_->timeoutMs);
}

void TKvCtl::NoAnswer(std::uint8_t command, TMBStatus status, const std::string& statusText) {
    if (exit_)
        return;
    const TArgs& a = *a_;
    QString what;
    int code = exitNoAnswer;
    switch (status) {
    case stTimeOut:
        what = QStringLiteral("no answer from the device on %1 (command %2, %3 tries of %4 ms)")
                   .arg(a.port)
                   .arg(command)
                   .arg(link_->MBMasterMaxTryNumber())
                   .arg(a.timeoutMs);
        break;
    case stSlaveError:
        what = QStringLiteral("the device refused command %1: %2").arg(command).arg(Q(statusText));
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
