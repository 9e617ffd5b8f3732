// kvctl settings diff FILE: what writing the file would change, field by field.
#include "KvCtl.h"
#include "KvCtlText.h"
#include "SettingsModel.h"

#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunSettingsDiff() {
    const QString file = a_->positional.value(0);
    const kv::SettingsFileLoad load = kv::LoadSettingsFile(file);
    if (load.status != kv::SettingsFileLoad::Loaded) {
        Err(QStringLiteral("kvctl: %1: %2\n").arg(file, load.reason));
        Finish(exitUsage);
        return;
    }
    for (const QString& p : load.problems)
        Err(QStringLiteral("kvctl: %1: %2\n").arg(file, p));
    const kv::SettingsRecord wanted = kv::RecordFromPage(load.page);
    if (!OpenLink())
        return;
    pending_.SetPending(kv::pendReadSettings, true);
    steps_.settings = [this, wanted, file](kv::TDeviceCommand, const kv::SettingsRecord& device) {
        const auto diffs = DiffRecords(device, wanted);
        if (a_->json)
            Out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("file"), file},
                                                            {QStringLiteral("differences"), DiffJson(diffs, "device", "file")}})
                                      .toJson(QJsonDocument::Indented)));
        else if (diffs.empty())
            Out(QStringLiteral("the device holds the settings of %1\n").arg(file));
        else
            Out(QStringLiteral("writing %1 would change:\n").arg(file) +
                DiffText(diffs, QStringLiteral("device"), QStringLiteral("file")));
        Finish(diffs.empty() ? exitOK : exitDiffers);
    };
    cycle_->StartPoll();
}

} // namespace kvctl
