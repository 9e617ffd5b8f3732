// kvctl settings get and kvctl factory: the device's settings (or its
// factory defaults) as the window's .kvs file, on the settings page's rules
// without widgets (SettingsModel.h), to the standard output or a fresh file.
#include "KvCtl.h"
#include "KvCtlText.h"
#include "SettingsModel.h"

#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunSettingsGet(bool factory) {
    if (!a_->output.isEmpty() && !IsStandardOutput(a_->output))
        a_->output = kv::WithSettingsFileExtension(a_->output);
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
            bytes = QJsonDocument(o).toJson(QJsonDocument::Indented);
        } else {
            kv::DisplayFormats formats;
            bytes = QByteArray::fromStdString(kv::SettingsFileText(kv::PageFromRecord(r, formats), env_.now().date()));
        }
        if (Result(bytes, factory ? QStringLiteral("the factory defaults") : QStringLiteral("the settings")))
            Finish(exitOK);
    };
    cycle_->StartPoll();
}

} // namespace kvctl
