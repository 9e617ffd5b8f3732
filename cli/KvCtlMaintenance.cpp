// kvctl maintenance ACTION: the action's bit carried in the poll until the
// device acknowledges it, as the settings page's buttons do, and only an
// action the page offers for the device's settings.
#include "KvCtl.h"
#include "KvCtlMaintenance.h"
#include "KvCtlText.h"
#include "SettingsActions.h"
#include "SettingsModel.h"

#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunMaintenance() {
    const QString name = a_->positional.value(0);
    const TMaintenanceAction* action = nullptr;
    for (const auto& act : kActions)
        if (name == QLatin1String(act.name))
            action = &act;
    maintenanceAction_ = name;
    if (!action) {
        Fail(exitUsage, QStringLiteral("unknown maintenance action %1 (kvctl help maintenance)").arg(name));
        return;
    }
    if (!OpenLink())
        return;
    const std::uint8_t bit = action->bit;
    // Only what the settings page offers for the device's settings: the
    // settings first. The wire-resistance store also needs a measured value
    // plausible for wires, as the window's enabled button does: the poll
    // after them decides.
    maintenanceBit_ = bit;
    auto offered = std::make_shared<bool>(false);
    auto polls = std::make_shared<int>(0);
    const auto ask = [this, bit] {
        pending_.AskMaintenance(bit);
        if (maintenance_ == TMaintenance::NotSent)
            maintenance_ = TMaintenance::Pending;
    };
    pending_.SetPending(kv::pendReadSettings, true);
    steps_.settings = [this, bit, name, offered, ask](kv::TDeviceCommand, const kv::SettingsRecord& r) {
        kv::DisplayFormats formats;
        const kv::SettingsPage page = kv::PageFromRecord(r, formats);
        if (!(kv::MaintenanceOffered(page) & bit)) {
            Fail(exitDiffers, QStringLiteral("%1 is refused: %2").arg(name, NotOfferedReason(bit, page)));
            return;
        }
        *offered = true;
        if (bit != kv::maint::Rof2Wire)
            ask();
    };
    steps_.poll = [this, bit, name, offered, polls, ask](const kv::PollAnswer& a) {
        if (!*offered)
            return;
        if (maintenance_ != TMaintenance::NotSent && (a.MaintenanceAck & bit)) {
            maintenance_ = TMaintenance::Acknowledged;
            if (a_->json ? PrintJson(MaintenanceJson(), exitOK) : Out(QStringLiteral("%1: acknowledged by the device\n").arg(name)))
                Finish(exitOK);
            return;
        }
        if (!kv::WireResistanceStorable(a.PhysicalValue) && bit == kv::maint::Rof2Wire) {
            // The cycle has withdrawn a carried store by now, as the window
            // releases and disables its button.
            Fail(exitDiffers, QStringLiteral("the measured resistance (%1 ohm) is outside 0 to 100 ohm: no wire "
                                             "resistance to store%2")
                                  .arg(static_cast<double>(a.PhysicalValue))
                                  .arg(maintenance_ != TMaintenance::NotSent
                                           ? QStringLiteral(" (the device did not acknowledge the store asked for)")
                                           : QString()));
            return;
        }
        // The next poll carries it.
        ask();
        if (++*polls > kMaintenancePolls)
            Fail(exitDiffers, QStringLiteral("the device did not acknowledge %1 in %2 polls").arg(name).arg(kMaintenancePolls));
    };
    cycle_->StartPoll();
}

QJsonObject TKvCtl::MaintenanceJson() const {
    QJsonObject o = JsonHead("kvctl.maintenance/1", Now());
    o[QStringLiteral("action")] = maintenanceAction_;
    // Pending: a poll that carried it may be on the line; it counts as sent
    // once such a poll has ended.
    o[QStringLiteral("sent")] = maintenance_ == TMaintenance::Sent || maintenance_ == TMaintenance::Acknowledged;
    o[QStringLiteral("acknowledged")] = maintenance_ == TMaintenance::Acknowledged;
    return o;
}

QString TKvCtl::NotOfferedReason(std::uint8_t bit, const kv::SettingsPage& page) {
    QString settings = QStringLiteral("the device is set to %1").arg(Item(kModeCaptions, std::size(kModeCaptions), page.Mode));
    if (page.Mode == 2)
        settings += QStringLiteral(" with %1 cold-junction compensation")
                        .arg(Item(kCJCCaptions, std::size(kCJCCaptions), page.CJC));
    else if (page.Mode != 7)
        settings += QStringLiteral(" with %1 wires").arg(page.Wires >= 0 ? page.Wires + 2 : 4);
    if (bit & (kv::maint::Rof2Wire | kv::maint::ResetOf2Wire))
        return settings + QStringLiteral("; the settings page offers the wire resistance only for a 2-wire sensor "
                                         "(Pt 100, Pt 1000, resistance) or a thermocouple's external "
                                         "cold-junction sensor");
    return settings + QStringLiteral("; the settings page offers the potentiometer end points only in the "
                                     "potentiometer modes (3 and 4)");
}

} // namespace kvctl
