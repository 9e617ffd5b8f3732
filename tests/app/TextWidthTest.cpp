// Every text the link panel and the status display write, at its widest, fits
// the label it is written into (or, where it cannot, is elided with the whole
// text in the label's tooltip).
#include "MB.h"
#include "MBPanelView.h"
#include "Main.h"

#include <QLabel>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TWorst {
    const char* label;
    const char* text;
};

// The widest texts each label can be given.
const TWorst kWorst[] = {
    // link panel
    {"Label_LastStatus", "Last status: Slave Error: #253"},
    {"Label_LastStatus", "Last status: Closed Port"},
    {"Label_TFrames", "4 294 967 295 F"},
    {"Label_RFrames", "4 294 967 295 F"},
    {"Label_TDataCount", ">1k"},
    {"Label_Try", "5/5"},
    {"Label_OpenPortName", "/dev/ttyUSB0"},
    // status display
    {"Label_KeszulekAltipus", "KV5510"},
    {"Label_Status", "Kimenet tartományon kívül esik"},
    {"Label_Status", "Kalibrálatlan potenciométer"},
    {"Label_FizikaiErtek", "-99999.999 mV"},
    {"Label_FizikaiErtek", "99999.99 ohm"},
    {"Label_OutputPercent", "-----%"},
    {"Label_OutputPercent", "-999.99%"},
    {"Label_FormverVerzio", "v2099-12-31"},
    {"Label_KalibralasDatuma", "Kalibrálatlan!"},
    {"Label_WorkingTime", "99999 nap, 23 óra, 59 perc, "},
    {"Label_MertHomerseklet", "Hiba! Nincs adat."},
    {"Label_MertHomersekletMax", "-199.9"},
    {"Label_MertHomersekletMin", "-199.9"},
    {"Label_RAM1AdatForras", "FRAM1"},
    {"Label_RAM2AdatForras", "FRAM2"},
    {"Label_fSzamitottErtek", "-9999.99 ohm"},
    {"Label_CJCTemp", "----- °C"},
    {"Label_CJCTemp", "-199.9 °C"},
    {"Label_Rof2Wire", "9999.99 ohm"},
    {"Label_fRofPot0", "99999.99 ohm"},
    {"Label_fRofPot100", "99999.99 ohm"},
    {"Label_PCBIdentityAddress", "255"},
    {"Label_ADCH0Average", "-8 388 608"},
    {"Label_ADCH1Average", "-8 388 608"},
    {"Label_ADCH0Present", "-8 388 608"},
    {"Label_ADCH1Present", "-8 388 608"},
    {"Label_AuCH0", "255"},
    {"Label_Cycles", "255"},
    {"Label_ADSamplesPs", "65535"},
};

TEST(TextWidth, WorstTextsFitTheirLabels) {
    QTemporaryDir dir;
    TFormMainOptions o;
    o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
    o.Parameters << QStringLiteral("/QORMIX");
    TForm_Main form(o);
    for (const TWorst& w : kWorst) {
        SCOPED_TRACE(w.label);
        auto* label = form.findChild<QLabel*>(QString::fromLatin1(w.label));
        ASSERT_NE(label, nullptr);
        const QString text = QString::fromUtf8(w.text);
        const int room = label->contentsRect().width() - 2 * label->margin() - (label->indent() > 0 ? label->indent() : 0);
        const int need = label->fontMetrics().horizontalAdvance(text);
        EXPECT_LE(need, room) << w.text << ": " << need << " > " << room;
    }
}

// The longest status cannot fit the panel's 149 pixels: it is cut with an
// ellipsis and whole in the tooltip; a short one has no tooltip.
TEST(TextWidth, LastStatusTooLongIsElidedWithItsTooltip) {
    QTemporaryDir dir;
    TFormMainOptions o;
    o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
    TForm_Main form(o);
    auto* label = form.MB1->findChild<QLabel*>(QStringLiteral("Label_LastStatus"));
    ASSERT_NE(label, nullptr);
    form.MB1->MBSetStatus(stSlaveError, 254);
    EXPECT_EQ(label->toolTip(), QStringLiteral("Last status: Unknown Command"));
    EXPECT_TRUE(label->text().startsWith(QStringLiteral("Last status: Unknown")));
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
    form.MB1->MBSetStatus(stOK);
    EXPECT_EQ(label->text(), QStringLiteral("Last status: OK"));
    EXPECT_TRUE(label->toolTip().isEmpty());

    // The same status on a wider line is measured anew; the colour follows
    // each status, also back to the face after the same red twice.
    form.MB1->MBSetStatus(stSlaveError, 254);
    label->resize(400, label->height());
    form.MB1->MBSetStatus(stSlaveError, 254);
    EXPECT_EQ(label->text(), QStringLiteral("Last status: Unknown Command"));
    EXPECT_TRUE(label->toolTip().isEmpty());
    form.MB1->MBSetStatus(stTimeOut);
    form.MB1->MBSetStatus(stTimeOut);
    EXPECT_EQ(label->palette().color(QPalette::Window), mbpanel::kRed);
    form.MB1->MBSetStatus(stOK);
    EXPECT_EQ(label->palette().color(QPalette::Window), form.MB1->MBFaceColor());
}

} // namespace
