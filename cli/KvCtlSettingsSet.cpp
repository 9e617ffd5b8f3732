// kvctl settings set FILE: the file checked, the device's settings backed up,
// written, read back and compared, one step after the other (TSetStep).
#include "KvCtl.h"
#include "KvCtlText.h"
#include "SettingsModel.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

namespace kvctl {

void TKvCtl::RunSettingsSet() {
    TArgs& a = *a_;
    setFile_ = a.positional.value(0);
    // Everything about the file is checked before the port is opened.
    bool stream = false;
    if (!LoadSettingsArgument(setFile_, toWrite_, &stream))
        return;
    if (stream && a.backup.isEmpty() && !a.dryRun) {
        // The default backup lies beside the file; a pipe has no folder.
        Err(QStringLiteral("kvctl: %1 is no file to put a backup beside: give --backup FILE; nothing was sent\n").arg(setFile_));
        Finish(exitUsage);
        return;
    }
    if (!a.backup.isEmpty()) {
        a.backup = kv::WithSettingsFileExtension(a.backup);
        // The device's settings must not take the place of the ones to write.
        const QString canonical = QFileInfo(a.backup).canonicalFilePath(); // empty: no such file yet
        if (QFileInfo(a.backup).absoluteFilePath() == QFileInfo(setFile_).absoluteFilePath() ||
            (!canonical.isEmpty() && canonical == QFileInfo(setFile_).canonicalFilePath())) {
            Err(QStringLiteral("kvctl: the backup would overwrite %1; nothing was sent\n").arg(setFile_));
            Finish(exitUsage);
            return;
        }
    }
    if (!OpenLink())
        return;
    setStep_ = TSetStep::ReadBefore;
    pending_.SetPending(kv::pendReadSettings, true);
    steps_.poll = [this](const kv::PollAnswer&) { SetPoll(); };
    steps_.end = [this](const kv::TCommandEnd& end) { SetEnd(end); };
    steps_.settings = [this](kv::TDeviceCommand, const kv::SettingsRecord& device) { SetSettings(device); };
    cycle_->StartPoll();
}

// Failures have ended the command before these are called (TKvCtl::Ended).
void TKvCtl::SetPoll() {
    // The poll after which the cycle sends the write.
    if (setStep_ == TSetStep::Write && pending_.IsPending(kv::pendWriteSettings))
        writeSent_ = true;
}

void TKvCtl::SetEnd(const kv::TCommandEnd& end) {
    if (setStep_ == TSetStep::Write && end.Command == kv::cmdWriteSettings && end.Done) {
        // Acknowledged; the cycle reads the settings back next.
        writeAcked_ = true;
        setStep_ = TSetStep::ReadBack;
    }
}

void TKvCtl::SetSettings(const kv::SettingsRecord& device) {
    if (setStep_ == TSetStep::ReadBefore)
        SetReadBefore(device);
    else if (setStep_ == TSetStep::ReadBack)
        SetReadBack(device);
}

void TKvCtl::SetReadBefore(const kv::SettingsRecord& device) {
    TArgs& a = *a_;
    before_ = device;
    const auto diffs = DiffRecords(device, toWrite_);
    if (diffs.empty() || a.dryRun) {
        setStep_ = TSetStep::Done;
        if (a.json)
            SetReport(false, nullptr);
        else if (diffs.empty())
            Out(QStringLiteral("the device already holds the settings of %1; nothing written\n").arg(setFile_));
        else
            Out(QStringLiteral("writing would change %1:\n").arg(setFile_) +
                DiffText(diffs, QStringLiteral("device"), QStringLiteral("file")));
        Finish(exitOK);
        return;
    }
    if (!a.json && !Out(QStringLiteral("writing changes %1:\n").arg(setFile_) +
                        DiffText(diffs, QStringLiteral("device"), QStringLiteral("file"))))
        return;
    // Before anything is written, what the device holds is on disk, whole,
    // under a name no other run has taken.
    kv::DisplayFormats formats;
    const QByteArray text =
        QByteArray::fromStdString(kv::SettingsFileText(kv::PageFromRecord(device, formats), env_.now().date()));
    QString error;
    if (a.backup.isEmpty()) {
        const QFileInfo in(setFile_);
        const QString stem = in.dir().filePath(in.completeBaseName() + QStringLiteral(".backup-") +
                                               env_.now().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        a.backup = WriteNewFile(stem, text, &error);
    } else if (!WriteFileWhole(a.backup, text, &error)) {
        a.backup.clear();
    }
    if (a.backup.isEmpty()) {
        Finish(exitOutput);
        Err(QStringLiteral("kvctl: cannot write the backup %1; nothing was written to the device\n").arg(error));
        return;
    }
    wroteBackup_ = true;
    Err(QStringLiteral("backup of the device's settings: %1\n").arg(a.backup));
    if (exit_)
        return;
    setStep_ = TSetStep::Write;
    pending_.SettingsToWrite = toWrite_;
    pending_.SetPending(kv::pendWriteSettings, true);
}

void TKvCtl::SetReadBack(const kv::SettingsRecord& stored) {
    const TArgs& a = *a_;
    setStep_ = TSetStep::Done;
    const auto mismatches = a.noVerify ? std::vector<TFieldDiff>{} : DiffRecords(toWrite_, stored);
    if (a.json)
        SetReport(true, &stored);
    else if (a.noVerify)
        Out(QStringLiteral("written (not verified)\n"));
    else if (mismatches.empty())
        Out(QStringLiteral("written and verified\n"));
    else
        Out(QStringLiteral("VERIFY FAILED: the device stored other values than were sent:\n") +
            DiffText(mismatches, QStringLiteral("sent"), QStringLiteral("stored")));
    if (!mismatches.empty())
        Err(QStringLiteral("kvctl: verify failed; the settings the device held before are in %1\n").arg(a.backup));
    Finish(mismatches.empty() ? exitOK : exitDiffers);
}

void TKvCtl::SetReport(bool written, const kv::SettingsRecord* stored) {
    const TArgs& a = *a_;
    QJsonObject o = JsonHead("kvctl.settings.set/1", Now());
    o[QStringLiteral("file")] = setFile_;
    o[QStringLiteral("dry_run")] = a.dryRun;
    o[QStringLiteral("backup")] = wroteBackup_ ? QJsonValue(a.backup) : QJsonValue();
    o[QStringLiteral("written")] = written;
    const auto mismatches = stored && !a.noVerify ? DiffRecords(toWrite_, *stored) : std::vector<TFieldDiff>{};
    o[QStringLiteral("verified")] = stored && !a.noVerify ? QJsonValue(mismatches.empty()) : QJsonValue();
    o[QStringLiteral("differences")] = DiffJson(DiffRecords(before_, toWrite_), "device", "file");
    o[QStringLiteral("changed")] = DiffJson(stored ? DiffRecords(before_, *stored) : std::vector<TFieldDiff>{}, "before", "after");
    o[QStringLiteral("mismatches")] = DiffJson(mismatches, "sent", "stored");
    Out(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
}

} // namespace kvctl
