// Settings files in the window: the two buttons, their dialogs, captions and
// messages, and what a load does (and does not do) to the page and the line.
#include "poll_support.h"

#include "RadioGroup.h"
#include "SettingsModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <QtTest/QTest>

#include <sys/stat.h>

#include <cctype>
#include <map>

using namespace polltest;

namespace {

// The window with the file seams: the next chosen name, the dialog it was
// chosen in, and the messages shown.
struct TFileRig : TPollRig {
    QString next;
    QFileDialog* dialog = nullptr;
    QStringList messages;
    explicit TFileRig(bool withDevice = false) : TPollRig(false, withDevice) {
        form->ChooseSettingsFile = [this](QFileDialog* d) {
            dialog = d;
            return next;
        };
        form->ShowErrorMessage = [this](const QString& text) { messages << text; };
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    void Save(const QString& name) {
        next = name;
        form->SpeedButton_SaveSettingsToFile->Click();
        EXPECT_FALSE(form->SpeedButton_SaveSettingsToFile->Down());
    }
    void Load(const QString& name) {
        next = name;
        form->SpeedButton_OpenSettingsFile->Click();
        EXPECT_FALSE(form->SpeedButton_OpenSettingsFile->Down());
    }
    QString Caption() const { return form->GroupBox_FileOperations->title(); }
    void Put(const QString& name, const QByteArray& text) const {
        QFile f(Path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
};

const QByteArray kHeader = "[Header]\nKV=KV5510/KV7730\n[Settings]\n";

} // namespace

TEST(SettingsFile, DialogsPreparedOnEachUse) {
    struct Row {
        TSpeedButton* TForm_Main::*button;
        const char* title;
        const char* filter;
        QFileDialog::AcceptMode mode;
    };
    const Row rows[] = {
        {&TForm_Main::SpeedButton_SaveSettingsToFile, "Beállítás fájlba mentése", "KV5510/KV7730 beállítás fájl (*.kvs)",
         QFileDialog::AcceptSave},
        {&TForm_Main::SpeedButton_OpenSettingsFile, "Beállítás fájl megnyitása", "KV5510 Beállítás fájl (*.kvs)",
         QFileDialog::AcceptOpen},
    };
    TFileRig rig;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.title);
        (*rig.form.*r.button)->Click(); // cancelled: nothing but the release
        ASSERT_NE(rig.dialog, nullptr);
        EXPECT_FALSE((*rig.form.*r.button)->Down());
        EXPECT_EQ(rig.dialog->windowTitle(), QString::fromUtf8(r.title));
        EXPECT_EQ(rig.dialog->nameFilters(), QStringList{QString::fromUtf8(r.filter)});
        EXPECT_EQ(rig.dialog->selectedNameFilter(), QString::fromUtf8(r.filter));
        EXPECT_EQ(rig.dialog->defaultSuffix(), "kvs");
        EXPECT_EQ(rig.dialog->acceptMode(), r.mode);
        EXPECT_EQ(rig.dialog->fileMode(), QFileDialog::AnyFile);
        EXPECT_TRUE(rig.dialog->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_FALSE(rig.dialog->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(rig.Caption(), QString::fromUtf8("Fájl műveletek:"));
        EXPECT_TRUE(rig.messages.isEmpty());
        // A click that leaves the button up asks nothing.
        rig.dialog = nullptr;
        (*rig.form.*r.button)->setDown(true);
        (*rig.form.*r.button)->Click();
        EXPECT_EQ(rig.dialog, nullptr);
    }
}

TEST(SettingsFile, SaveWritesTheFileAndCaption) {
    TFileRig rig;
    rig.form->RadioGroup_Wires->setItemIndex(1);
    rig.form->Edit_FizikaiForOutL->setText("-5.5");
    rig.Save(rig.Path("bench")); // a name without extension
    EXPECT_EQ(rig.Caption(), "Saved file: bench.kvs");
    QFile f(rig.Path("bench.kvs"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    // The whole text is the settings model's; the window gives the page and the date.
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("\nRadioGroup_Wires=1\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nEdit_FizikaiForOutL=-5.5\n"));
    EXPECT_TRUE(text.endsWith("\n[Date]\nDate=" + kv::SettingsFileDate(QDate(2026, 12, 6)).toUtf8() + "\n"));
    EXPECT_TRUE(rig.messages.isEmpty());
}

TEST(SettingsFile, EveryControlRoundTrips) {
    const kv::SettingsPage pages[] = {
        {2, 0, 9, 1, 7, 3, false, true, true, "-1.5", QString::fromUtf8("1 000 °C")},
        {5, 0, 0, 3, 2, 1, true, false, false, "abc", ""},
        {7, -1, -1, -1, -1, -1, false, false, false, "", "12,5"},
        {3, 1, 3, 2, 0, 4, true, false, true, "0", "100"},
    };
    TFileRig rig;
    for (const kv::SettingsPage& page : pages) {
        SCOPED_TRACE(page.Mode);
        rig.form->ApplySettingsPage(page);
        ASSERT_EQ(rig.form->PageFromControls(), page);
        rig.Save(rig.Path("round.kvs"));
        rig.form->ApplySettingsPage(pages[(&page - pages + 1) % std::size(pages)]);
        rig.Load(rig.Path("round.kvs"));
        EXPECT_EQ(rig.form->PageFromControls(), page);
        EXPECT_EQ(rig.Caption(), "Loaded file: round.kvs");
    }
    // The groups follow the loaded mode: thermocouple, external Pt1000.
    rig.form->ApplySettingsPage(pages[0]);
    rig.Save(rig.Path("tc.kvs"));
    rig.form->ApplySettingsPage(pages[1]);
    EXPECT_TRUE(rig.form->RadioGroup_TCType->isHidden());
    rig.Load(rig.Path("tc.kvs"));
    EXPECT_FALSE(rig.form->RadioGroup_TCType->isHidden());
    EXPECT_FALSE(rig.form->GroupBox_Rof2Wire->isHidden());
    EXPECT_EQ(rig.form->Label_OutL->text(), "2 V");
    EXPECT_TRUE(rig.messages.isEmpty());
}

TEST(SettingsFile, LoadRunsClickHandlersOnlyWhereTheSelectionChanged) {
    TFileRig rig;
    TForm_Main& f = *rig.form;
    f.RadioGroup_Wires->setItemIndex(0);
    rig.Save(rig.Path("same.kvs"));
    std::map<std::string, int> clicks;
    for (TRadioGroup* g : {f.RadioGroup_Mode, f.RadioGroup_Wires, f.RadioGroup_TCType, f.RadioGroup_CJC,
                           f.RadioGroup_RefreshTime, f.RadioGroup_OutputMode})
        g->OnClick = [&clicks, g] { ++clicks[g->objectName().toStdString()]; };
    f.Label_OutL->setText("unchanged");
    rig.Load(rig.Path("same.kvs"));
    EXPECT_TRUE(clicks.empty());
    EXPECT_EQ(f.Label_OutL->text(), "unchanged");
    EXPECT_EQ(rig.Caption(), "Loaded file: same.kvs");

    rig.Put("other.kvs", kHeader + "RadioGroup_Mode=12\nRadioGroup_Wires=0\nRadioGroup_TCType=3\nRadioGroup_CJC=0\n"
                                   "RadioGroup_RefreshTime=0\nRadioGroup_OutputMode=0x2\n");
    rig.Load(rig.Path("other.kvs"));
    EXPECT_EQ(clicks, (std::map<std::string, int>{{"RadioGroup_Mode", 1}, {"RadioGroup_OutputMode", 1}}));
    EXPECT_EQ(f.RadioGroup_Mode->ItemIndex(), 7);
}

TEST(SettingsFile, ErrorLevelsAndMissingKeys) {
    struct Row {
        const char* lines;
        bool low, high;
    };
    const Row rows[] = {
        {"RadioButton_ErrorLow=1\nRadioButton_ErrorHigh=1\n", false, true},
        {"RadioButton_ErrorLow=0\nRadioButton_ErrorHigh=0\n", false, false},
        {"RadioButton_ErrorLow=1\nRadioButton_ErrorHigh=0\n", true, false},
        {"RadioButton_ErrorLow=0\nRadioButton_ErrorHigh=1\n", false, true},
    };
    TFileRig rig;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.lines);
        for (bool highBefore : {false, true}) {
            rig.form->RadioButton_ErrorHigh->setChecked(highBefore);
            rig.form->RadioButton_ErrorLow->setChecked(!highBefore);
            rig.Put("e.kvs", kHeader + r.lines);
            rig.Load(rig.Path("e.kvs"));
            EXPECT_EQ(rig.form->RadioButton_ErrorLow->isChecked(), r.low);
            EXPECT_EQ(rig.form->RadioButton_ErrorHigh->isChecked(), r.high);
        }
    }
    // Neither checked: the user can still pick one, and then only that one.
    rig.Put("e.kvs", kHeader + rows[1].lines);
    rig.Load(rig.Path("e.kvs"));
    rig.form->RadioButton_ErrorHigh->click();
    EXPECT_TRUE(rig.form->RadioButton_ErrorHigh->isChecked());
    rig.form->RadioButton_ErrorLow->click();
    EXPECT_FALSE(rig.form->RadioButton_ErrorHigh->isChecked());
    EXPECT_EQ(rig.form->RadioGroup_Mode->ItemIndex(), -1); // no RadioGroup_Mode key
}

// The error levels are radio buttons: a click, by mouse or by the space bar,
// leaves the button clicked checked and only that one. The write sends and
// the save stores what they show.
TEST(SettingsFile, AClickOnAnErrorLevelNeverUnchecksIt) {
    const struct {
        const char* clicks; // L low, H high; lower case: the space bar
        bool high;
    } rows[] = {{"L", false}, {"HH", true}, {"HLL", false}, {"l", false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.clicks);
        TFileRig rig(true);
        rig.Open();
        ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
        rig.Put("low.kvs", kHeader + "RadioButton_ErrorLow=1\nRadioButton_ErrorHigh=0\n");
        rig.Load(rig.Path("low.kvs"));
        for (const char* c = r.clicks; *c; ++c) {
            QRadioButton* b = toupper(*c) == 'L' ? rig.form->RadioButton_ErrorLow : rig.form->RadioButton_ErrorHigh;
            islower(*c) ? QTest::keyClick(b, Qt::Key_Space) : QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, 8));
        }
        EXPECT_EQ(rig.form->RadioButton_ErrorLow->isChecked(), !r.high);
        EXPECT_EQ(rig.form->RadioButton_ErrorHigh->isChecked(), r.high);
        rig.Save(rig.Path("after.kvs"));
        EXPECT_EQ(kv::LoadSettingsFile(rig.Path("after.kvs")).page.ErrorHigh, r.high);
        rig.form->SpeedButton_WriteSettingsToInstrument->setDown(true);
        ASSERT_TRUE(rig.RunUntil(kv::cmdWriteSettings));
        EXPECT_EQ(rig.ended.back().sent.at(14), r.high ? 0x40 : 0x00);
        if (const QString shots = qEnvironmentVariable("KV_SCREENSHOT_DIR"); !shots.isEmpty())
            rig.form->GroupBox_ErrorSignal->grab().save(shots + QStringLiteral("/error_level_%1.png").arg(r.clicks));
    }
}

// Each dialog starts without a file name: a second Save does not offer the
// last name, nor Open the last file. The folder stays where the user was.
TEST(SettingsFile, EachDialogStartsWithoutAFileName) {
    TFileRig rig;
    rig.Put("first.kvs", kHeader);
    QStringList offered;
    rig.form->ChooseSettingsFile = [&](QFileDialog* d) {
        offered << d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text() << d->directory().path();
        d->setDirectory(rig.dir.path());
        d->selectFile(rig.Path("first.kvs")); // the user picks a file
        return rig.Path("first.kvs");
    };
    for (int use = 0; use < 2; ++use) {
        rig.form->SpeedButton_SaveSettingsToFile->Click();
        rig.form->SpeedButton_OpenSettingsFile->Click();
    }
    EXPECT_EQ(offered.mid(4), (QStringList{"", rig.dir.path(), "", rig.dir.path()}));
    EXPECT_TRUE(rig.messages.isEmpty());
}

TEST(SettingsFile, LoadSendsNothingAndAWriteAfterItSendsTheFallbacks) {
    TSeparator sep('.');
    TFileRig rig(true);
    rig.Open();
    ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
    // Saved where the separator is a comma; no mode key.
    rig.Put("comma.kvs", kHeader + "RadioGroup_Wires=0\nEdit_FizikaiForOutL=12,5\nEdit_FizikaiForOutH=80,0\n");
    const std::size_t from = rig.ended.size();
    rig.Load(rig.Path("comma.kvs"));
    ASSERT_TRUE(rig.Run(5));
    EXPECT_EQ(rig.Commands(from), std::vector<std::uint8_t>(5, kv::cmdPoll));
    EXPECT_EQ(rig.form->Edit_FizikaiForOutL->text(), "12,5");

    rig.form->SpeedButton_WriteSettingsToInstrument->setDown(true);
    ASSERT_TRUE(rig.RunUntil(kv::cmdWriteSettings));
    // mode 0, 2 wires, type K, CJC 0, 0.0, 100.0, output 0, low
    EXPECT_EQ(Hex(rig.ended.back().sent), "00 02 03 00 00 00 00 00 00 00 00 C8 42 00 00");
}

TEST(SettingsFile, FailuresKeepThePage) {
    TFileRig rig;
    rig.Put("case.kvs", "[Header]\nKV=kv5510/KV7730\n[Settings]\nRadioGroup_Mode=5\n");
    rig.Put("big.kvs", kHeader + "RadioGroup_Mode=5\n");
    QFile(rig.Path("big.kvs")).resize(100 << 20);
    mkfifo(QFile::encodeName(rig.Path("fifo.kvs")).constData(), 0600);
    rig.Put("binary.kvs", QByteArray("\x7F" "ELF\x02\x01\x01\0\0\0", 10) + QByteArray(4000, '\xFF'));
    QDir(rig.dir.path()).mkdir("folder.kvs");
    const QString loads[] = {"missing.kvs", "case.kvs", "big.kvs", "fifo.kvs", "binary.kvs", "folder.kvs"};
    for (const QString& name : loads) {
        SCOPED_TRACE(name.toStdString());
        rig.Load(rig.Path(name));
        EXPECT_EQ(rig.messages, QStringList{TForm_Main::kNotSettingsFileText});
        EXPECT_EQ(rig.form->RadioGroup_Mode->ItemIndex(), 0);
        EXPECT_EQ(rig.Caption(), QString::fromUtf8("Fájl műveletek:"));
        rig.messages.clear();
    }
    // Saving: a missing folder, a folder, a file beyond what the INI layer rewrites.
    const QString saves[] = {rig.Path("no/such/folder.kvs"), rig.Path("folder.kvs"), rig.Path("big.kvs")};
    for (const QString& name : saves) {
        SCOPED_TRACE(name.toStdString());
        rig.Save(name);
        EXPECT_EQ(rig.messages, QStringList{TForm_Main::kSaveFailedText});
        EXPECT_EQ(rig.Caption(), QString::fromUtf8("Fájl műveletek:"));
        rig.messages.clear();
    }
    EXPECT_EQ(QFileInfo(rig.Path("big.kvs")).size(), 100 << 20);
}

TEST(SettingsFile, ErrorBoxHasOneOkButton) {
    TPollRig rig(false, false);
    rig.form->ChooseSettingsFile = [&](QFileDialog*) { return rig.dir.filePath("missing.kvs"); };
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    qsizetype buttons = 0;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        icon = box->icon();
        buttons = box->buttons().size();
        box->button(QMessageBox::Ok)->click();
    });
    rig.form->SpeedButton_OpenSettingsFile->Click();
    EXPECT_EQ(text, TForm_Main::kNotSettingsFileText);
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, 1);
    EXPECT_EQ(TForm_Main::kSaveFailedText.indexOf("\n\r"), 18);
}

// kvctl's backups hold the device's values exactly, with the machine's
// separator: the window loads one under either locale and its write gives
// the device the same record, byte for byte (the page's own save keeps the
// display pictures).
TEST(SettingsFile, TheWindowLoadsKvctlsExactBackups) {
    // Thermocouple K, 4 wires, CJC 1, -12.345 .. 250.25, 0-20 mA, error high.
    const kv::SettingsRecord held{2, 4, 3, 1, 0, -12.345f, 250.25f, 1, kv::errsig::High};
    for (const char sep : {'.', ','}) {
        SCOPED_TRACE(std::string(1, sep));
        TSeparator locale(sep);
        TFileRig rig(true);
        rig.Open();
        ASSERT_TRUE(rig.RunUntil(kv::cmdReadSettings));
        rig.Put("backup.kvs", QByteArray::fromStdString(kv::SettingsFileText(kv::ExactPageFromRecord(held), QDate(2026, 12, 6))));
        rig.Load(rig.Path("backup.kvs"));
        EXPECT_TRUE(rig.messages.isEmpty()) << rig.messages.join(' ').toStdString();
        EXPECT_EQ(rig.form->Edit_FizikaiForOutL->text(), QStringLiteral("-12") + QLatin1Char(sep) + QStringLiteral("345"));
        EXPECT_EQ(rig.form->Edit_FizikaiForOutH->text(), QStringLiteral("250") + QLatin1Char(sep) + QStringLiteral("25"));
        rig.form->SpeedButton_WriteSettingsToInstrument->setDown(true);
        ASSERT_TRUE(rig.RunUntil(kv::cmdWriteSettings));
        EXPECT_EQ(rig.ended.back().sent, held.Encode());
    }
}
