// kvctl: the transmitter from the command line. The command runs on the
// event loop; signals reach it through a pipe (Signals.h), so that it ends
// between two events with its files complete, and then kvctl ends by the
// signal it got.
#include "KvCtl.h"
#include "Signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <clocale>
#include <memory>

int main(int argc, char* argv[]) {
    // Before anything is opened: nothing may land on a closed 0, 1 or 2.
    kvctl::ReserveStandardDescriptors();
    if (!kvctl::TSignals::Install())
        return kvctl::exitUsage;
    // The locale's decimal separator, as the window takes it.
    std::setlocale(LC_ALL, "");
    int code = 0, endSignal = 0;
    {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("kvctl"));

        kvctl::TEnvironment env;
        env.envPort = qEnvironmentVariable("KV_PORT");
        env.language = kv::lang::LanguageOfEnvironment();
        env.brokenPipeIsSignal = !kvctl::TSignals::PipeIgnoredAtStart();
        auto ctl = std::make_unique<kvctl::TKvCtl>(env);
        QSocketNotifier notifier(kvctl::TSignals::ReadFd(), QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
            if (const int sig = kvctl::TSignals::Take())
                ctl->Interrupt(sig);
        });
        ctl->OnFinished = [](int c) { QCoreApplication::exit(c); };
        ctl->Start(app.arguments().mid(1));
        if (!ctl->Finished())
            app.exec();
        code = ctl->ExitCode();
        endSignal = ctl->EndSignal();
        // The port closed, the CSV log on the disk, before the end.
        ctl.reset();
    }
    if (endSignal)
        kvctl::TSignals::EndBySignal(endSignal);
    return code;
}
