#include "PortsInfo.h"

#include "MBPortHolders.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace kvctl {

const char* PortStateWord(mb::TPortState::TState s) {
    switch (s) {
    case mb::TPortState::Free: return "free";
    case mb::TPortState::Busy: return "busy";
    case mb::TPortState::NoPermission: return "no-permission";
    case mb::TPortState::Missing: return "missing";
    case mb::TPortState::NotSerial: return "error";
    }
    return "error";
}

std::vector<TPortInfo> ListPortInfo(const TPortRoots& roots) {
    QList<mb::TPortState> states =
        mb::PortStates(roots.sysClassTty, QString::fromLocal8Bit(qgetenv("KV_EXTRA_PORTS")));
    // The panel shows the last probed first.
    std::reverse(states.begin(), states.end());
    std::vector<TPortInfo> out;
    for (const mb::TPortState& s : states) {
        TPortInfo info{s.path, {}, {}, s.state, s.reason};
        for (const QString& id : mb::SerialIdsOf(s.path, roots.byIdDir))
            info.byId << QDir(roots.byIdDir).filePath(id);
        const QString name = QFileInfo(QFileInfo(s.path).canonicalFilePath()).fileName();
        const QString driver =
            QFileInfo(roots.sysClassTty + QLatin1Char('/') + name + QStringLiteral("/device/driver")).symLinkTarget();
        info.driver = driver.isEmpty() ? QString() : QFileInfo(driver).fileName();
        out.push_back(std::move(info));
    }
    return out;
}

} // namespace kvctl
