// The link panel's texts and speed graph, without a window.
#include "MBPanelView.h"

#include <gtest/gtest.h>

namespace {

using namespace mbpanel;

TEST(PanelText, PicturesOfRatesAndCounters) {
    struct Case {
        QString got, want;
    };
    const Case cases[] = {
        {RateText(115200), " 115 200 bits / second"},
        {RateText(9600), " 9 600 bits / second"},
        {RateText(75), "  75 bits / second"},
        {CounterText(0, " F"), "   0  F"},
        {CounterText(12, " F"), "   12  F"},
        {CounterText(1234, " B"), "  1 234  B"},
        {CounterText(4294967296ull, " S"), "4 294 967 296  S"},
        {DataCountText(0), "0"},
        {DataCountText(999), "999"},
        {DataCountText(1000), ">1k"},
        {TryText(1, 3), "1/3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.want);
}

TEST(PanelRequestLine, CountsRepeatsAndCapsAt999) {
    TMBRequestLine line;
    line.Clear(1, 1);
    line.Show(1, 1);
    EXPECT_EQ(line.Current(), "1.1");
    line.Show(1, 1);
    EXPECT_EQ(line.Current(), "2x1.1");
    for (int i = 2; i < 999; ++i)
        line.Show(1, 1);
    EXPECT_EQ(line.Current(), "999x1.1");
    line.Show(1, 1);
    EXPECT_EQ(line.Current(), ">999x1.1");
    line.Show(1, 1);
    EXPECT_EQ(line.Current(), ">999x1.1");
    EXPECT_EQ(line.History(), "");

    line.Show(1, 4);
    EXPECT_EQ(line.Current(), "1.4");
    EXPECT_EQ(line.History(), " >999x1.1");
    line.Close(1, 4);
    EXPECT_EQ(line.Current(), "");
    EXPECT_EQ(line.History(), " >999x1.1 1.4");
}

TEST(PanelRequestLine, HistoryKeepsItsLast40Characters) {
    TMBRequestLine line;
    line.Clear(0, 0);
    for (int cmd = 1; cmd <= 20; ++cmd)
        line.Show(247, cmd); // " 247.N" is 6 or 7 characters
    ASSERT_EQ(line.History().size(), 40);
    EXPECT_TRUE(line.History().endsWith(" 247.18 247.19"));
    line.Clear(1, 1);
    EXPECT_EQ(line.History(), "");
}

// Points of the graph: the pixels that are not frame or face.
int CountPixels(const QImage& img, const QColor& c) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += img.pixelColor(x, y) == c;
    return n;
}

const QColor kFace(240, 240, 240);

QImage NewImage() {
    QImage img(TMBSpeedGraph::kWidth, TMBSpeedGraph::kHeight, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

TEST(PanelSpeedGraph, ClearDrawsAGreyFrameAroundTheFace) {
    QImage img = NewImage();
    TMBSpeedGraph::Clear(img, kFace);
    EXPECT_EQ(img.pixelColor(0, 0), kGraphFrame);
    EXPECT_EQ(img.pixelColor(85, 18), kGraphFrame);
    EXPECT_EQ(img.pixelColor(43, 9), kFace);
    EXPECT_EQ(CountPixels(img, kGraphFrame), 2 * 86 + 2 * 17);
}

TEST(PanelSpeedGraph, ZeroMaximumPutsEveryPointOnTheRedBottomLine) {
    TMBSpeedGraph g;
    for (int s : {0, 5, 12, 3})
        g.Append(s);
    QImage img = NewImage();
    g.Draw(img, 0, kFace);
    // Samples 80..83 drawn at x = 81..84, all on y = 17.
    EXPECT_EQ(CountPixels(img, kRed), 4);
    for (int x = 81; x <= 84; ++x)
        EXPECT_EQ(img.pixelColor(x, 17), kRed) << x;
    EXPECT_EQ(CountPixels(img, Qt::black), 0);
}

TEST(PanelSpeedGraph, ScalesToTheMaximumWithGreenTop) {
    TMBSpeedGraph g;
    for (int s : {0, 10, 5})
        g.Append(s);
    EXPECT_EQ(g.Sample(83), 5);
    EXPECT_EQ(g.Sample(80), -1);
    QImage img = NewImage();
    g.Draw(img, 10, kFace);
    EXPECT_EQ(img.pixelColor(82, 17), kRed);   // 0
    EXPECT_EQ(img.pixelColor(83, 1), kGreen);  // 10 = maximum
    EXPECT_EQ(img.pixelColor(84, 9), Qt::black); // 17 - round(16 * 0.5)
    // The rise from the bottom starts one pixel above the red line and
    // ends below the green one: columns 82 and 83 carry the lines.
    EXPECT_EQ(img.pixelColor(82, 16), Qt::black);
    EXPECT_EQ(img.pixelColor(83, 2), Qt::black);
    // Nothing is drawn left of the first sample.
    for (int y = 1; y < 18; ++y)
        EXPECT_EQ(img.pixelColor(81, y), kFace) << y;
}

TEST(PanelSpeedGraph, KeepsTheLast84Samples) {
    TMBSpeedGraph g;
    for (int s = 0; s < 200; ++s)
        g.Append(s);
    EXPECT_EQ(g.Sample(83), 199);
    EXPECT_EQ(g.Sample(0), 116);
    QImage img = NewImage();
    g.Draw(img, 1000000000000LL, kFace); // a huge maximum keeps every point at the bottom
    EXPECT_EQ(CountPixels(img, kRed), 84);
}

} // namespace
