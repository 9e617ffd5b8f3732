// TForm_Main: settings files. The two buttons keep what the settings page
// shows in a .kvs file and load it back into the page; the rules of the file
// are the settings model's, the window only asks for the name and reports.
// A load changes only the controls: the device changes when the user then
// writes the page.
#include "Main.h"

#include "SettingsModel.h"
#include "SpeedButton.h"

#include <QFileInfo>

namespace {

// Releases a request button when its handler ends, however it ends.
class TReleaseOnExit {
public:
    explicit TReleaseOnExit(TSpeedButton* button) : m_button(button) {}
    ~TReleaseOnExit() { m_button->setDown(false); }
    TReleaseOnExit(const TReleaseOnExit&) = delete;
    TReleaseOnExit& operator=(const TReleaseOnExit&) = delete;

private:
    TSpeedButton* m_button;
};

// Prepared on each use, on a dialog without a file name; the folder is left
// where the user last was.
void PrepareDialog(QFileDialog* dialog, const QString& title, const QString& filter) {
    // Qt's own dialog: the platform's needs a desktop session.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog->setFileMode(QFileDialog::AnyFile); // an open may name a file that is not there
    dialog->setDefaultSuffix(QLatin1String(kv::kSettingsFileExtension));
    dialog->setNameFilters({filter});
    dialog->selectNameFilter(filter);
    dialog->setWindowTitle(title);
}

} // namespace

const QString TForm_Main::kSaveFailedText = QString::fromUtf8(
    QT_TRANSLATE_NOOP("TForm_Main", "Sikertelen mentés.\n\rEllenörizze, hogy nem írásvédett-e és van-e elég tárhely."));
const QString TForm_Main::kNotSettingsFileText =
    QString::fromUtf8(QT_TRANSLATE_NOOP("TForm_Main", "Ez nem KV5510 beállítás fájl vagy meghibásodott."));
const QString TForm_Main::kDamagedFileText = QString::fromUtf8(QT_TRANSLATE_NOOP("TForm_Main", "A fájl hibás."));

// One of the texts above in the window's language.
QString TForm_Main::Translated(const QString& text) { return tr(text.toUtf8().constData()); }

void TForm_Main::SetupSettingsFiles() {
    SpeedButton_SaveSettingsToFile->OnClick = [this] { SpeedButton_SaveSettingsToFileClick(); };
    SpeedButton_OpenSettingsFile->OnClick = [this] { SpeedButton_OpenSettingsFileClick(); };
    ChooseSettingsFile = [](QFileDialog* dialog) {
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return QString();
        return dialog->selectedFiles().constFirst();
    };
}

void TForm_Main::SpeedButton_SaveSettingsToFileClick() {
    if (!SpeedButton_SaveSettingsToFile->Down())
        return;
    const TReleaseOnExit release(SpeedButton_SaveSettingsToFile);
    QFileDialog* dialog = SaveDialog1.Fresh();
    PrepareDialog(dialog, tr("Beállítás fájlba mentése"), tr("KV5510/KV7730 beállítás fájl (*.kvs)"));
    const QString chosen = ChooseSettingsFile(dialog);
    if (chosen.isEmpty())
        return;
    const QString name = kv::WithSettingsFileExtension(chosen);
    bool saved = false;
    try {
        saved = kv::SaveSettingsFile(name, PageFromControls(), LocalDate ? LocalDate() : QDate::currentDate());
        if (saved)
            GroupBox_FileOperations->setTitle(QStringLiteral("Saved file: ") + QFileInfo(name).fileName());
    } catch (...) {
        saved = false;
    }
    if (!saved)
        ShowErrorMessage(Translated(kSaveFailedText));
}

void TForm_Main::SpeedButton_OpenSettingsFileClick() {
    if (!SpeedButton_OpenSettingsFile->Down())
        return;
    const TReleaseOnExit release(SpeedButton_OpenSettingsFile);
    QFileDialog* dialog = OpenDialog1.Fresh();
    PrepareDialog(dialog, tr("Beállítás fájl megnyitása"), tr("KV5510 Beállítás fájl (*.kvs)"));
    const QString chosen = ChooseSettingsFile(dialog);
    if (chosen.isEmpty())
        return;
    const QString name = kv::WithSettingsFileExtension(chosen);
    try {
        const kv::SettingsFileLoad load = kv::LoadSettingsFile(name);
        if (load.status != kv::SettingsFileLoad::Loaded) {
            ShowErrorMessage(Translated(kNotSettingsFileText));
            return;
        }
        ApplySettingsPage(load.page);
        GroupBox_FileOperations->setTitle(QStringLiteral("Loaded file: ") + QFileInfo(name).fileName());
    } catch (...) {
        ShowErrorMessage(Translated(kDamagedFileText));
    }
}
