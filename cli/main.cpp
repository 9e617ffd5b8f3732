// kvctl: the transmitter from the command line. The command runs on the
// event loop; Ctrl-C (and SIGTERM, SIGHUP) reach it through a pipe, so that
// it ends between two events with its files complete.
#include "Certificate.h"
#include "KvCtl.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <clocale>
#include <cstring>
#include <memory>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &b, 1);
}

} // namespace

int main(int argc, char* argv[]) {
    // The locale's decimal separator, as the window takes it.
    std::setlocale(LC_ALL, "");
    // A certificate's PDF needs Qt Gui's fonts (offscreen, never a display).
    bool certificate = false;
    for (int i = 1; i < argc; ++i)
        certificate = certificate || std::strncmp(argv[i], "--certificate", 13) == 0;
    const std::unique_ptr<QCoreApplication> app = kv::cert::CreateApplication(argc, argv, certificate);
    QCoreApplication::setApplicationName(QStringLiteral("kvctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KV_VERSION));

    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return kvctl::exitUsage;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &sa, nullptr);

    kvctl::TEnvironment env;
    env.envPort = qEnvironmentVariable("KV_PORT");
    kvctl::TKvCtl ctl(env);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char b[16];
        while (::read(g_signalPipe[0], b, sizeof b) > 0) {
        }
        ctl.Interrupt();
    });
    ctl.OnFinished = [](int code) { QCoreApplication::exit(code); };
    ctl.Start(QCoreApplication::arguments().mid(1));
    if (ctl.Finished())
        return ctl.ExitCode();
    QCoreApplication::exec();
    return ctl.ExitCode();
}
