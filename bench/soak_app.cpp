// kvsoak: the real main window against kvsim for a number of polls, while
// each of kvsim's line faults is switched on in turn and off again, and a
// hang-up is followed by the simulator's return under the same link. The
// driver does what a user at the window would: it opens the port on the link
// panel (again after a hang-up), and presses "write the settings" and
// "restart" while a fault is on.
//
// Writes into the output folder:
//   soak.csv     every SAMPLE s: elapsed time, polls (all, OK), RSS, open
//                descriptors, threads, CPU seconds, the phase (normal or the fault)
//   faults.csv   each fault: name, start, end, recovery (first OK poll after its end)
//   verdict.txt  what is printed at the end (below)
// and prints a verdict: polls done, recovery after each fault (polls resumed
// within 2 s of its end), whether the writes pressed during the fault were
// carried out by the device exactly once, growth of RSS, descriptors and
// threads from minute 5 (a third of the run when it is shorter than 15
// minutes) to the end, and CPU per minute in normal polling and under each fault.
//
// Usage: kvsoak --out DIR [--polls N] [--fault-s S] [--normal-s S] [--sample-s S]
// Shown on the platform Qt is given (offscreen by default; under Xvfb it is drawn).
#include "MB.h"
#include "ProcessFigures.h"
#include "Main.h"
#include "SimProcess.h"
#include "SpeedButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>


#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::duration d) { return std::chrono::duration<double>(d).count(); }

// VmRSS (kB) and Threads of /proc/self/status, and the open descriptors.
struct TProcSample {
    long rssKb = 0, threads = 0, fds = 0;
};

TProcSample ProcSample() {
    TProcSample s;
    QFile f(QStringLiteral("/proc/self/status"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                s.rssKb = line.mid(6).trimmed().split(' ').value(0).toLong();
            else if (line.startsWith("Threads:"))
                s.threads = line.mid(8).trimmed().toLong();
        }
    s.fds = static_cast<long>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                                              QDir::System).size());
    return s;
}

struct TFault {
    const char* name;
    const char* on;
    const char* off; // nullptr: the fault ends by itself (the hang-up: when kvsim serves again)
};

const TFault kFaults[] = {
    {"drop", "drop 0.3", "drop 0"},     {"corrupt", "corrupt 0.3", "corrupt 0"}, {"noise", "noise 0.3", "noise 0"},
    {"error", "error 254", "error off"}, {"late", "late on 1500", "late off"},    {"silent", "silent on", "silent off"},
    {"hangup", "hangup", nullptr},
};

// kvsim's "counts" reply.
struct TCounts {
    bool valid = false;
    long restarts = 0, writes = 0; // restarts done, settings writes carried out (command 4)
};

struct TFaultRun {
    QString name;
    double start = 0, end = -1, recovery = -1;
    TCounts before, after;
    bool pressed = false;
    bool released = false; // both buttons up again at the check
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    long targetPolls = 100000;
    int faultS = 20, normalS = 40, sampleS = 10;
    QString out;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == "--polls")
            targetPolls = args[++i].toLong();
        else if (args[i] == "--fault-s")
            faultS = args[++i].toInt();
        else if (args[i] == "--normal-s")
            normalS = args[++i].toInt();
        else if (args[i] == "--sample-s")
            sampleS = args[++i].toInt();
        else if (args[i] == "--out")
            out = args[++i];
    }
    if (out.isEmpty() || targetPolls <= 0 || faultS <= 0 || normalS <= 0 || sampleS <= 0) {
        std::fprintf(stderr, "usage: kvsoak --out DIR [--polls N] [--fault-s S] [--normal-s S] [--sample-s S]\n");
        return 2;
    }
    QDir().mkpath(out);

    QTemporaryDir work;
    const QString linkPath = work.filePath(QStringLiteral("port"));
    simtest::TKvsimProcess sim({"--link", linkPath, "--turnaround", "2"});
    if (!sim.ok) {
        std::fprintf(stderr, "kvsoak: kvsim did not start\n");
        return 1;
    }
    TFormMainOptions options;
    options.IniFileName = work.filePath(QStringLiteral("kvsetup.ini"));
    TForm_Main form(options);
    form.show();

    const TClock::time_point t0 = TClock::now();
    auto now = [&] { return Seconds(TClock::now() - t0); };

    // Polls as the window's dispatcher sees them end.
    long polls = 0, okPolls = 0;
    double lastOk = -1;
    auto dispatcher = form.MB1->OnMBMasterEndOfEvent;
    form.MB1->OnMBMasterEndOfEvent = [&](TMBStatus s, const std::string& t) {
        if (form.MB1->MBMasterCommandToSlave() == 1) {
            ++polls;
            if (s == stOK) {
                ++okPolls;
                lastOk = now();
            }
        }
        dispatcher(s, t);
    };

    // kvsim's lines: a new port after a hang-up, and the counts.
    double served = -1;
    TCounts latest;
    QObject::connect(&sim.proc, &QProcess::readyReadStandardOutput, &app, [&] {
        while (sim.proc.canReadLine()) {
            const QString line = QString::fromUtf8(sim.proc.readLine()).trimmed();
            if (line.startsWith("kvsim: serving on ")) {
                served = now();
            } else if (line.startsWith("counts:")) {
                static const QRegularExpression restarts(QStringLiteral("restarts (\\d+)"));
                static const QRegularExpression writes(QStringLiteral("command 4 (\\d+)"));
                latest.restarts = restarts.match(line).captured(1).toLong();
                latest.writes = writes.match(line).captured(1).toLong();
                latest.valid = true;
            }
        }
    });
    auto say = [&](const char* line) {
        sim.proc.write(QByteArray(line) + "\n");
    };

    // Opened as the user does on the link panel, once it has listed its ports.
    auto* list = form.MB1->findChild<QListWidget*>("ListBox_Ports");
    auto* open = form.MB1->findChild<QAbstractButton*>("SpeedButton_OpenClose");
    auto openPort = [&] {
        if (form.MB1->MBPortOpen())
            return;
        const auto found = list->findItems(linkPath, Qt::MatchExactly);
        if (found.isEmpty())
            list->addItem(linkPath);
        list->setCurrentItem(list->findItems(linkPath, Qt::MatchExactly).value(0));
        form.MB1->MBPortListClick();
        open->setEnabled(true);
        open->click();
    };
    simtest::WaitFor([] { return false; }, 1100);
    openPort();
    if (!simtest::WaitFor([&] { return okPolls >= 3; }, 10000)) {
        std::fprintf(stderr, "kvsoak: the window did not reach its poll cycle\n");
        return 1;
    }

    QFile csv(out + "/soak.csv");
    if (!csv.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    QTextStream csvOut(&csv);
    csvOut << "elapsed_s,polls,ok_polls,rss_kb,fds,threads,cpu_s,phase\n";

    // The schedule: normal, a fault, normal, the next fault, ...
    std::vector<TFaultRun> runs;
    std::size_t next = 0;
    bool inFault = false;
    double phaseStart = now();
    QString phase = QStringLiteral("normal");
    std::map<QString, std::pair<double, double>> cpuByPhase; // cpu s, wall s
    double lastTick = now(), lastCpu = kvbench::CpuSeconds(), lastSample = -1e9;
    std::vector<std::pair<double, TProcSample>> samples;

    auto sample = [&] {
        const TProcSample p = ProcSample();
        const double t = now();
        samples.emplace_back(t, p);
        csvOut << QString::number(t, 'f', 1) << ',' << polls << ',' << okPolls << ',' << p.rssKb << ',' << p.fds << ','
               << p.threads << ',' << QString::number(kvbench::CpuSeconds(), 'f', 3) << ',' << phase << '\n';
        csvOut.flush();
    };

    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const double t = now();
        const double cpu = kvbench::CpuSeconds();
        auto& acc = cpuByPhase[phase];
        acc.first += cpu - lastCpu;
        acc.second += t - lastTick;
        lastCpu = cpu;
        lastTick = t;
        if (t - lastSample >= sampleS) {
            lastSample = t;
            sample();
        }
        // The end comes between faults, once the last one's figures are in.
        if (polls >= targetPolls && !inFault &&
            (runs.empty() || (runs.back().recovery >= 0 && (!runs.back().pressed || runs.back().after.restarts >= 0)) ||
             t - runs.back().start > faultS + normalS + 30)) {
            app.quit();
            return;
        }
        if (!runs.empty()) {
            TFaultRun& r = runs.back();
            // The hang-up ends when kvsim serves again; the user opens the port anew.
            if (r.name == "hangup" && r.end < 0 && served > r.start) {
                r.end = served;
                inFault = false;
                phase = QStringLiteral("normal");
                phaseStart = t;
            }
            if (r.name == "hangup" && r.end >= 0 && !form.MB1->MBPortOpen())
                openPort();
            if (r.end >= 0 && r.recovery < 0 && lastOk > r.end)
                r.recovery = lastOk - r.end;
            if (r.pressed && !r.after.valid && r.end >= 0 && t - r.end > std::min(8.0, normalS - 1.0)) {
                r.released = !form.SpeedButton_WriteSettingsToInstrument->Down() && !form.SpeedButton_Reset->Down();
                latest.valid = false;
                say("counts");
                r.after.valid = true; // filled in below when the reply came
                r.after.restarts = -1;
            }
            if (r.after.valid && r.after.restarts < 0 && latest.valid)
                r.after = latest;
        }
        if (inFault) {
            TFaultRun& r = runs.back();
            if (!r.pressed && t - r.start >= 1.0 && latest.valid) {
                r.before = latest;
                form.SpeedButton_WriteSettingsToInstrument->Click();
                form.SpeedButton_Reset->Click();
                r.pressed = true;
            }
            const TFault& f = kFaults[(next + std::size(kFaults) - 1) % std::size(kFaults)];
            if (f.off && t - r.start >= faultS) {
                say(f.off);
                r.end = t;
                inFault = false;
                phase = QStringLiteral("normal");
                phaseStart = t;
            }
        } else if (polls < targetPolls && t - phaseStart >= normalS && (runs.empty() || runs.back().end >= 0)) {
            const TFault& f = kFaults[next % std::size(kFaults)];
            ++next;
            latest.valid = false;
            say("counts"); // the device's counts before the writes are pressed
            TFaultRun r;
            r.name = f.name;
            r.start = t;
            runs.push_back(r);
            say(f.on);
            inFault = true;
            phase = QString::fromLatin1(f.name);
            phaseStart = t;
        }
    });
    sample();
    tick.start();
    app.exec();
    // The figures end with the last sample in the running loop: after it the
    // window's helpers wind down.
    const double total = now();
    form.close();

    // The faults' file and the verdict.
    QFile faultsFile(out + "/faults.csv");
    if (faultsFile.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QTextStream f(&faultsFile);
        f << "fault,start_s,end_s,recovery_s\n";
        for (const auto& r : runs)
            f << r.name << ',' << QString::number(r.start, 'f', 1) << ',' << QString::number(r.end, 'f', 1) << ','
              << QString::number(r.recovery, 'f', 2) << '\n';
    }
    QString v;
    QTextStream o(&v);
    o << QStringLiteral("polls: %1 done, %2 OK, in %3 min (%4 polls/s)\n")
             .arg(polls)
             .arg(okPolls)
             .arg(total / 60.0, 0, 'f', 1)
             .arg(polls / total, 0, 'f', 1);
    int recovered = 0, writesOnce = 0, checked = 0;
    o << "faults (recovery: first OK poll after the fault's end; writes: settings writes and restarts the device "
         "carried out for one press of each):\n";
    for (const auto& r : runs) {
        const bool ok = r.recovery >= 0 && r.recovery <= 2.0;
        recovered += ok;
        QString writes = QStringLiteral("not checked");
        if (r.pressed && r.after.valid && r.after.restarts >= 0 && r.before.valid) {
            const long w = r.after.writes - r.before.writes, s = r.after.restarts - r.before.restarts;
            writes = QStringLiteral("%1 write(s), %2 restart(s), buttons %3").arg(w).arg(s).arg(r.released ? "up" : "STILL DOWN");
            ++checked;
            writesOnce += w == 1 && s == 1 && r.released;
        }
        o << QStringLiteral("  %1 at %2 s: recovery %3 %4; %5\n")
                 .arg(r.name, -8)
                 .arg(r.start, 0, 'f', 0)
                 .arg(r.recovery < 0 ? QStringLiteral("none") : QString::number(r.recovery, 'f', 2) + " s")
                 .arg(ok ? "ok" : "LATE")
                 .arg(writes);
    }
    o << QStringLiteral("recovered within 2 s: %1 of %2 faults; writes carried out exactly once: %3 of %4 checked\n")
             .arg(recovered)
             .arg(runs.size())
             .arg(writesOnce)
             .arg(checked);
    // Growth from minute 5 (or a third of a short run) to the end.
    const double from = total >= 15 * 60 ? 5 * 60 : total / 3;
    const auto base = std::find_if(samples.begin(), samples.end(), [&](const auto& s) { return s.first >= from; });
    if (base != samples.end()) {
        const TProcSample& a = base->second;
        const TProcSample& b = samples.back().second;
        o << QStringLiteral("growth from %1 s to the end: RSS %2 kB (%3 -> %4 kB), descriptors %5, threads %6\n")
                 .arg(base->first, 0, 'f', 0)
                 .arg(b.rssKb - a.rssKb)
                 .arg(a.rssKb)
                 .arg(b.rssKb)
                 .arg(b.fds - a.fds)
                 .arg(b.threads - a.threads);
    }
    o << "CPU per minute (seconds of CPU per minute of the phase):\n";
    for (const auto& [name, acc] : cpuByPhase)
        if (acc.second > 0)
            o << QStringLiteral("  %1 %2 s/min over %3 s\n").arg(name, -8).arg(acc.first * 60.0 / acc.second, 0, 'f', 2).arg(acc.second, 0, 'f', 0);
    o.flush();
    std::fputs(v.toLocal8Bit().constData(), stdout);
    QFile verdict(out + "/verdict.txt");
    if (verdict.open(QIODevice::WriteOnly | QIODevice::Truncate))
        verdict.write(v.toUtf8());
    return 0;
}
