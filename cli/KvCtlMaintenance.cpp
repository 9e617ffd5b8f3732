// kvctl maintenance ACTION: the action's bit carried in the poll until the
// device acknowledges it, as the settings page's buttons do.
#include "KvCtl.h"
#include "KvCtlMaintenance.h"
#include "KvCtlText.h"

#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunMaintenance() {
    const QString name = a_->positional.value(0);
    const TMaintenanceAction* action = nullptr;
    for (const auto& act : kActions)
        if (name == QLatin1String(act.name))
            action = &act;
    if (!action) {
        Err(QStringLiteral("kvctl: unknown maintenance action %1 (kvctl help maintenance)\n").arg(name));
        Finish(exitUsage);
        return;
    }
    if (!OpenLink())
        return;
    const std::uint8_t bit = action->bit;
    // The wire-resistance store is offered only while the measured value is
    // plausible for wires: the first poll decides, as the window's enabled
    // button does.
    const bool checkFirst = bit == kv::maint::Rof2Wire;
    auto polls = std::make_shared<int>(0);
    if (!checkFirst) {
        session_->MaintenanceBits = bit;
        maintenance_ = TMaintenance::Pending;
    }
    step_ = [this, bit, checkFirst, polls, action](const TKvSession::TEnd& end) {
        if (end.command != kv::cmdPoll)
            return;
        // The request that ended carried the bit: it went out on the line.
        if (link_->MBDataNumberToSend() >= 3 && (link_->MBTXDataAt(3) & bit))
            maintenance_ = TMaintenance::Sent;
        if (end.status != stOK) {
            NoAnswer(end);
            return;
        }
        const auto a = kv::PollAnswer::Decode(end.answer);
        const QString name = QString::fromLatin1(action->name);
        // With --json the outcome is an object also when it is a failure.
        const auto report = [&] {
            if (!a_->json)
                return true;
            QJsonObject o = JsonHead("kvctl.maintenance/1", Now());
            o[QStringLiteral("action")] = name;
            o[QStringLiteral("sent")] = maintenance_ == TMaintenance::Sent || maintenance_ == TMaintenance::Acknowledged;
            o[QStringLiteral("acknowledged")] = maintenance_ == TMaintenance::Acknowledged;
            return Out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
        };
        if (maintenance_ != TMaintenance::NotSent && (a.MaintenanceAck & bit)) {
            maintenance_ = TMaintenance::Acknowledged;
            if (a_->json ? report() : Out(QStringLiteral("%1: acknowledged by the device\n").arg(name)))
                Finish(exitOK);
            return;
        }
        if (checkFirst && !(a.PhysicalValue >= 0 && a.PhysicalValue <= 100)) {
            Err(QStringLiteral("kvctl: the measured resistance (%1 ohm) is outside 0 to 100 ohm: no wire "
                               "resistance to store\n")
                    .arg(static_cast<double>(a.PhysicalValue)));
            if (report())
                Finish(exitDiffers);
            return;
        }
        // The next poll carries it.
        session_->MaintenanceBits = bit;
        if (maintenance_ == TMaintenance::NotSent)
            maintenance_ = TMaintenance::Pending;
        if (++*polls > kMaintenancePolls) {
            Err(QStringLiteral("kvctl: the device did not acknowledge %1 in %2 polls\n").arg(name).arg(kMaintenancePolls));
            if (report())
                Finish(exitDiffers);
        }
    };
    session_->Start();
}

} // namespace kvctl
