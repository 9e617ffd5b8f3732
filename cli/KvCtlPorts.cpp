// kvctl ports: the serial ports as the link panel lists them.
#include "KvCtl.h"
#include "PortsInfo.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunPorts() {
    const std::vector<TPortInfo> ports = ListPortInfo();
    if (a_->json) {
        QJsonArray list;
        for (const auto& p : ports)
            list.append(QJsonObject{{QStringLiteral("path"), p.path},
                                    {QStringLiteral("by_id"), QJsonArray::fromStringList(p.byId)},
                                    {QStringLiteral("driver"), p.driver.isEmpty() ? QJsonValue() : QJsonValue(p.driver)},
                                    {QStringLiteral("state"), QString::fromLatin1(PortStateWord(p.state))},
                                    {QStringLiteral("detail"), p.detail}});
        const QJsonObject o{{QStringLiteral("schema"), QStringLiteral("kvctl.ports/1")},
                            {QStringLiteral("time"), Now()},
                            {QStringLiteral("ports"), list}};
        PrintJson(o, exitOK);
    } else if (ports.empty()) {
        Out(QStringLiteral("no serial ports (a simulator's port is listed when named in KV_EXTRA_PORTS)\n"));
    } else {
        for (const auto& p : ports) {
            QString line = p.path + QStringLiteral("  ") + QString::fromLatin1(PortStateWord(p.state));
            if (!p.driver.isEmpty())
                line += QStringLiteral("  driver ") + p.driver;
            if (!p.detail.isEmpty())
                line += QStringLiteral("  (") + p.detail + QLatin1Char(')');
            Out(line + QLatin1Char('\n'));
            for (const QString& id : p.byId)
                Out(QStringLiteral("    ") + id + QLatin1Char('\n'));
        }
    }
    Finish(exitOK);
}

} // namespace kvctl
