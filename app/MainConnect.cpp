// TForm_Main: --connect PORT, opening a port on the user's behalf at start-up.
#include "Main.h"

#include "MB.h"

#include <QTimer>

#include <cstdio>

// The link panel lists the ports at the first tick of its one-second timer,
// which runs from the component's construction. A precise timer of the same
// length started after that fires after it; the work then waits for the
// tick's own handling to finish before it opens the port as the user would.
void TForm_Main::ConnectOnStart() {
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("Timer_ConnectOnStart"));
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        timer->deleteLater();
        QTimer::singleShot(0, this, [this] {
            if (MB1->MBPortOpen())
                return; // the user was quicker
            QString why;
            if (!MB1->MBOpenListedPort(m_options.ConnectPort, &why))
                std::fprintf(stderr, "kvsetup: --connect: %s\n", why.toLocal8Bit().constData());
        });
    });
    timer->start(1000);
}
