// The window in English: every page, both wizards with their logs, the
// settings page, the link panel, the message boxes and the file dialogs,
// walked widget by widget. In English no text is left in the window's
// Hungarian; in Hungarian the same walk meets every text of the translation
// file (so the English walk has looked at all of them); and what the status
// display writes at its widest fits its labels in English too.
#include "Language.h"
#include "Main.h"
#include "Piszkozat.h"
#include "RadioGroup.h"
#include "SpeedButton.h"
#include "StatusTexts.h"
#include "TextFit.h"
#include "TsCatalog.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using kv::lang::TLanguage;

namespace {

struct TShown {
    QString where, text;
};

// Every text a widget shows or offers: captions, titles, tab texts, list
// lines, tooltips, window titles.
void Collect(QWidget* root, std::vector<TShown>& out) {
    QList<QWidget*> all = root->findChildren<QWidget*>();
    all.prepend(root);
    for (QWidget* w : all) {
        const QString name = w->objectName();
        auto add = [&](const QString& text) {
            if (!text.isEmpty())
                out.push_back({name, text});
        };
        add(w->toolTip());
        if (w->isWindow())
            add(w->windowTitle());
        if (auto* l = qobject_cast<QLabel*>(w))
            add(l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            add(b->text());
        if (auto* g = qobject_cast<QGroupBox*>(w))
            add(g->title());
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            add(e->text());
            add(e->placeholderText());
        }
        if (auto* t = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i)
                add(t->tabText(i));
        if (auto* list = qobject_cast<QListWidget*>(w))
            for (int i = 0; i < list->count(); ++i)
                add(list->item(i)->text());
        if (auto* c = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i)
                add(c->itemText(i));
        if (auto* r = qobject_cast<TRadioGroup*>(w))
            for (const QString& item : r->Items())
                add(item);
    }
}

// An answer that makes the status display write its rarer texts.
kv::PollAnswer Uncalibrated() {
    kv::PollAnswer a;
    a.FirmwareYear = 2016;
    a.FirmwareMonth = 10;
    a.FirmwareDay = 11;
    a.RAM1DataSource = 4;
    a.RAM2DataSource = 0;
    a.WorkingTime = 3 * 1440 + 2 * 60 + 1;
    a.CalibrationYear = 0;
    a.InternalTemperature = -300.0f;
    a.CalibrationFlags = 0;
    a.StatusCode = 3;
    return a;
}

// The window at the developer access level and the second form, shown and
// driven through what writes texts at run time, walked: every text seen.
std::vector<TShown> WalkTheWindow() {
    QTemporaryDir dir;
    TFormMainOptions o;
    o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
    o.Parameters << QStringLiteral("/QORMIX");
    TForm_Main form(o);
    TForm1 form1;
    std::vector<TShown> shown;
    auto see = [&](QWidget* w, const QString& text) { shown.push_back({w->objectName(), text}); };

    form.FormActivate(); // the title, with the access level
    QStringList messages;
    form.ShowErrorMessage = [&](const QString& text) { messages << text; };
    // The file dialogs, their titles and filters; a save that fails and a
    // load of a file that is none.
    QString next;
    form.ChooseSettingsFile = [&](QFileDialog* dialog) {
        see(dialog, dialog->windowTitle());
        for (const QString& filter : dialog->nameFilters())
            see(dialog, filter);
        return next;
    };
    next = dir.filePath(QStringLiteral("no/such/folder/x.kvs"));
    form.SpeedButton_SaveSettingsToFile->Click();
    next = dir.filePath(QStringLiteral("missing.kvs"));
    form.SpeedButton_OpenSettingsFile->Click();
    for (const QString& m : messages)
        shown.push_back({QStringLiteral("message box"), m});

    // The status display: a device without calibration or temperature, and
    // every status.
    form.DecodePollAnswer(Uncalibrated());
    for (std::uint32_t code = 0; code <= 5; ++code) {
        form.ShowStatus(code);
        see(form.Label_Status, form.Label_Status->text());
    }
    // The error levels' captions of every output type (the page starts at
    // the first, with the layout's captions).
    for (int output : {1, 2, 3, 4, 0}) {
        form.RadioGroup_OutputMode->setItemIndex(output);
        see(form.RadioButton_ErrorLow, form.RadioButton_ErrorLow->text());
        see(form.RadioButton_ErrorHigh, form.RadioButton_ErrorHigh->text());
    }
    // Both wizards' logs after a Next.
    form.PageControl1->setCurrentWidget(form.TabSheet_DeveloperTool);
    form.PageControl2->setCurrentWidget(form.TabSheet_InputCalibration);
    form.SpeedButton_CalibrationNext->Click();
    form.PageControl2->setCurrentWidget(form.TabSheet_OutputCalibration);
    form.SpeedButton_OutputCalibrationNext->Click();

    Collect(&form, shown);
    Collect(&form1, shown);
    return shown;
}

const kvtest::TTsCatalog& English() {
    static const kvtest::TTsCatalog catalog(QStringLiteral(KV_TRANSLATIONS_DIR "/kvsetup_en.ts"));
    return catalog;
}

TEST(Language, EnglishWindowLeavesNoHungarian) {
    ASSERT_TRUE(English().Ok());
    kv::lang::TTranslation english(TLanguage::English);
    ASSERT_TRUE(english.Install());
    const std::vector<TShown> shown = WalkTheWindow();
    EXPECT_GT(shown.size(), 300u);
    for (const TShown& s : shown) {
        if (const auto m = English().Untranslated(s.text))
            ADD_FAILURE() << s.where.toStdString() << " shows \"" << s.text.toStdString() << "\", untranslated \""
                          << m->Source.toStdString() << "\" (" << m->Context.toStdString() << ")";
        else
            EXPECT_FALSE(kvtest::HasHungarianLetters(s.text)) << s.where.toStdString() << ": " << s.text.toStdString();
    }
    // The log's step captions are translated too.
    const auto has = [&](const char* text) {
        return std::any_of(shown.begin(), shown.end(), [&](const TShown& s) { return s.text == QLatin1String(text); });
    };
    EXPECT_TRUE(has("Step 1:"));
    EXPECT_TRUE(has("KV5510 Setup Program   v2016-11-25   Varnel Kft.   Access level = VARNEL"));
    EXPECT_TRUE(has("KV5510/KV7730 settings file (*.kvs)"));
}

// The walk reaches every text of the translation file that the window can
// show: a text it missed would go unchecked in English.
TEST(Language, WalkMeetsEveryWindowText) {
    ASSERT_TRUE(English().Ok());
    const std::vector<TShown> shown = WalkTheWindow();
    // Not the window's: the version line; and a message for a load that
    // throws, which no file makes it do.
    const QStringList elsewhere = {QStringLiteral("KV5510 Beállító program v%1"), QStringLiteral("A fájl hibás.")};
    for (const kvtest::TTsMessage& m : English().Messages()) {
        if (elsewhere.contains(m.Source))
            continue;
        const bool met = std::any_of(shown.begin(), shown.end(),
                                     [&](const TShown& s) { return m.Pattern.match(s.text).hasMatch(); });
        EXPECT_TRUE(met) << m.Context.toStdString() << ": " << m.Source.toStdString();
    }
}

// The status display's widest texts in English fit their labels, as the
// Hungarian ones do (TextWidth.WorstTextsFitTheirLabels).
TEST(Language, WidestEnglishStatusTextsFit) {
    kv::lang::TTranslation english(TLanguage::English);
    ASSERT_TRUE(english.Install());
    QTemporaryDir dir;
    TFormMainOptions o;
    o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
    o.Parameters << QStringLiteral("/QORMIX");
    TForm_Main form(o);
    kv::PollAnswer a;
    const struct {
        QLabel* label;
        std::string text;
    } worst[] = {
        {form.Label_WorkingTime, kv::WorkingTimeText(99999u * 1440 + 23 * 60 + 59)},
        {form.Label_KalibralasDatuma, kv::CalibrationDateText(a)},
        {form.Label_MertHomerseklet, kv::InternalTemperatureText(-300)},
        {form.Label_RAM1AdatForras, kv::DataSourceText(4)},
        {form.Label_RAM2AdatForras, kv::DataSourceText(4)},
    };
    for (const auto& w : worst) {
        w.label->setText(QString::fromStdString(w.text));
        if (const auto why = apptest::Clipped(w.label))
            ADD_FAILURE() << *why;
    }
    for (std::uint32_t code = 0; code <= 5; ++code) {
        form.ShowStatus(code);
        if (const auto why = apptest::Clipped(form.Label_Status))
            ADD_FAILURE() << *why;
    }
    for (int output : {1, 2, 3, 4, 0}) {
        form.RadioGroup_OutputMode->setItemIndex(output);
        for (QWidget* w : {form.RadioButton_ErrorLow, form.RadioButton_ErrorHigh})
            if (const auto why = apptest::Clipped(w))
                ADD_FAILURE() << *why;
    }
}

} // namespace
