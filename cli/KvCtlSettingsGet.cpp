// kvctl settings get and kvctl factory: the device's settings (or its
// factory defaults) as the window's .kvs file, on the settings page's rules
// without widgets (SettingsModel.h).
#include "KvCtl.h"
#include "KvCtlText.h"
#include "SettingsModel.h"

#include <QJsonDocument>
#include <QTemporaryDir>

namespace kvctl {

void TKvCtl::RunSettingsGet(bool factory) {
    if (!OpenLink())
        return;
    pending_.SetPending(factory ? kv::pendReadFactoryDefaults : kv::pendReadSettings, true);
    const kv::TDeviceCommand wanted = factory ? kv::cmdReadFactoryDefaults : kv::cmdReadSettings;
    steps_.settings = [this, wanted](kv::TDeviceCommand command, const kv::SettingsRecord& r) {
        if (command != wanted)
            return;
        kv::DisplayFormats formats;
        const kv::SettingsPage page = kv::PageFromRecord(r, formats);
        const QString output = a_->output;
        if (a_->json && output.isEmpty()) {
            Out(QString::fromUtf8(QJsonDocument(RecordJson(r)).toJson(QJsonDocument::Indented)));
            Finish(exitOK);
            return;
        }
        QTemporaryDir dir;
        const QString path = output.isEmpty() ? dir.filePath(QStringLiteral("settings.kvs"))
                                              : kv::WithSettingsFileExtension(output);
        QString error;
        if (!kv::SaveSettingsFile(path, page, env_.now().date(), &error)) {
            Err(QStringLiteral("kvctl: cannot write %1: %2\n").arg(path, error));
            Finish(exitUsage);
            return;
        }
        if (output.isEmpty()) {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                Out(QString::fromUtf8(f.readAll()));
        } else {
            Err(QStringLiteral("saved %1\n").arg(path));
        }
        Finish(exitOK);
    };
    cycle_->StartPoll();
}

} // namespace kvctl
