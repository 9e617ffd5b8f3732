// kvctl's settings commands (settings get, diff, set; factory) on the
// settings page's rules without widgets (SettingsModel.h): the same page
// state, the same record and the same .kvs file as the window.
#include "KvCtl.h"
#include "KvCtlText.h"
#include "SettingsModel.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace kvctl {

void TKvCtl::ApplySettings(const kv::SettingsRecord& r) {
    // As the settings page after a read: the selections (by the radio
    // groups' rule) and the display formats of the device's mode.
    deviceSettings_ = r;
    const kv::SettingsPage page = kv::PageFromRecord(r, formats_);
    modeIndex_ = page.Mode;
    cjcIndex_ = page.CJC;
    settingsKnown_ = true;
}

// ---- settings ---------------------------------------------------------------------------

void TKvCtl::RunSettingsGet(bool factory) {
    if (!OpenLink())
        return;
    (factory ? session_->ReadFactoryDefaults : session_->ReadSettings) = true;
    const std::uint8_t command = factory ? kv::cmdReadFactoryDefaults : kv::cmdReadSettings;
    step_ = [this, command](const TKvSession::TEnd& end) {
        if (end.status != stOK) {
            NoAnswer(end);
            return;
        }
        if (end.command != command)
            return;
        const kv::SettingsRecord r = kv::SettingsRecord::Decode(end.answer);
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
    session_->Start();
}

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
    session_->ReadSettings = true;
    step_ = [this, wanted, file](const TKvSession::TEnd& end) {
        if (end.status != stOK) {
            NoAnswer(end);
            return;
        }
        if (end.command != kv::cmdReadSettings)
            return;
        const auto diffs = DiffRecords(kv::SettingsRecord::Decode(end.answer), wanted);
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
    session_->Start();
}

void TKvCtl::RunSettingsSet() {
    TArgs& a = *a_;
    const QString file = a.positional.value(0);
    // Everything about the file is checked before the port is opened.
    const kv::SettingsFileLoad load = kv::LoadSettingsFile(file);
    if (load.status != kv::SettingsFileLoad::Loaded) {
        Err(QStringLiteral("kvctl: %1: %2; nothing was sent\n").arg(file, load.reason));
        Finish(exitUsage);
        return;
    }
    if (!load.problems.isEmpty()) {
        for (const QString& p : load.problems)
            Err(QStringLiteral("kvctl: %1: %2\n").arg(file, p));
        Err(QStringLiteral("kvctl: %1 is refused; nothing was sent\n").arg(file));
        Finish(exitUsage);
        return;
    }
    toWrite_ = kv::RecordFromPage(load.page);
    if (a.backup.isEmpty()) {
        // Beside the input, named by the time; never over an earlier one.
        const QFileInfo in(file);
        const QString stem = in.dir().filePath(in.completeBaseName() + QStringLiteral(".backup-") +
                                               env_.now().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        a.backup = stem + QStringLiteral(".kvs");
        for (int i = 1; QFileInfo::exists(a.backup); ++i)
            a.backup = stem + QStringLiteral("-%1.kvs").arg(i);
    } else {
        a.backup = kv::WithSettingsFileExtension(a.backup);
    }
    if (!OpenLink())
        return;
    session_->ReadSettings = true;
    auto phase = std::make_shared<int>(0); // 0 backup read, 1 write, 2 read back
    step_ = [this, phase, file](const TKvSession::TEnd& end) {
        TArgs& a = *a_;
        if (end.status != stOK) {
            NoAnswer(end);
            return;
        }
        // The poll after which the session sends the write.
        if (end.command == kv::cmdPoll && *phase == 1)
            writeSent_ = true;
        if (end.command == kv::cmdWriteSettings) {
            writeAcked_ = true;
            *phase = 2;
            return;
        }
        if (end.command != kv::cmdReadSettings)
            return;
        const kv::SettingsRecord device = kv::SettingsRecord::Decode(end.answer);
        if (*phase == 0) {
            kv::DisplayFormats formats;
            const kv::SettingsPage page = kv::PageFromRecord(device, formats);
            QString error;
            if (!kv::SaveSettingsFile(a.backup, page, env_.now().date(), &error)) {
                Err(QStringLiteral("kvctl: cannot write the backup %1: %2; nothing was written to the device\n")
                        .arg(a.backup, error));
                Finish(exitUsage);
                return;
            }
            wroteBackup_ = true;
            Err(QStringLiteral("backup of the device's settings: %1\n").arg(a.backup));
            const auto diffs = DiffRecords(device, toWrite_);
            if (diffs.empty()) {
                if (a.json)
                    Out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("backup"), a.backup},
                                                                    {QStringLiteral("written"), false},
                                                                    {QStringLiteral("differences"), QJsonArray()}})
                                              .toJson(QJsonDocument::Indented)));
                else
                    Out(QStringLiteral("the device already holds the settings of %1; nothing written\n").arg(file));
                Finish(exitOK);
                return;
            }
            if (!a.json)
                Out(QStringLiteral("%1 %2:\n").arg(a.dryRun ? QStringLiteral("writing would change")
                                                            : QStringLiteral("writing changes"))
                        .arg(file) +
                    DiffText(diffs, QStringLiteral("device"), QStringLiteral("file")));
            if (a.dryRun) {
                if (a.json)
                    Out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("backup"), a.backup},
                                                                    {QStringLiteral("written"), false},
                                                                    {QStringLiteral("differences"), DiffJson(diffs, "device", "file")}})
                                              .toJson(QJsonDocument::Indented)));
                Finish(exitOK);
                return;
            }
            *phase = 1;
            session_->SettingsToWrite = toWrite_;
            session_->WriteSettings = true;
            return;
        }
        if (*phase != 2)
            return;
        // Read back after the write: what the device stored.
        const auto diffs = a.noVerify ? std::vector<TFieldDiff>{} : DiffRecords(toWrite_, device);
        if (a.json)
            Out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("backup"), a.backup},
                                                            {QStringLiteral("written"), true},
                                                            {QStringLiteral("verified"), !a.noVerify && diffs.empty()},
                                                            {QStringLiteral("differences"), DiffJson(diffs, "sent", "stored")}})
                                      .toJson(QJsonDocument::Indented)));
        else if (a.noVerify)
            Out(QStringLiteral("written (not verified)\n"));
        else if (diffs.empty())
            Out(QStringLiteral("written and verified\n"));
        else
            Out(QStringLiteral("VERIFY FAILED: the device stored other values than were sent:\n") +
                DiffText(diffs, QStringLiteral("sent"), QStringLiteral("stored")));
        if (!diffs.empty())
            Err(QStringLiteral("kvctl: verify failed; the settings the device held before are in %1\n").arg(a.backup));
        Finish(diffs.empty() ? exitOK : exitDiffers);
    };
    session_->Start();
}

} // namespace kvctl
