// kvctl settings diff FILE: what writing the file would change, field by field.
#include "KvCtl.h"
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
    session_->ReadSettings = true;
    step_ = [this, wanted, file](const TKvSession::TEnd& end) {
        if (end.status != stOK) {
            NoAnswer(end);
            return;
        }
        if (end.command != kv::cmdReadSettings)
            return;
        const auto diffs = DiffRecords(kv::SettingsRecord::Decode(end.answer), wanted);
        if (a_->json) {
            QJsonObject o = JsonHead("kvctl.settings.diff/1", Now());
            o[QStringLiteral("file")] = file;
            o[QStringLiteral("differences")] = DiffJson(diffs, "device", "file");
            Out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
        } else if (diffs.empty()) {
            Out(QStringLiteral("the device holds the settings of %1\n").arg(file));
        } else {
            Out(QStringLiteral("writing %1 would change:\n").arg(file) +
                DiffText(diffs, QStringLiteral("device"), QStringLiteral("file")));
        }
        Finish(diffs.empty() ? exitOK : exitDiffers);
    };
    session_->Start();
}

} // namespace kvctl
