// The run of one kvctl command: its start from the parsed arguments, the
// link, the output and the exit code, shared by every command.
#include "KvCtl.h"
#include "KvCtlText.h"
#include "KvVersion.h"

#include "KvCtlJson.h"
#include "LocalDate.h"
#include "MBListPorts.h"
#include "SettingsModel.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
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
    station_.reset();
    cycle_.reset();
    if (traceFd_ >= 0)
        ::close(traceFd_);
}

bool TKvCtl::Out(const QString& text) {
    if (exit_ && *exit_ == exitOutput)
        return false;
    StdOut(text.toUtf8());
    return !exit_ || *exit_ != exitOutput;
}

bool TKvCtl::StdOut(const QByteArray& bytes) {
    if (env_.out) {
        env_.out(bytes);
        return true;
    }
    if (out_.Write(bytes))
        return true;
    OutputFailed(out_);
    return false;
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
    if (&stream == &err_)
        Finish(exitOutput); // nowhere left to say it
    else
        Fail(exitOutput, QStringLiteral("cannot write %1%2").arg(stream.FailureText(), what));
}

void TKvCtl::TraceLine(const std::string& line) {
    if (!traceStream_ || traceStream_->Failed())
        return;
    if (!traceStream_->Write(QByteArray::fromStdString(line + '\n')))
        OutputFailed(*traceStream_);
}

bool TKvCtl::Result(const QByteArray& bytes, const QString& what) {
    const QString output = a_->output;
    if (output.isEmpty() || IsStandardOutput(output))
        return StdOut(bytes);
    QString error;
    if (!WriteOutput(output, a_->outputWay, bytes, &error)) {
        exit_.reset();
        Fail(exitOutput, QStringLiteral("cannot write %1 (%2): %3; an earlier file of that name is as it was")
                             .arg(what, output, error));
        return false;
    }
    Err(QStringLiteral("saved %1\n").arg(output));
    return true;
}

bool TKvCtl::WriteOutput(const QString& path, kv::TWriteWay way, const QByteArray& bytes, QString* error) {
    return way == kv::TWriteWay::Stream ? kv::WriteToStream(path, bytes, error) : WriteFileWhole(path, bytes, error);
}

namespace {

// The same file: both there and one inode, or neither there and one name.
bool SameFile(const QString& a, const QString& b) {
    struct stat sa {}, sb {};
    const bool ea = ::stat(QFile::encodeName(a).constData(), &sa) == 0;
    const bool eb = ::stat(QFile::encodeName(b).constData(), &sb) == 0;
    if (ea && eb)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (ea || eb)
        return false;
    const QFileInfo fa(a), fb(b);
    return fa.fileName() == fb.fileName() &&
           QFileInfo(fa.absolutePath()).canonicalFilePath() == QFileInfo(fb.absolutePath()).canonicalFilePath();
}

bool IsRegularOrMissing(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) != 0 || S_ISREG(st.st_mode);
}

} // namespace

bool TKvCtl::ResolveOutputName(QString& name, kv::TWriteWay& way, const char* option) {
    way = kv::TWriteWay::Whole;
    if (IsStandardOutput(name))
        return true;
    const QString file = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    struct stat st {};
    const bool exists = ::stat(QFile::encodeName(name).constData(), &st) == 0;
    if (file.isEmpty() || file == QLatin1String(".") || file == QLatin1String("..") || (exists && S_ISDIR(st.st_mode))) {
        Fail(exitUsage, QStringLiteral("%1 %2 names a folder, not a file; nothing was sent").arg(QLatin1String(option), name));
        return false;
    }
    // What the standard output goes to (/dev/stdout, or F.kvs in
    // "-o F.kvs > F.kvs") is the standard output.
    if (struct stat out {}; exists && !env_.out && ::fstat(1, &out) == 0 && out.st_dev == st.st_dev && out.st_ino == st.st_ino) {
        name = QStringLiteral("-");
        return true;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        // A device or a pipe (/dev/null, a FIFO): written to as it is, never
        // with a file made beside it.
        way = kv::TWriteWay::Stream;
        return true;
    }
    // As the window's file dialog, a name without an extension gets ".kvs".
    name = kv::WithSettingsFileExtension(name);
    return true;
}

bool TKvCtl::PrepareOutputs() {
    const TArgs& a = *a_;
    // Every file the command reads or writes, each by its option.
    struct TNamed {
        QString option, path;
        bool port; // a serial port: never another file's name
        kv::TWriteWay way;
        bool written;
    };
    std::vector<TNamed> files;
    const auto add = [&](const char* option, const QString& path, bool port, kv::TWriteWay way, bool written) {
        if (!path.isEmpty() && !IsStandardOutput(path))
            files.push_back({QString::fromLatin1(option), path, port, way, written});
    };
    add("--port", a.port, true, kv::TWriteWay::Stream, false);
    add("--meter", a.meter, true, kv::TWriteWay::Stream, false);
    if (a.command == QLatin1String("settings") && a.sub != QLatin1String("get"))
        add("the settings file", a.positional.value(0), false, kv::TWriteWay::Stream, false);
    add("-o", a.output, false, a.outputWay, true);
    if (!a.dryRun)
        add("--backup", a.backup, false, a.backupWay, true);
    add("--csv", a.csv, false, kv::TWriteWay::Append, true);
    if (!a.certificate.isEmpty()) {
        add("--certificate", a.certificate, false, kv::TWriteWay::Whole, true);
        add("the certificate's JSON", kv::cert::JsonPathFor(a.certificate), false, kv::TWriteWay::Whole, true);
    }
    add("--trace", a.trace, false, kv::TWriteWay::Append, true);
    // No two of them one file: a trace that replaced the CSV log or the
    // settings file it was to write would destroy what it names.
    for (std::size_t i = 0; i < files.size(); ++i)
        for (std::size_t j = i + 1; j < files.size(); ++j) {
            const TNamed &x = files[i], &y = files[j];
            if (!(x.written || y.written) || !SameFile(x.path, y.path))
                continue;
            // Devices that are no port (/dev/null) may take two outputs.
            if (!x.port && !y.port && !(IsRegularOrMissing(x.path) && IsRegularOrMissing(y.path)))
                continue;
            Fail(exitUsage, QStringLiteral("%1 %2 is the same file as %3 %4; give each its own; nothing was sent")
                                .arg(x.option, x.path, y.option, y.path));
            return false;
        }
    // Every output that can be seen to fail now fails before the device is
    // touched: a calibration never runs to its end to find its certificate
    // unwritable, a settings write never goes out without its backup.
    for (const TNamed& f : files) {
        if (!f.written)
            continue;
        const QString why = kv::CannotWrite(f.path, f.way);
        if (!why.isEmpty()) {
            Fail(exitOutput, QStringLiteral("cannot write %1 %2; nothing was sent").arg(f.option, why));
            return false;
        }
    }
    if (a.trace.isEmpty())
        return true;
    // The trace is this run's log, written as it goes (a run that hangs is
    // what it is for): a file of that name is replaced, once everything
    // else is known to be in order.
    traceFd_ = ::open(QFile::encodeName(a.trace).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
    if (traceFd_ < 0) {
        Fail(exitOutput, QStringLiteral("cannot write the trace %1: %2; nothing was sent")
                             .arg(a.trace, QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    traceStream_ = std::make_unique<TStream>(traceFd_, QStringLiteral("the trace ") + a.trace);
    trace_ = std::make_unique<TFrameTrace>([this](const std::string& line) { TraceLine(line); }, env_.monotonic);
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

void TKvCtl::Fail(int code, const QString& message, const QString& json) {
    // The first failure stands; a failure after a result replaces it.
    if (exit_ && *exit_ != exitOK)
        return;
    exit_.reset();
    Finish(code);
    Err(QStringLiteral("kvctl: ") + message + QLatin1Char('\n'));
    if (!a_->json || schema_.isEmpty() || jsonPrinted_)
        return;
    QJsonObject o = FailureJson();
    PrintJson(o, ExitCode(), json.isEmpty() ? message : json);
}

bool TKvCtl::PrintJson(QJsonObject o, int code, const QString& error) {
    SetExit(o, code, error);
    // watch writes one object a line; its failure object is the last line.
    const bool lines = a_->command == QLatin1String("watch");
    if (!lines)
        jsonPrinted_ = true;
    const QByteArray bytes = QJsonDocument(o).toJson(lines ? QJsonDocument::Compact : QJsonDocument::Indented) +
                             (lines ? QByteArray("\n") : QByteArray());
    return !out_.Failed() && StdOut(bytes);
}

QJsonObject TKvCtl::FailureJson() {
    QJsonObject o;
    if (schema_ == QLatin1String("kvctl.settings.set/2"))
        o = SetJson();
    else if (schema_ == QLatin1String("kvctl.maintenance/1"))
        o = MaintenanceJson();
    else if (station_)
        o = CertificateJson(station_->Facts());
    else if (a_->command == QLatin1String("calibrate") || a_->command == QLatin1String("verify")) {
        // The run never began: a certificate's facts with nothing done.
        kv::cert::TFacts facts;
        facts.Kind = a_->command == QLatin1String("verify") ? kv::cert::TKind::Verification
                     : a_->sub == QLatin1String("input")    ? kv::cert::TKind::Input
                     : a_->sub == QLatin1String("output")   ? kv::cert::TKind::Output
                                                            : kv::cert::TKind::All;
        facts.Command = facts.Kind == kv::cert::TKind::Output         ? kv::cmdWriteOutputCalibration
                        : facts.Kind == kv::cert::TKind::Verification ? 0
                                                                      : kv::cmdWriteInputCalibration;
        facts.Port = a_->port;
        facts.Operator = a_->operatorName;
        facts.ToolVersion = QStringLiteral("kvctl " KV_VERSION);
        facts.Failure = QStringLiteral("the run did not begin");
        o = CertificateJson(facts);
    } else
        o = JsonHead(schema_.toLatin1().constData(), Now());
    if (a_->command == QLatin1String("settings") && !o.contains(QStringLiteral("file")))
        o[QStringLiteral("file")] = a_->positional.value(0);
    // The rest of the schema's fields: null, nothing known.
    for (const TJsonSchema& s : JsonSchemas()) {
        if (schema_ != QLatin1String(s.name))
            continue;
        for (const TJsonField& f : s.fields) {
            const QString top = QString::fromLatin1(f.path).section(QLatin1Char('.'), 0, 0).section(QStringLiteral("[]"), 0, 0);
            if (!o.contains(top))
                o[top] = QJsonValue();
        }
    }
    return o;
}

QString TKvCtl::WriteState() const {
    // What a settings write that ended early leaves behind.
    const TArgs& a = *a_;
    QString what;
    if (a.command == QLatin1String("settings") && a.sub == QLatin1String("set")) {
        if (setStep_ == TSetStep::Done && stored_)
            what += QStringLiteral("; the write WAS acknowledged and the settings were read back");
        else if (setStep_ == TSetStep::Done)
            what += QStringLiteral("; nothing was written");
        else if (writeAcked_)
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
    if (station_ && station_->End() == TStationRun::TEnd::Running) {
        // The device gets its settings back and the forcing ends first; the
        // run then finishes the command.
        station_->Interrupt();
        return;
    }
    QString what = WriteState();
    if (csv_)
        what += QStringLiteral("; %1 ends with its last whole row (%2 rows added)").arg(csv_->Path()).arg(csv_->Rows());
    Fail(128 + sig, QStringLiteral("interrupted (SIG%1)").arg(QString::fromLatin1(sigabbrev_np(sig) ? sigabbrev_np(sig) : "?")) +
                        what);
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

    // Which options and arguments each command takes, and its JSON.
    struct TShape {
        const char* command;
        const char* sub;
        int arguments;
        QStringList options;
        const char* schema;
    };
    const TShape shapes[] = {
        {"ports", "", 0, {}, "kvctl.ports/1"},
        {"status", "", 0, {}, "kvctl.status/1"},
        {"watch", "", 0, {"--interval", "--csv", "--count", "--for"}, "kvctl.watch/1"},
        {"settings", "get", 0, {"-o", "--output"}, "kvctl.settings.get/1"},
        {"settings", "diff", 1, {}, "kvctl.settings.diff/2"},
        {"settings", "set", 1, {"--dry-run", "--no-verify", "--backup"}, "kvctl.settings.set/2"},
        {"factory", "", 0, {"-o", "--output"}, "kvctl.factory/1"},
        {"maintenance", "", 1, {}, "kvctl.maintenance/1"},
        {"verify", "", 0, {"--bench", "--fixture", "--fixture-timeout", "--meter", "--meter-baud", "--points", "--certificate",
                           "--operator", "--settle", "--serial", "--ambient"},
         kv::cert::kSchema},
        {"calibrate", "input", 0, {"--fixture", "--references", "--certificate", "--operator", "--bench", "--fixture-timeout",
                                   "--points", "--serial", "--ambient"},
         kv::cert::kSchema},
        {"calibrate", "output", 0, {"--meter", "--meter-baud", "--fixture", "--certificate", "--operator", "--settle", "--bench",
                                    "--fixture-timeout", "--points", "--serial", "--ambient"},
         kv::cert::kSchema},
        {"calibrate", "all", 0, {"--meter", "--meter-baud", "--fixture", "--references", "--certificate", "--operator",
                                 "--settle", "--bench", "--fixture-timeout", "--points", "--serial", "--ambient"},
         kv::cert::kSchema},
    };
    const TShape* shape = nullptr;
    for (const auto& s : shapes)
        if (command == QLatin1String(s.command) && a.sub == QLatin1String(s.sub))
            shape = &s;
    if (!shape) {
        if (command == QLatin1String("settings"))
            Err(QStringLiteral("kvctl: settings needs get, diff or set (kvctl help settings)\n"));
        else if (command == QLatin1String("calibrate"))
            Err(QStringLiteral("kvctl: calibrate needs input, output or all (kvctl help calibrate)\n"));
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
    // From here on a failure is also the command's JSON object (--json).
    schema_ = QString::fromLatin1(shape->schema);
    if (!a.output.isEmpty() && !ResolveOutputName(a.output, a.outputWay, "-o"))
        return;
    if (!a.backup.isEmpty() && !ResolveOutputName(a.backup, a.backupWay, "--backup"))
        return;
    if (!a.backup.isEmpty() && IsStandardOutput(a.backup)) {
        // set's own report goes there; a backup mixed into it restores nothing.
        Fail(exitUsage, QStringLiteral("--backup names the standard output; give a file; nothing was sent"));
        return;
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
        RunCalibrate();
    else if (command == QLatin1String("verify"))
        RunVerify();
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
        Fail(exitUsage, QStringLiteral("no port: give --port PATH or set KV_PORT (kvctl ports lists them)"));
        return false;
    }
    if (!PrepareOutputs())
        return false;
    link_ = std::make_unique<TMBLink>(env_.timers, env_.makePort ? env_.makePort() : nullptr);
    link_->setMBMasterTimeOut(static_cast<std::uint16_t>(a.timeoutMs));
    link_->MBSetWireObserver(trace_.get());
    if (!link_->MBOpenLink(a.port)) {
        // A file that is there but no terminal (/dev/null, a folder) is no
        // port, whoever else holds it.
        struct stat st {};
        const bool noPort = ::stat(QFile::encodeName(a.port).constData(), &st) == 0 && !mb::IsTtyDevice(a.port);
        Fail(exitNoAnswer, QStringLiteral("cannot open %1: %2")
                               .arg(a.port, noPort ? QStringLiteral("not a serial port")
                                                   : link_->MBPortDevice().ErrorText().simplified()));
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
    Fail(exitNoAnswer, QStringLiteral("%1; %2 answers that belonged to other requests were not used")
                           .arg(CrossedText())
                           .arg(crossed_) +
                           WriteState());
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
    Fail(code, what + WriteState());
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
