// The window on screens smaller than its layout: it stays inside the screen's
// available area, title bar included, and every part of the layout can be
// scrolled into view.
#include "Main.h"
#include "WindowFit.h"

#include <QScrollBar>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TScreen {
    const char* name;
    QSize pixels;
    double scale;  // the desktop's scaling
    int taskbar;   // device pixels the panel takes at the bottom
};

// The available area in the window's (logical) pixels.
QRect Available(const TScreen& s) {
    return QRect(0, 0, static_cast<int>(s.pixels.width() / s.scale),
                 static_cast<int>((s.pixels.height() - s.taskbar) / s.scale));
}

const TScreen kScreens[] = {
    {"1366x768 at 100 %", {1366, 768}, 1.0, 40},  {"1366x768 at 125 %", {1366, 768}, 1.25, 48},
    {"1280x720 at 100 %", {1280, 720}, 1.0, 40},  {"1920x1080 at 150 %", {1920, 1080}, 1.5, 60},
    {"3840x2160 at 200 %", {3840, 2160}, 2.0, 80}, {"800x600 at 100 %", {800, 600}, 1.0, 0},
};

// A title bar and borders as window managers draw them.
const QMargins kFrame(5, 32, 5, 5);

TEST(WindowFit, FrameStaysInsideTheAvailableArea) {
    const QSize layout(1000, 708);
    for (const TScreen& s : kScreens) {
        SCOPED_TRACE(s.name);
        const QRect available = Available(s).translated(0, 24); // a panel at the top as well
        const QRect inner = kv::FitWindow(layout, available, kFrame);
        EXPECT_TRUE(available.contains(inner.marginsAdded(kFrame)));
        EXPECT_LE(inner.width(), layout.width());
        EXPECT_LE(inner.height(), layout.height());
        // Never smaller than it has to be.
        EXPECT_TRUE(inner.width() == layout.width() ||
                    inner.width() + kFrame.left() + kFrame.right() == available.width());
        EXPECT_TRUE(inner.height() == layout.height() ||
                    inner.height() + kFrame.top() + kFrame.bottom() == available.height());
    }
}

TEST(WindowFit, WholeLayoutIsReachableByScrolling) {
    QTemporaryDir dir;
    TFormMainOptions o;
    o.IniFileName = dir.filePath(QStringLiteral("kvsetup.ini"));
    for (const TScreen& s : kScreens) {
        SCOPED_TRACE(s.name);
        TForm_Main form(o);
        const QRect mb1 = form.MB1->geometry();
        form.FitToScreen(Available(s), kFrame);
        kv::TWindowScroller& sc = *form.WindowScroller();
        const bool small = form.width() < 1000 || form.height() < 708;
        EXPECT_EQ(!sc.Vertical()->isHidden() || !sc.Horizontal()->isHidden(), small);
        // Where the screen is wide enough, only the height scrolls.
        if (Available(s).width() >= 1000 + 30 + kFrame.left() + kFrame.right()) {
            EXPECT_TRUE(sc.Horizontal()->isHidden());
        }
        // The far corner of the layout comes into view, and the controls
        // keep their places relative to each other.
        sc.Vertical()->setValue(sc.Vertical()->maximum());
        sc.Horizontal()->setValue(sc.Horizontal()->maximum());
        const int viewW = form.width() - (sc.Vertical()->isHidden() ? 0 : sc.Vertical()->width());
        const int viewH = form.height() - (sc.Horizontal()->isHidden() ? 0 : sc.Horizontal()->height());
        const QPoint corner = QPoint(999, 707) - sc.Offset();
        EXPECT_TRUE(QRect(0, 0, viewW, viewH).contains(corner)) << corner.x() << "," << corner.y();
        EXPECT_EQ(form.MB1->geometry(), mb1.translated(-sc.Offset()));
        // Back at the start everything stands at its place again.
        sc.Vertical()->setValue(0);
        sc.Horizontal()->setValue(0);
        EXPECT_EQ(form.MB1->geometry(), mb1);
        EXPECT_EQ(form.PageControl1->geometry(), QRect(8, 40, 761, 633));
    }
}

} // namespace
