// kvctl settings diff FILE: what writing the file would change, field by field.
#include "KvCtl.h"
#include "KvCtlJson.h"
#include "KvCtlText.h"

#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunSettingsDiff() {
    const QString file = a_->positional.value(0);
    kv::SettingsRecord wanted;
    if (!LoadSettingsArgument(file, wanted))
        return;
    if (!OpenLink())
        return;
    pending_.SetPending(kv::pendReadSettings, true);
    steps_.settings = [this, wanted, file](kv::TDeviceCommand, const kv::SettingsRecord& device) {
        const auto diffs = DiffRecords(device, wanted);
        const int code = diffs.empty() ? exitOK : exitDiffers;
        bool written;
        if (a_->json) {
            QJsonObject o = JsonHead("kvctl.settings.diff/2", Now());
            o[QStringLiteral("file")] = file;
            o[QStringLiteral("differences")] = DiffJson(diffs, "device", "file");
            written = PrintJson(o, code);
        } else if (diffs.empty()) {
            written = Out(QStringLiteral("the device holds the settings of %1\n").arg(file));
        } else {
            written = Out(QStringLiteral("writing %1 would change:\n").arg(file) +
                          DiffText(diffs, QStringLiteral("device"), QStringLiteral("file")));
        }
        if (written)
            Finish(code);
    };
    cycle_->StartPoll();
}

} // namespace kvctl
