// The shipped style: a toggle button that is down must be told from one that
// is up at a glance, on the plain window face and on the switch schematic,
// and the link panel's "Close" caption must read over its indicator.
#include "AppStyle.h"
#include "MB.h"
#include "Main.h"
#include "SpeedButton.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// Relative luminance of a pixel (sRGB).
double Luminance(QRgb c) {
    auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

double MeanLuminance(const QImage& image, const QRect& r) {
    double sum = 0;
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x, ++n)
            sum += Luminance(image.pixel(x, y));
    return n ? sum / n : 0;
}

struct TLook {
    double face, top, bottom;
};

// The picture of `button` as it stands on its parent (what lies under it
// included), at one device pixel per pixel.
TLook Look(QWidget* button) {
    const QImage image = button->parentWidget()->grab(button->geometry()).toImage();
    const int w = image.width(), h = image.height();
    return {MeanLuminance(image, QRect(3, 3, w - 6, h - 6)), MeanLuminance(image, QRect(1, 0, w - 2, 1)),
            MeanLuminance(image, QRect(1, h - 1, w - 2, 1))};
}

void ExpectPlainlyDown(const TLook& up, const TLook& down) {
    // The face differs by a quarter at least, and the edges turn: dark at the
    // top and light at the bottom.
    EXPECT_GE(std::abs(up.face - down.face) / std::max(up.face, down.face), 0.25) << up.face << " " << down.face;
    EXPECT_LT(down.top, down.bottom);
    EXPECT_GE(up.top, up.bottom - 1e-9);
}

std::unique_ptr<TForm_Main> Form(QTemporaryDir& dir) {
    TFormMainOptions o;
    o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
    o.Parameters << QStringLiteral("/QORMIX");
    return std::make_unique<TForm_Main>(o);
}

TEST(ButtonLook, DownDiffersFromUpOnTheWindowFace) {
    QTemporaryDir dir;
    auto form = Form(dir);
    form->PageControl1->show();
    form->GroupBox_ReadWriteDevice->show();
    form->show();
    TSpeedButton* b = form->SpeedButton_WriteSettingsToInstrument;
    b->setDown(false);
    const TLook up = Look(b);
    b->setDown(true);
    const TLook down = Look(b);
    ExpectPlainlyDown(up, down);
}

TEST(ButtonLook, DownDiffersFromUpOnTheSwitchSchematic) {
    QTemporaryDir dir;
    auto form = Form(dir);
    form->PageControl1->show();
    form->PageControl1->setCurrentWidget(form->TabSheet_DeveloperTool);
    form->PageControl2->setCurrentWidget(form->TabSheet_FETControl);
    form->show();
    for (TSpeedButton* b : {form->SpeedButton_3W, form->SpeedButton_Az, form->SpeedButton_FETForceControl}) {
        SCOPED_TRACE(b->objectName().toStdString());
        b->setDown(false);
        const TLook up = Look(b);
        b->setDown(true);
        const TLook down = Look(b);
        ExpectPlainlyDown(up, down);
    }
}

// The caption of the open port's button over the green indicator: the text
// against the face it stands on, by the contrast ratio of the two.
TEST(ButtonLook, CloseCaptionReadsOverTheIndicator) {
    QTemporaryDir dir;
    auto form = Form(dir);
    form->show();
    auto* b = form->MB1->findChild<QToolButton*>(QStringLiteral("SpeedButton_OpenClose"));
    ASSERT_NE(b, nullptr);
    b->setEnabled(true);
    b->setText(QStringLiteral("Close"));
    b->setChecked(true);
    const QImage image = b->grab().toImage();
    std::vector<double> l;
    for (int y = 2; y < image.height() - 2; ++y)
        for (int x = 2; x < image.width() - 2; ++x)
            l.push_back(Luminance(image.pixel(x, y)));
    std::sort(l.begin(), l.end());
    const double text = l.front(), face = l[l.size() / 2];
    EXPECT_GE((face + 0.05) / (text + 0.05), 4.5) << face << " " << text;
    // And the face itself is the plain one of a down button, not a dither.
    EXPECT_LT(l[l.size() * 3 / 4] - l[l.size() / 4], 0.02);
}

} // namespace
