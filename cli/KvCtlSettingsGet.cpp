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
    (factory ? session_->ReadFactoryDefaults : session_->ReadSettings) = true;
    const std::uint8_t command = factory ? kv::cmdReadFactoryDefaults : kv::cmdReadSettings;
    step_ = [this, command, factory](const TKvSession::TEnd& end) {
        if (end.status != stOK) {
            NoAnswer(end);
            return;
        }
        if (end.command != command)
            return;
        const kv::SettingsRecord r = kv::SettingsRecord::Decode(end.answer);
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
    session_->Start();
}

} // namespace kvctl
