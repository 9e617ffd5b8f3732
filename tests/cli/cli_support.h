#pragma once
// kvctl on a manual clock, its port an in-memory one answered by the
// in-process device model: a command runs as in the program, but only when
// the test moves the clock on. Output and errors are captured.
#include "InProcessDevice.h"
#include "InProcessMeter.h"
#include "KvCtl.h"
#include "MBMemoryPort.h"
#include "MBTimer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace clitest {

struct TSent {
    std::uint8_t command;
    TMBStatus status;
    std::vector<std::uint8_t> data;
};

struct TCtlRig {
    TMBManualClock clock;
    kvsim::TDeviceConfig config = kvsim::TDeviceConfig::Steady();
    TMBMemoryPort* port = nullptr;
    std::unique_ptr<kvsim::TInProcessDevice> device;
    // The bench meter on the device's output, for calibrate output.
    TMBMemoryPort* meterPort = nullptr;
    std::unique_ptr<kvsim::TInProcessMeter> meter;
    std::unique_ptr<kvctl::TKvCtl> ctl;
    QByteArray out, err;
    std::vector<TSent> ended; // every transaction, with the data it sent
    QString openError;        // the port refuses to open while set
    std::function<void(kvctl::TKvCtl&)> prepare; // before the command starts

    ~TCtlRig() {
        meter.reset();
        device.reset();
        ctl.reset();
    }

    // Starts the command; the device is made with the port.
    void Start(const QStringList& args) {
        kvctl::TEnvironment env;
        env.timers = &clock;
        env.makePort = [this] {
            auto p = std::make_unique<TMBMemoryPort>();
            port = p.get();
            port->SetOpenError(openError);
            device = std::make_unique<kvsim::TInProcessDevice>(*port, clock, config);
            return p;
        };
        env.makeMeterPort = [this] {
            auto p = std::make_unique<TMBMemoryPort>();
            meterPort = p.get();
            meter = std::make_unique<kvsim::TInProcessMeter>(*meterPort, clock, *device);
            return p;
        };
        env.now = [this] {
            return QDateTime(QDate(2026, 12, 6), QTime(10, 0), Qt::OffsetFromUTC, 3600)
                .addMSecs(clock.now());
        };
        env.monotonic = [this] { return static_cast<double>(clock.now()) / 1000.0; };
        env.out = [this](const QByteArray& b) { out += b; };
        env.err = [this](const QByteArray& b) { err += b; };
        env.envPort = QStringLiteral("/dev/ttyMEM0");
        ctl = std::make_unique<kvctl::TKvCtl>(env);
        if (prepare)
            prepare(*ctl);
        ctl->Start(args);
        if (kv::TPollCycle* c = ctl->Cycle()) {
            auto inner = c->OnEnd;
            c->OnEnd = [this, inner](const kv::TCommandEnd& e) {
                TSent t{e.Command, e.Status, {}};
                for (int i = 1; i <= ctl->Link()->MBDataNumberToSend(); ++i)
                    t.data.push_back(ctl->Link()->MBTXDataAt(i));
                ended.push_back(std::move(t));
                inner(e);
            };
        }
    }
    // Moves the clock on until pred() holds (or limitMs passed).
    bool RunUntil(const std::function<bool()>& pred, std::int64_t limitMs = 120000) {
        return clock.advanceUntil(
            [&] {
                QCoreApplication::processEvents();
                if (port)
                    port->DeliverPending();
                if (meterPort)
                    meterPort->DeliverPending();
                return pred();
            },
            limitMs);
    }
    // The whole command: its exit code, -1 when it did not end.
    int Run(const QStringList& args, std::int64_t limitMs = 120000) {
        Start(args);
        RunUntil([&] { return ctl->Finished(); }, limitMs);
        return ctl->ExitCode();
    }
    int Lines() const { return static_cast<int>(out.count('\n')); }
};

// The line's fixture played by the device's console and its bench meter, as
// station/examples/kvsim-fixture.sh plays it with kvsim: `current` and
// `voltage` move the meter's leads, any other words follow "sensor".
// `onFixture` acts after the console (an error to return, a stop, another
// connection).
inline void ConsoleFixture(TCtlRig& rig, std::function<QString(const QStringList&)> onFixture = {}) {
    rig.prepare = [&rig, onFixture](kvctl::TKvCtl& ctl) {
        ctl.FixtureForTests = [&rig, onFixture](const QStringList& words, std::function<void(const QString&)> done) {
            if (words == QStringList{QStringLiteral("current")} || words == QStringList{QStringLiteral("voltage")}) {
                if (rig.meter)
                    rig.meter->Meter().SetWiring(words[0] == QLatin1String("current") ? kvsim::wiredCurrent
                                                                                     : kvsim::wiredVoltage);
            } else {
                rig.device->Console("sensor " + words.join(QLatin1Char(' ')).toStdString());
            }
            done(onFixture ? onFixture(words) : QString());
        };
    };
}

// The simulator's example bench (its references, meter, source and fixture
// leads); with `meter`, its meter is the rig's.
inline QStringList SimBench(bool meter = false) {
    QStringList args{QStringLiteral("--bench"), QStringLiteral(KV_SOURCE_DIR "/station/examples/kvsim.bench")};
    if (meter)
        args << QStringLiteral("--meter") << QStringLiteral("/dev/ttyMEM1");
    return args;
}

// A bench file of the test's own.
struct TBenchFile {
    QTemporaryDir dir;
    QString path;
    explicit TBenchFile(const QString& text) : path(dir.filePath(QStringLiteral("line3.bench"))) {
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
};

} // namespace clitest
