// kvctl settings set FILE: the file checked, the device's settings backed up,
// written, read back and compared.
#include "KvCtl.h"
#include "KvCtlText.h"
#include "SettingsModel.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

namespace kvctl {

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
    // The device's settings must not take the place of the ones to write.
    if (QFileInfo(a.backup).absoluteFilePath() == QFileInfo(file).absoluteFilePath() ||
        QFileInfo(a.backup).canonicalFilePath() == QFileInfo(file).canonicalFilePath()) {
        Err(QStringLiteral("kvctl: the backup would overwrite %1; nothing was sent\n").arg(file));
        Finish(exitUsage);
        return;
    }
    if (!OpenLink())
        return;
    pending_.SetPending(kv::pendReadSettings, true);
    auto phase = std::make_shared<int>(0); // 0 backup read, 1 write, 2 read back
    // The poll after which the cycle sends the write.
    steps_.poll = [this, phase](const kv::PollAnswer&) {
        if (*phase == 1 && pending_.IsPending(kv::pendWriteSettings))
            writeSent_ = true;
    };
    steps_.end = [this, phase](const kv::TCommandEnd& end) {
        if (end.Command == kv::cmdWriteSettings && end.Done) {
            writeAcked_ = true;
            *phase = 2;
        }
    };
    steps_.settings = [this, phase, file](kv::TDeviceCommand, const kv::SettingsRecord& device) {
        TArgs& a = *a_;
        if (*phase == 0) {
            const auto diffs = DiffRecords(device, toWrite_);
            auto report = [&](bool written) {
                Out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("backup"), wroteBackup_ ? QJsonValue(a.backup) : QJsonValue()},
                                                                {QStringLiteral("written"), written},
                                                                {QStringLiteral("differences"), DiffJson(diffs, "device", "file")}})
                                          .toJson(QJsonDocument::Indented)));
            };
            if (diffs.empty()) {
                if (a.json)
                    report(false);
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
                    report(false);
                Finish(exitOK);
                return;
            }
            // Before anything is written, what the device holds is on disk.
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
            *phase = 1;
            pending_.SettingsToWrite = toWrite_;
            pending_.SetPending(kv::pendWriteSettings, true);
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
    cycle_->StartPoll();
}

} // namespace kvctl
