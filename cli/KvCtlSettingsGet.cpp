// kvctl settings get and kvctl factory: the device's settings (or its
// factory defaults) as the window's .kvs file, on the settings page's rules
// without widgets (SettingsModel.h), to the standard output or a fresh file.
#include "KvCtl.h"
#include "KvCtlJson.h"
#include "KvCtlText.h"
#include "SettingsModel.h"

#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunSettingsGet(bool factory) {
    if (!OpenLink())
        return;
    pending_.SetPending(factory ? kv::pendReadFactoryDefaults : kv::pendReadSettings, true);
    const kv::TDeviceCommand wanted = factory ? kv::cmdReadFactoryDefaults : kv::cmdReadSettings;
    steps_.settings = [this, wanted, factory](kv::TDeviceCommand command, const kv::SettingsRecord& r) {
        if (command != wanted)
            return;
        QByteArray bytes;
        if (a_->json) {
            QJsonObject o = JsonHead(factory ? "kvctl.factory/1" : "kvctl.settings.get/1", Now());
            o[QStringLiteral("settings")] = RecordJson(r);
            SetExit(o, exitOK);
            // A failed -o still has its failure object on stdout.
            jsonPrinted_ = a_->output.isEmpty() || IsStandardOutput(a_->output);
            bytes = QJsonDocument(o).toJson(QJsonDocument::Indented);
        } else {
            // The values exactly as the device holds them, not as the page
            // shows them: the file is to give them back (settings set).
            bytes = QByteArray::fromStdString(kv::SettingsFileText(kv::ExactPageFromRecord(r), env_.now().date()));
        }
        if (Result(bytes, factory ? QStringLiteral("the factory defaults") : QStringLiteral("the settings")))
            Finish(exitOK);
    };
    cycle_->StartPoll();
}

} // namespace kvctl
