#include "MBarGraphLayout.h"
#include "NumberPicture.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using mbg::Box;

// Every text measures 20 x 13 pixels, so text places are plain numbers.
QSize Measure20(const QString&) { return {20, 13}; }

mbg::Params Make(TMBGMode mode, TMBGOrientation o, int w, int h, double v) {
    mbg::Params p;
    p.mode = mode;
    p.orientation = o;
    p.width = w;
    p.height = h;
    p.value = v;
    return p;
}

struct BarCase {
    const char* name;
    TMBGMode mode;
    TMBGOrientation orientation;
    int width, height;
    double value;
    bool minusShown, plusShown;
    Box bar; // the shown bar
    bool zeroShown;
    Box zero;
};

TEST(BarGeometry, PlacesBarsAndZeroMark) {
    const std::vector<BarCase> cases = {
        {"signed h 105 full plus", modeSigned, orientationHorizontal, 105, 17, 1.0, false, true,
         {55, 1, 49, 15}, true, {53, 1, 1, 15}},
        {"signed h 105 full minus", modeSigned, orientationHorizontal, 105, 17, -1.0, true, false,
         {1, 1, 51, 15}, true, {53, 1, 1, 15}},
        {"signed h 105 zero", modeSigned, orientationHorizontal, 105, 17, 0.0, false, false, {},
         true, {53, 1, 1, 15}},
        // (106 - 1) / 2 = 52.5 goes to the even 52.
        {"signed h 106 half plus", modeSigned, orientationHorizontal, 106, 17, 0.5, false, true,
         {55, 1, 25, 15}, true, {53, 1, 1, 15}},
        {"signed h clamps 2.0", modeSigned, orientationHorizontal, 105, 17, 2.0, false, true,
         {55, 1, 49, 15}, true, {53, 1, 1, 15}},
        {"signed h clamps -3.0", modeSigned, orientationHorizontal, 105, 17, -3.0, true, false,
         {1, 1, 51, 15}, true, {53, 1, 1, 15}},
        // C = 8, M = 11, B = 16: minus grows down from 11, plus up to 1.
        {"signed v minus", modeSigned, orientationVertical, 17, 17, -1.0, true, false,
         {1, 11, 15, 5}, true, {1, 9, 15, 1}},
        {"signed v half plus", modeSigned, orientationVertical, 17, 17, 0.5, false, true,
         {1, 5, 15, 4}, true, {1, 9, 15, 1}},
        // (104 - 1) * 0.5 = 51.5 goes to 52.
        {"unsigned h half", modeUnsigned, orientationHorizontal, 105, 17, 0.5, false, true,
         {1, 1, 52, 15}, false, {}},
        {"unsigned h zero keeps an empty bar", modeUnsigned, orientationHorizontal, 105, 17, 0.0,
         false, true, {1, 1, 0, 15}, false, {}},
        {"unsigned h negative hides", modeUnsigned, orientationHorizontal, 105, 17, -0.5, false,
         false, {}, false, {}},
        {"unsigned v half", modeUnsigned, orientationVertical, 17, 30, 0.5, false, true,
         {1, 15, 15, 14}, false, {}},
        {"unsigned v zero hides", modeUnsigned, orientationVertical, 17, 30, 0.0, false, false, {},
         false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mbg::State st;
        mbg::Layout(st, Make(c.mode, c.orientation, c.width, c.height, c.value), false, Measure20);
        EXPECT_EQ(st.minusBar.visible, c.minusShown);
        EXPECT_EQ(st.plusBar.visible, c.plusShown);
        if (c.minusShown) {
            EXPECT_EQ(st.minusBar.box, c.bar);
        }
        if (c.plusShown) {
            EXPECT_EQ(st.plusBar.box, c.bar);
        }
        EXPECT_EQ(st.zeroMark.visible, c.zeroShown);
        if (c.zeroShown) {
            EXPECT_EQ(st.zeroMark.box, c.zero);
        }
    }
}

TEST(BarGeometry, BarColourRunsFromAt0ToAt1) {
    mbg::State st;
    auto p = Make(modeSigned, orientationHorizontal, 105, 17, -0.5);
    mbg::Layout(st, p, false, Measure20);
    EXPECT_EQ(st.minusBar.fill, QColor(127, 127, 255)); // 255 + round(-127.5) = 255 - 128
    p.value = 1.0;
    mbg::Layout(st, p, false, Measure20);
    EXPECT_EQ(st.plusBar.fill, QColor(255, 0, 0));
    EXPECT_FALSE(st.minusBar.visible);
}

TEST(BarGeometry, BlendAndInverse) {
    const QColor white(255, 255, 255), red(255, 0, 0);
    EXPECT_EQ(mbg::BlendColor(white, red, 0.5), QColor(255, 127, 127));
    EXPECT_EQ(mbg::BlendColor(white, red, -1.0), white);
    EXPECT_EQ(mbg::BlendColor(white, red, 7.0), red);
    EXPECT_EQ(mbg::BlendColor(white, red, std::nan("")), white);
    EXPECT_EQ(mbg::InverseColor(QColor(255, 127, 0)), QColor(0, 128, 255));
}

TEST(BarGeometry, RedrawsOnlyWhenForcedChangedOrFirst) {
    mbg::State st;
    EXPECT_TRUE(mbg::NeedsRedraw(st, 0.0, false)); // the first layout draws even at 0
    auto p = Make(modeSigned, orientationHorizontal, 105, 17, 0.5);
    mbg::Layout(st, p, false, Measure20);
    EXPECT_FALSE(st.firstLayout);
    EXPECT_EQ(st.lastDrawn, 0.5);

    // The same value, not forced: the bars stay as they are, even after a
    // size change that nobody told the layout to force.
    p.width = 205;
    mbg::Layout(st, p, false, Measure20);
    EXPECT_EQ(st.plusBar.box, (Box{55, 1, 24, 15})); // 24.5 goes to 24
    EXPECT_EQ(st.zeroMark.box.left, 103); // the zero mark follows every layout
    mbg::Layout(st, p, true, Measure20);
    EXPECT_EQ(st.plusBar.box, (Box{105, 1, 50, 15}));
    // 1.7 draws as 1.0, a change from 0.5.
    p.value = 1.7;
    mbg::Layout(st, p, false, Measure20);
    EXPECT_EQ(st.plusBar.box.width, 99);
}

TEST(BarText, PercentTextFollowsDecimalsAndSeparator) {
    EXPECT_EQ(mbg::PercentText(0.5, 0), "50%");
    EXPECT_EQ(mbg::PercentText(2.0, 0), "200%");
    EXPECT_EQ(mbg::PercentText(-0.5, 0), "-50%");
    EXPECT_EQ(mbg::PercentText(0.123456, 4), mbg::PercentText(0.123456, 9));
    kv::SetDecimalSeparator(',');
    EXPECT_EQ(mbg::PercentText(0.123456, 2), "12,35%");
    kv::SetDecimalSeparator('.');
    EXPECT_EQ(mbg::PercentText(0.123456, 3), "12.346%");
}

// Bar widths 23 -> 28 -> 29 -> 24 -> 23 with a 20-pixel text: the side changes
// only beyond the bounds w + 4 and w + 8.
TEST(BarText, AutoPositionHasHysteresis) {
    struct Step {
        double value;
        int barWidth;
        bool inside;
    };
    const Step steps[] = {
        {0.23, 23, false}, {0.28, 28, false}, {0.29, 29, true}, {0.24, 24, true}, {0.23, 23, false}};
    mbg::State st;
    auto p = Make(modeUnsigned, orientationHorizontal, 102, 17, 0); // bar area 100 pixels
    for (const auto& s : steps) {
        SCOPED_TRACE(s.value);
        p.value = s.value;
        ASSERT_TRUE(mbg::Layout(st, p, false, Measure20));
        ASSERT_EQ(st.plusBar.box.width, s.barWidth);
        EXPECT_EQ(st.autoInside, s.inside);
        EXPECT_EQ(st.label.left, s.inside ? 1 + s.barWidth - 2 - 20 : 1 + s.barWidth + 2);
        EXPECT_EQ(st.label.top, 1 + 1); // 1 + round((15 - 13) / 2)
    }
}

TEST(BarText, EveryPosition) {
    struct Case {
        TMBGTextPosition pos;
        int left, top;
    };
    // Bar: left 1, width 50 (value 0.5 over 100 pixels), top 1, height 15.
    const Case cases[] = {
        {tpInside, 1 + 50 - 2 - 20, 2},
        {tpOutside, 1 + 50 + 2, 2},
        {tpFix, 7, -3},
        {tpCentre, 50 + 1 - 10, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pos);
        mbg::State st;
        auto p = Make(modeUnsigned, orientationHorizontal, 102, 17, 0.5);
        p.textPosition = c.pos;
        p.textLeft = 7;
        p.textTop = -3;
        mbg::Layout(st, p, false, Measure20);
        EXPECT_EQ(st.label.text, "50%");
        EXPECT_EQ(st.label.left, c.left);
        EXPECT_EQ(st.label.top, c.top);
        EXPECT_EQ(st.label.color, QColor(Qt::black));
    }
}

TEST(BarText, InverseTextTakesTheInverseOfTheBar) {
    mbg::State st;
    auto p = Make(modeUnsigned, orientationHorizontal, 102, 17, 1.0);
    p.inverseText = true;
    mbg::Layout(st, p, false, Measure20);
    EXPECT_EQ(st.label.color, QColor(0, 255, 255));
}

TEST(BarText, SamePercentageKeepsTheLabelWhereItWas) {
    mbg::State st;
    auto p = Make(modeUnsigned, orientationHorizontal, 1002, 17, 0.501);
    p.textPosition = tpOutside;
    ASSERT_TRUE(mbg::Layout(st, p, false, Measure20));
    const int left = st.label.left;
    p.value = 0.504; // still "50%", but the bar's end moved by 3 pixels
    EXPECT_FALSE(mbg::Layout(st, p, false, Measure20));
    EXPECT_EQ(st.plusBar.box.width, 504);
    EXPECT_EQ(st.label.left, left);
}

TEST(BarText, NegativeUnsignedHidesTheBarButShowsTheText) {
    mbg::State st;
    auto p = Make(modeUnsigned, orientationHorizontal, 102, 17, 0.5);
    mbg::Layout(st, p, false, Measure20);
    p.value = -0.25;
    ASSERT_TRUE(mbg::Layout(st, p, false, Measure20));
    EXPECT_FALSE(st.plusBar.visible);
    EXPECT_EQ(st.label.text, "-25%");
    EXPECT_TRUE(st.label.visible);
}

TEST(BarText, SignedAndVerticalLeaveTheLabelAlone) {
    for (auto [mode, o] : {std::pair{modeSigned, orientationHorizontal},
                           std::pair{modeUnsigned, orientationVertical}}) {
        mbg::State st;
        st.label.left = 9;
        EXPECT_FALSE(mbg::Layout(st, Make(mode, o, 105, 40, 0.7), true, Measure20));
        EXPECT_EQ(st.label.text, "0%");
        EXPECT_EQ(st.label.left, 9);
    }
    mbg::State st;
    auto p = Make(modeUnsigned, orientationHorizontal, 105, 17, 0.7);
    p.showText = false;
    EXPECT_FALSE(mbg::Layout(st, p, true, Measure20));
    EXPECT_FALSE(st.label.visible);
}

} // namespace
