#pragma once
// TKvCtl: one kvctl command from its arguments to its exit code. The program
// (main.cpp) runs it on the event loop with the system's port and QTimer;
// tests run it on an in-memory port and a manual clock, with the output
// captured. It never blocks: every step follows a transaction's end, a
// timer or the port.
#include "DeviceRecords.h"
#include "FrameTrace.h"
#include "KvLink.h"
#include "KvSession.h"
#include "StatusTexts.h"

#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace kvctl {

// Exit codes.
enum TExit : int {
    exitOK = 0,
    exitDiffers = 1,     // the device answered, but the result differs or was refused
    exitUsage = 2,       // usage or file error
    exitNoAnswer = 3,    // no answer after the link's retries, or the port could not be opened
    exitInterrupted = 130,
};

// The world a command runs in. Defaults: the system's port and clocks.
struct TEnvironment {
    TMBTimerFactory* timers = nullptr;                      // null: QTimer
    std::function<std::unique_ptr<TMBPort>()> makePort;     // null: the system's port
    std::function<QDateTime()> now;                         // wall clock (timestamps, file names)
    std::function<double()> monotonic;                      // seconds, for the trace
    std::function<void(const QByteArray&)> out, err;        // null: stdout, stderr
    QString envPort;                                        // KV_PORT
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
    // Ctrl-C: ends cleanly, files complete, exit 130.
    void Interrupt();

    bool Finished() const { return exit_.has_value(); }
    int ExitCode() const { return exit_.value_or(-1); }
    std::function<void(int exitCode)> OnFinished;

    // For tests and the benchmark.
    TKvLink* Link() { return link_.get(); }
    TKvSession* Session() { return session_.get(); }

    static QString HelpText(const QString& command = {});

private:
    // The command line, parsed.
    struct TArgs {
        QString port, trace, command, sub, csv, output, backup;
        QStringList positional;
        QStringList given; // options given, for the per-command check
        bool json = false, help = false, version = false, dryRun = false, noVerify = false;
        int timeoutMs = 1000; // the link's answer time-out per try, as the window runs it
        double interval = 1.0;
        long long count = -1;
    };
    bool Parse(const QStringList& args);
    bool OpenLink();
    void Finish(int code);
    void Out(const QString& text);
    void Err(const QString& text);
    QString Now() const; // ISO 8601 with the time zone

    // The commands.
    void RunPorts();
    void RunStatus();
    void RunWatch();
    void RunMaintenance();
    void RunSettingsGet(bool factory);
    void RunSettingsDiff();
    void RunSettingsSet();

    // Shared steps.
    void OnEnd(const TKvSession::TEnd& end);
    void NoAnswer(const TKvSession::TEnd& end);
    QString WriteState() const;
    void ApplySettings(const kv::SettingsRecord& r);
    QJsonObject StatusJson(const kv::PollAnswer& a) const;
    QString StatusText(const kv::PollAnswer& a) const;
    void WatchLine(const kv::PollAnswer& a);
    void WatchHungUp();
    void WatchReopen();

    TEnvironment env_;
    std::unique_ptr<TArgs> a_;
    std::unique_ptr<TFrameTrace> trace_;
    std::unique_ptr<QFile> traceFile_;
    std::unique_ptr<TKvLink> link_;
    std::unique_ptr<TKvSession> session_;
    std::function<void(const TKvSession::TEnd&)> step_; // the command's reaction to each end
    std::optional<int> exit_;

    // What the window takes from the settings answer for its status display.
    kv::DisplayFormats formats_;
    int modeIndex_ = 0, cjcIndex_ = 0;
    std::optional<kv::SettingsRecord> deviceSettings_;

    // watch
    std::unique_ptr<TMBTimer> intervalTimer_, reopenTimer_;
    bool lineDue_ = true, silent_ = false, settingsKnown_ = false;
    long long lines_ = 0;
    std::unique_ptr<QFile> csv_;

    // settings set
    bool writeSent_ = false, writeAcked_ = false, wroteBackup_ = false;
    kv::SettingsRecord toWrite_;
};

} // namespace kvctl
