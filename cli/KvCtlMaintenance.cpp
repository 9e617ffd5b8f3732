// kvctl maintenance ACTION: the action's bit carried in the poll until the
// device acknowledges it, as the settings page's buttons do, and only an
// action the page offers for the device's settings.
#include "KvCtl.h"
#include "KvCtlMaintenance.h"
#include "KvCtlText.h"
#include "SettingsActions.h"
#include "SettingsModel.h"

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
    // Only what the settings page offers for the device's settings: the
    // settings first. The wire-resistance store also needs a measured value
    // plausible for wires, as the window's enabled button does: the poll
    // after them decides.
    auto offered = std::make_shared<bool>(false);
    auto carried = std::make_shared<bool>(false); // the requests carry the bit
    auto polls = std::make_shared<int>(0);
    pending_.SetPending(kv::pendReadSettings, true);
    steps_.settings = [this, bit, name, offered, carried](kv::TDeviceCommand, const kv::SettingsRecord& r) {
        kv::DisplayFormats formats;
        const kv::SettingsPage page = kv::PageFromRecord(r, formats);
        if (!(kv::MaintenanceOffered(page) & bit)) {
            Err(QStringLiteral("kvctl: %1 is refused: %2\n").arg(name, NotOfferedReason(bit, page)));
            Finish(exitDiffers);
            return;
        }
        *offered = true;
        if (bit != kv::maint::Rof2Wire) {
            pending_.AskMaintenance(bit);
            *carried = true;
        }
    };
    steps_.poll = [this, bit, name, offered, carried, polls](const kv::PollAnswer& a) {
        if (!*offered)
            return;
        if (*carried && (a.MaintenanceAck & bit)) {
            Out(QStringLiteral("%1: acknowledged by the device\n").arg(name));
            Finish(exitOK);
            return;
        }
        if (!kv::WireResistanceStorable(a.PhysicalValue) && bit == kv::maint::Rof2Wire) {
            // The cycle has withdrawn a carried store by now, as the window
            // releases and disables its button.
            Err(QStringLiteral("kvctl: the measured resistance (%1 ohm) is outside 0 to 100 ohm: no wire "
                               "resistance to store%2\n")
                    .arg(static_cast<double>(a.PhysicalValue))
                    .arg(*carried ? QStringLiteral(" (the device did not acknowledge the store asked for)")
                                  : QString()));
            Finish(exitDiffers);
            return;
        }
        // The next poll carries it.
        pending_.AskMaintenance(bit);
        *carried = true;
        if (++*polls > kMaintenancePolls) {
            Err(QStringLiteral("kvctl: the device did not acknowledge %1 in %2 polls\n").arg(name).arg(kMaintenancePolls));
            Finish(exitDiffers);
        }
    };
    cycle_->StartPoll();
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
