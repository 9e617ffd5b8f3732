#pragma once
// TKvCtl: one kvctl command from its arguments to its exit code. The program
// (main.cpp) runs it on the event loop with the system's port and QTimer;
// tests run it on an in-memory port and a manual clock, with the output
// captured. It never blocks: every step follows a transaction's end, a
// timer or the port.
#include "DeviceRecords.h"
#include "Files.h"
#include "FrameTrace.h"
#include "MBLink.h"
#include "KvCtlPending.h"
#include "Language.h"
#include "Output.h"
#include "PollCycle.h"
#include "SettingsModel.h"
#include "StationRun.h"
#include "StatusTexts.h"

#include <QDateTime>
#include <QJsonObject>
#include <QStringList>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>

namespace kvctl {

// The calibration station (station/) runs the calibrations; kvctl presents them.
using namespace kv::station;

// A duration: seconds, or a number with ms, s, m, h or d; false when it is
// none (or not above 0).
bool ParseDuration(const QString& text, double& seconds);

// The world a command runs in. Defaults: the system's port and clocks.
struct TEnvironment {
    TMBTimerFactory* timers = nullptr;                      // null: QTimer
    std::function<std::unique_ptr<TMBPort>()> makePort;     // null: the system's port
    std::function<std::unique_ptr<TMBPort>()> makeMeterPort; // calibrate output's meter; null: the system's port
    std::function<QDateTime()> now;                         // wall clock (timestamps, file names)
    std::function<double()> monotonic;                      // seconds, for the trace
    std::function<void(const QByteArray&)> out, err;        // captures; null: stdout, stderr (checked)
    QString envPort;                                        // KV_PORT
    // The language of the texts when --lang is not given: main takes the
    // locale's (common/Language.h); tests get the texts' own.
    kv::lang::TLanguage language = kv::lang::TLanguage::Hungarian;
    // A reader that went away (EPIPE) ends kvctl by SIGPIPE, as a pipeline
    // expects; false where its parent had SIGPIPE ignored (exitOutput then).
    bool brokenPipeIsSignal = false;
};

class TKvCtl {
public:
    explicit TKvCtl(TEnvironment env = {});
    ~TKvCtl();
    TKvCtl(const TKvCtl&) = delete;
    TKvCtl& operator=(const TKvCtl&) = delete;

    // Parses and starts the command (arguments without the program name).
    // A command that needs no device may be finished on return.
    void Start(const QStringList& args);
    // A signal (SIGINT, SIGTERM, SIGHUP): ends cleanly, files complete,
    // with 128 + sig; the program then ends by that signal (EndSignal).
    void Interrupt(int sig = SIGINT);

    bool Finished() const { return exit_.has_value(); }
    int ExitCode() const { return exit_.value_or(-1); }
    // The signal the program must end by after cleaning up, or 0.
    int EndSignal() const { return endSignal_; }
    std::function<void(int exitCode)> OnFinished;

    // For tests and the benchmark.
    TMBLink* Link() { return link_.get(); }
    kv::TPollCycle* Cycle() { return station_ ? &station_->Cycle() : cycle_.get(); }
    // The verification or calibration under way (verify, calibrate).
    TStationRun* Station() { return station_.get(); }
    // Replaces the line's fixture of verify and the calibrations (tests: kvsim's console).
    std::function<void(const QStringList& words, std::function<void(const QString& error)> done)> FixtureForTests;
    TPendingFlags& Pending() { return pending_; }

    // The overview, a command's help ("json": the JSON schemas); empty for
    // a command that does not exist.
    static QString HelpText(const QString& command = {});
    // Exit codes, signals, files and locales: what a script may rely on.
    static QString ContractText();
    // What every command that writes a certificate says of it in its help.
    static QString CertificateHelp();

private:
    // The command line, parsed.
    struct TArgs {
        QString port, trace, command, sub, csv, output, backup;
        // How -o and --backup are written: whole, or as a stream to a device
        // or pipe that stands under the name (/dev/stdout, /dev/null).
        kv::TWriteWay outputWay = kv::TWriteWay::Whole, backupWay = kv::TWriteWay::Whole;
        QString fixture, references, certificate, operatorName; // calibrate
        QString serial, ambient;                                    // a certificate's identity
        QString bench;                                              // calibrate: the bench file
        std::optional<int> fixtureTimeoutS;                         // calibrate: --fixture-timeout
        QString meter;                                              // calibrate output, verify
        QString points;                                             // --points
        std::uint32_t meterBaud = 9600;
        int settleMs = 20;
        QStringList positional;
        QStringList given; // options given, for the per-command check
        bool json = false, help = false, version = false, dryRun = false, noVerify = false;
        int timeoutMs = 1000; // the link's answer time-out per try, as the window runs it
        std::optional<kv::lang::TLanguage> language; // --lang
        double interval = 1.0;
        long long count = -1;
        double forSeconds = -1; // watch --for: the whole run's length
    };
    bool Parse(const QStringList& args);
    // Checks every output before the device is touched (and no two names are
    // one file), opens the trace, then the port; false when the command
    // ended instead.
    bool OpenLink();
    bool PrepareOutputs();
    // -o's and --backup's name as it is written: "-" (or the standard
    // output's own file) is the standard output, a device or pipe is written
    // as a stream, a name without an extension gets ".kvs"; a name that is
    // no file name (a folder) ends the command (false).
    bool ResolveOutputName(QString& name, kv::TWriteWay& way, const char* option);
    bool WriteOutput(const QString& path, kv::TWriteWay way, const QByteArray& bytes, QString* error);
    void Finish(int code);
    // A failure: the message on stderr ("kvctl: " and a line end added),
    // with --json the command's object with the exit code and the message
    // (`json`, when given, in its place) on stdout, and the exit code.
    void Fail(int code, const QString& message, const QString& json = {});
    // The command's JSON object with its exit code and error (null for
    // none), printed once; false when stdout failed.
    bool PrintJson(QJsonObject o, int code, const QString& error = {});
    // What the command knows when it fails: its own fields where it has
    // them, null for the rest.
    QJsonObject FailureJson();
    // Checked writes: a failure ends the command (OutputFailed). Out returns
    // false once the command has ended.
    bool Out(const QString& text);
    bool StdOut(const QByteArray& bytes); // false when the command ended on it
    void Err(const QString& text);
    void OutputFailed(const TStream& stream);
    void TraceLine(const std::string& line);
    // Writes the command's result to -o FILE (whole), or to stdout for
    // "-" or no -o; false when the command ended on a failure.
    bool Result(const QByteArray& bytes, const QString& what);
    QString Now() const; // ISO 8601 with the time zone
    // A certificate's language: --lang, else English (the auditor's).
    kv::lang::TLanguage CertificateLanguage() const;
    QJsonObject JsonHead(const char* schema, const QString& time) const;

    // The commands.
    void RunPorts();
    void RunStatus();
    void RunWatch();
    void RunMaintenance();
    void RunSettingsGet(bool factory);
    void RunSettingsDiff();
    void RunSettingsSet();
    QJsonObject SetJson() const;
    QJsonObject MaintenanceJson() const;
    // verify, calibrate input|output|all: the bench the command needs, then
    // the station's run on the line, its report and certificate.
    void RunVerify();
    void RunCalibrate();
    void RunStation(TStationRun::TWhat what, const TBenchNeeds& needs);
    void StationDone();
    // Every command that writes a certificate (KvCtlCertificate.cpp):
    // CertificateCanBeWritten before the device is touched (--serial given
    // with --certificate, else exit 2; the fonts it embeds and its number
    // register, else exit 4; false: said, and ended); PutIdentity on the
    // run's facts (--serial, --ambient, the bench's [Station] and source,
    // names in NFC) before they are printed or written; IssueCertificate to
    // claim the certificate's number and write the PDF and its JSON (false
    // with `error`).
    bool CertificateCanBeWritten();
    void PutIdentity(kv::cert::TFacts& facts) const;
    bool IssueCertificate(kv::cert::TFacts& facts, QString* error);
    // The facts with their identity as JSON (kvctl.calibration/2).
    QJsonObject CertificateJson(kv::cert::TFacts facts) const;
    // The calibrations' bench: --bench FILE with the options over it,
    // judged for what the run needs; false (exit 2, the reasons said,
    // nothing sent) when it is refused.
    bool CalibrationBench(const TBenchNeeds& needs, TBench& bench);

    // Shared steps.
    void Ended(const kv::TCommandEnd& end);
    void NoAnswer(std::uint8_t command, TMBStatus status, const std::string& statusText = {});
    // Answers that belonged to other requests: counted, and too many end
    // the command (false then).
    bool CountCrossed();
    QString CrossedText() const;
    // Why the settings page does not offer a maintenance action.
    static QString NotOfferedReason(std::uint8_t bit, const kv::SettingsPage& page);
    QString WriteState() const;
    void ApplySettings(const kv::SettingsRecord& r);
    QJsonObject StatusJson(const kv::PollAnswer& a, const char* schema, const QString& time) const;
    QString StatusText(const kv::PollAnswer& a) const;
    void WatchLine(const kv::PollAnswer& a);
    bool WatchOpenCsv();
    void WatchHungUp();
    void WatchReopen();

    TEnvironment env_;
    std::unique_ptr<TArgs> a_;
    // kvctl's language, installed for the command's run (tr() and the
    // shared texts read it); removed when the command is destroyed.
    std::unique_ptr<kv::lang::TTranslation> translation_;
    TStream out_{1, QStringLiteral("standard output")}, err_{2, QStringLiteral("standard error")};
    std::unique_ptr<TStream> traceStream_;
    int traceFd_ = -1;
    std::unique_ptr<TFrameTrace> trace_;
    std::unique_ptr<TMBLink> link_;
    TPendingFlags pending_;
    std::unique_ptr<TPollInputsNoForcing> inputs_;
    std::unique_ptr<kv::TPollCycle> cycle_;
    // The command's reactions to what the cycle hands on; an end that is not
    // done has been judged by Ended (a failure ends the command) unless
    // tolerant is set (watch).
    struct TSteps {
        std::function<void(const kv::TCommandEnd&)> end;
        std::function<void(const kv::PollAnswer&)> poll;
        std::function<void(kv::TDeviceCommand, const kv::SettingsRecord&)> settings;
        bool tolerant = false;
    } steps_;
    int crossed_ = 0;
    std::optional<int> exit_;
    QString schema_;           // the command's JSON schema, once the command is known
    bool jsonPrinted_ = false; // its object is out (one per command; watch: per line)
    bool finishedOnce_ = false; // OnFinished is told once, also when a failed output changes the code
    int endSignal_ = 0;

    // What the window takes from the settings answer for its status display.
    kv::DisplayFormats formats_;
    int modeIndex_ = 0, cjcIndex_ = 0;
    std::optional<kv::SettingsRecord> deviceSettings_;

    // watch
    std::unique_ptr<TMBTimer> intervalTimer_, reopenTimer_, forTimer_;
    bool lineDue_ = true, silent_ = false, settingsKnown_ = false, crossedWarned_ = false, answered_ = false;
    long long lines_ = 0;
    std::unique_ptr<TCsvLog> csv_;

    // verify and calibrate
    std::unique_ptr<TStationRun> station_;
    // The bench's station and source (CalibrationBench), for PutIdentity.
    kv::station::TStation benchStation_;
    std::optional<kv::station::TBenchSource> benchSource_;

    // maintenance: how far the action got
    enum class TMaintenance {
        NotSent,      // no request carried it yet
        Pending,      // the next poll carries it (it may be on the line)
        Sent,         // a poll that carried it has ended
        Acknowledged, // the device acknowledged it
    };
    TMaintenance maintenance_ = TMaintenance::NotSent;
    std::uint8_t maintenanceBit_ = 0;
    QString maintenanceAction_;

    // settings set: its steps, one after the other
    enum class TSetStep {
        ReadBefore, // reading what the device holds (for the diff and the backup)
        Write,      // the backup is on disk; the write goes with the next poll
        ReadBack,   // the write was acknowledged; reading what the device stored
        Done,
    };
    TSetStep setStep_ = TSetStep::ReadBefore;
    bool writeSent_ = false, writeAcked_ = false, wroteBackup_ = false, beforeKnown_ = false;
    std::optional<kv::SettingsRecord> stored_; // read back after the write
    kv::SettingsRecord toWrite_, before_;
    QString setFile_;
    void SetEnd(const kv::TCommandEnd& end);
    void SetPoll();
    void SetSettings(const kv::SettingsRecord& device);
    void SetReadBefore(const kv::SettingsRecord& device);
    void SetReadBack(const kv::SettingsRecord& stored);
    void SetReport(int code, const QString& error);
    // The settings file of set, diff (and set --dry-run) with the same
    // checks; false (exit 2, the reasons said) when it is refused.
    // fromStream: it was a pipe or another stream, not a file.
    bool LoadSettingsArgument(const QString& file, kv::SettingsRecord& record, bool* fromStream = nullptr);
};

} // namespace kvctl
