// kvctl settings set FILE: the file checked, the device's settings backed up,
// written, read back and compared, one step after the other (TSetStep).
#include "KvCtl.h"
#include "KvCtlJson.h"
#include "KvCtlText.h"
#include "SettingsModel.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
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
        Fail(exitUsage, QStringLiteral("%1 is no file to put a backup beside: give --backup FILE; nothing was sent").arg(setFile_));
        return;
    }
    if (a.backup.isEmpty() && !a.dryRun) {
        // The default backup's folder must take it before anything is sent.
        const QString folder = QFileInfo(setFile_).dir().path();
        const QString why = kv::CannotWrite(QDir(folder).filePath(QStringLiteral(".kvctl-backup")), kv::TWriteWay::Whole);
        if (!why.isEmpty()) {
            Fail(exitOutput, QStringLiteral("cannot write the backup beside %1 (%2); nothing was sent").arg(setFile_, why));
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
    beforeKnown_ = true;
    const auto diffs = DiffRecords(device, toWrite_);
    if (diffs.empty() || a.dryRun) {
        setStep_ = TSetStep::Done;
        bool written = true;
        if (a.json)
            SetReport(exitOK, {});
        else if (diffs.empty())
            written = Out(QStringLiteral("the device already holds the settings of %1; nothing written\n").arg(setFile_));
        else
            written = Out(QStringLiteral("writing would change %1:\n").arg(setFile_) +
                          DiffText(diffs, QStringLiteral("device"), QStringLiteral("file")));
        if (written)
            Finish(exitOK);
        return;
    }
    if (!a.json && !Out(QStringLiteral("writing changes %1:\n").arg(setFile_) +
                        DiffText(diffs, QStringLiteral("device"), QStringLiteral("file"))))
        return;
    // Before anything is written, what the device holds is on disk, whole,
    // under a name no other run has taken, exactly: restoring it gives the
    // device the same singles back.
    const QByteArray text =
        QByteArray::fromStdString(kv::SettingsFileText(kv::ExactPageFromRecord(device), env_.now().date()));
    QString error;
    if (a.backup.isEmpty()) {
        const QFileInfo in(setFile_);
        const QString stem = in.dir().filePath(in.completeBaseName() + QStringLiteral(".backup-") +
                                               env_.now().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        a.backup = WriteNewFile(stem, text, &error);
    } else if (!WriteOutput(a.backup, a.backupWay, text, &error)) {
        a.backup.clear();
    }
    if (a.backup.isEmpty()) {
        Fail(exitOutput, QStringLiteral("cannot write the backup %1; nothing was written to the device").arg(error));
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
    stored_ = stored;
    const auto mismatches = a.noVerify ? std::vector<TFieldDiff>{} : DiffRecords(toWrite_, stored);
    const int code = mismatches.empty() ? exitOK : exitDiffers;
    const QString failed =
        mismatches.empty() ? QString()
                           : QStringLiteral("verify failed; the settings the device held before are in %1").arg(a.backup);
    bool written = true;
    if (a.json)
        SetReport(code, failed);
    else if (a.noVerify)
        written = Out(QStringLiteral("written (not verified)\n"));
    else if (mismatches.empty())
        written = Out(QStringLiteral("written and verified\n"));
    else
        written = Out(QStringLiteral("VERIFY FAILED: the device stored other values than were sent:\n") +
                      DiffText(mismatches, QStringLiteral("sent"), QStringLiteral("stored")));
    if (!written)
        return;
    if (!failed.isEmpty())
        Err(QStringLiteral("kvctl: %1\n").arg(failed));
    Finish(code);
}

QJsonObject TKvCtl::SetJson() const {
    const TArgs& a = *a_;
    QJsonObject o = JsonHead("kvctl.settings.set/2", Now());
    o[QStringLiteral("file")] = setFile_;
    o[QStringLiteral("dry_run")] = a.dryRun;
    o[QStringLiteral("backup")] = wroteBackup_ ? QJsonValue(a.backup) : QJsonValue();
    // How far the write got: sent (it may have reached the device) and
    // acknowledged; written is the same as acknowledged.
    o[QStringLiteral("sent")] = writeSent_;
    o[QStringLiteral("acknowledged")] = writeAcked_;
    o[QStringLiteral("written")] = writeAcked_;
    const auto mismatches = stored_ && !a.noVerify ? DiffRecords(toWrite_, *stored_) : std::vector<TFieldDiff>{};
    o[QStringLiteral("verified")] = stored_ && !a.noVerify ? QJsonValue(mismatches.empty()) : QJsonValue();
    // Null where it is not known: the device's settings were not read.
    o[QStringLiteral("differences")] =
        beforeKnown_ ? QJsonValue(DiffJson(DiffRecords(before_, toWrite_), "device", "file")) : QJsonValue();
    o[QStringLiteral("changed")] =
        stored_ && beforeKnown_ ? QJsonValue(DiffJson(DiffRecords(before_, *stored_), "before", "after"))
                                : (beforeKnown_ && !writeSent_ ? QJsonValue(QJsonArray()) : QJsonValue());
    o[QStringLiteral("mismatches")] = stored_ ? QJsonValue(DiffJson(mismatches, "sent", "stored")) : QJsonValue();
    return o;
}

void TKvCtl::SetReport(int code, const QString& error) { PrintJson(SetJson(), code, error); }

} // namespace kvctl
