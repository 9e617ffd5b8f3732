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
    session_->ReadSettings = true;
    step_ = [this](const TKvSession::TEnd& end) { SetStep(end); };
    session_->Start();
}

void TKvCtl::SetStep(const TKvSession::TEnd& end) {
    if (end.status != stOK) {
        NoAnswer(end);
        return;
    }
    switch (setStep_) {
    case TSetStep::ReadBefore:
        if (end.command == kv::cmdReadSettings)
            SetReadBefore(kv::SettingsRecord::Decode(end.answer));
        break;
    case TSetStep::Write:
        // The write goes out after this poll; once acknowledged, the
        // session reads the settings back.
        if (end.command == kv::cmdPoll)
            writeSent_ = true;
        if (end.command == kv::cmdWriteSettings) {
            writeAcked_ = true;
            setStep_ = TSetStep::ReadBack;
        }
        break;
    case TSetStep::ReadBack:
        if (end.command == kv::cmdReadSettings)
            SetReadBack(kv::SettingsRecord::Decode(end.answer));
        break;
    case TSetStep::Done:
        break;
    }
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
    session_->SettingsToWrite = toWrite_;
    session_->WriteSettings = true;
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
