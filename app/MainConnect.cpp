// TForm_Main: --connect PORT, opening a port on the user's behalf at start-up.
#include "Main.h"

#include "MB.h"
#include "MBListPorts.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QTimer>

#include <cstdio>

namespace {

void Complain(const QString& text) {
    std::fprintf(stderr, "kvsetup: --connect: %s\n", text.toLocal8Bit().constData());
}

QString BaseName(const QString& port) {
    return port.section(QLatin1Char('/'), -1);
}

} // namespace

// The link panel lists the ports at the first tick of its one-second timer,
// which runs from the component's construction. A precise timer of the same
// length started after that fires after it; the work then waits for the
// tick's own handling to finish before it looks at the list.
void TForm_Main::ConnectOnStart() {
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("Timer_ConnectOnStart"));
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, timer] {
        timer->deleteLater();
        QTimer::singleShot(0, this, [this] {
            const QString port = m_options.ConnectPort;
            // The panel's own controls, found by name as the user sees them.
            auto* list = MB1->findChild<QListWidget*>(QStringLiteral("ListBox_Ports"));
            auto* open = MB1->findChild<QAbstractButton*>(QStringLiteral("SpeedButton_OpenClose"));
            if (!list || !open) {
                Complain(QStringLiteral("the link panel has no port list"));
                return;
            }
            if (MB1->MBPortOpen())
                return; // the user was quicker

            // The entry as listed, by its full name or by its device name.
            QListWidgetItem* entry = nullptr;
            for (int i = 0; i < list->count() && !entry; ++i)
                if (list->item(i)->text() == port)
                    entry = list->item(i);
            for (int i = 0; i < list->count() && !entry; ++i)
                if (BaseName(list->item(i)->text()) == BaseName(port))
                    entry = list->item(i);
            if (!entry) {
                // Not probed (a pseudo-terminal, say): listed if it opens.
                if (!mb::ProbePort(port)) {
                    Complain(QStringLiteral("%1 cannot be opened").arg(port));
                    return;
                }
                list->addItem(port);
                entry = list->item(list->count() - 1);
            }
            list->setCurrentItem(entry);
            MB1->MBPortListClick();
            // A list with an entry enables Open, as the panel's refresh does.
            open->setEnabled(true);
            open->click();
        });
    });
    timer->start(1000);
}
