#include "MBarGraph.h"

#include <QApplication>
#include <QLabel>

#include <gtest/gtest.h>

namespace {

QWidget* Child(TMBarGraph& g, const char* name) { return g.findChild<QWidget*>(name); }

QRect Rect(const mbg::Box& b) { return {b.left, b.top, b.width, b.height}; }

TEST(BarGraphWidget, ConstructionValues) {
    TMBarGraph g;
    EXPECT_EQ(g.objectName(), "MBarGraph");
    EXPECT_EQ(g.size(), QSize(105, 17));
    EXPECT_EQ(g.minimumSize(), QSize(30, 5));
    EXPECT_TRUE(g.LayoutState().firstLayout);
    auto* label = g.findChild<QLabel*>("Label_Text");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "0%");
    // Published through the meta-object as well, under the same names.
    EXPECT_EQ(g.property("MBGValue").toDouble(), 0.5);
    EXPECT_TRUE(g.setProperty("MBGDecimals", 9));
    EXPECT_EQ(g.MBGDecimals(), 4);
}

TEST(BarGraphWidget, OrientationSetsConstraints) {
    TMBarGraph g;
    g.setMBGOrientation(orientationVertical);
    EXPECT_EQ(g.minimumSize(), QSize(6, 30));
    g.setMBGOrientation(orientationHorizontal);
    EXPECT_EQ(g.minimumSize(), QSize(30, 6));
}

TEST(BarGraphWidget, ChildrenFollowTheLayout) {
    TMBarGraph g;
    g.setMBGMode(modeSigned);
    g.setMBGShowText(false);
    g.setMBGValue(1.0);
    g.show();
    auto* plus = Child(g, "Shape_PlusBar");
    auto* minus = Child(g, "Shape_MinusBar");
    auto* zero = Child(g, "Shape_ZeroMark");
    EXPECT_EQ(plus->geometry(), QRect(55, 1, 49, 15));
    EXPECT_TRUE(plus->isVisible());
    EXPECT_FALSE(minus->isVisible());
    EXPECT_EQ(zero->geometry(), QRect(53, 1, 1, 15));
    EXPECT_FALSE(Child(g, "Label_Text")->isVisible());

    // A resize is a forced layout.
    g.resize(205, 17);
    EXPECT_EQ(plus->geometry(), Rect(g.LayoutState().plusBar.box));
    EXPECT_EQ(plus->geometry(), QRect(105, 1, 99, 15));
    g.setMBGValue(0.0);
    EXPECT_FALSE(plus->isVisible());
    EXPECT_TRUE(zero->isVisible());
}

TEST(BarGraphWidget, LabelTakesTheControlFontAndColour) {
    TMBarGraph g;
    QFont f(QStringLiteral("Arial"), 14);
    g.setFont(f);
    g.setMBGInverseText(true);
    g.setMBGValue(1.0);
    auto* label = g.findChild<QLabel*>("Label_Text");
    EXPECT_EQ(label->text(), "100%");
    EXPECT_EQ(label->font().pointSize(), 14);
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 255, 255));
    EXPECT_EQ(label->width(), QFontMetrics(f).horizontalAdvance("100%"));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
