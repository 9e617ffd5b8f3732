// The window's own small controls: toggle buttons and radio groups.
#include "RadioGroup.h"
#include "SpeedButton.h"

#include <QRadioButton>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

struct Group {
    QWidget parent;
    QWidget other;
    std::vector<TSpeedButton*> b;
    std::vector<int> clicks;
    Group(int count, int group, bool allowAllUp) {
        for (int i = 0; i < count; ++i) {
            auto* button = new TSpeedButton(&parent);
            button->setGroupIndex(group);
            button->setAllowAllUp(allowAllUp);
            button->OnClick = [this, i] { clicks.push_back(i); };
            b.push_back(button);
        }
    }
    std::vector<bool> Downs() const {
        std::vector<bool> d;
        for (auto* x : b)
            d.push_back(x->Down());
        return d;
    }
};

TEST(SpeedButton, RequestButtonsAreExclusiveAndMayAllBeUp) {
    Group g(3, 1, true);
    g.b[0]->Click();
    EXPECT_EQ(g.Downs(), (std::vector<bool>{true, false, false}));
    g.b[2]->Click();
    EXPECT_EQ(g.Downs(), (std::vector<bool>{false, false, true}));
    g.b[2]->Click(); // a click on a down button withdraws the request
    EXPECT_EQ(g.Downs(), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(g.clicks, (std::vector<int>{0, 2, 2}));
    // Putting one down from code releases the others as well, events aside.
    g.b[1]->setDown(true);
    g.b[0]->setDown(true);
    EXPECT_EQ(g.Downs(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(g.clicks.size(), 3u);
    g.b[0]->setDown(false);
    EXPECT_EQ(g.Downs(), (std::vector<bool>{false, false, false}));
}

TEST(SpeedButton, TestButtonsBehaveAsRadioButtons) {
    Group g(3, 1, false);
    g.b[1]->setDown(true);
    g.b[1]->Click(); // stays down, and its click still runs
    EXPECT_EQ(g.Downs(), (std::vector<bool>{false, true, false}));
    g.b[1]->setDown(false); // refused: one of the group stays down
    EXPECT_TRUE(g.b[1]->Down());
    g.b[0]->Click();
    EXPECT_EQ(g.Downs(), (std::vector<bool>{true, false, false}));
    EXPECT_EQ(g.clicks, (std::vector<int>{1, 0}));
}

TEST(SpeedButton, GroupsAreSeparateByNumberAndByParent) {
    QWidget parent, elsewhere;
    TSpeedButton a(&parent), b(&parent), c(&elsewhere);
    a.setGroupIndex(2);
    b.setGroupIndex(3);
    c.setGroupIndex(2);
    for (TSpeedButton* x : {&a, &b, &c})
        x->setAllowAllUp(true);
    a.Click();
    b.Click();
    c.Click();
    EXPECT_TRUE(a.Down());
    EXPECT_TRUE(b.Down());
    EXPECT_TRUE(c.Down());
}

TEST(SpeedButton, PlainAndDisabledButtons) {
    QWidget parent;
    TSpeedButton plain(&parent);
    int clicks = 0;
    plain.OnClick = [&] { ++clicks; };
    plain.setDown(true);
    plain.Click();
    EXPECT_FALSE(plain.Down());
    EXPECT_EQ(clicks, 1);

    TSpeedButton toggle(&parent);
    toggle.setGroupIndex(5);
    toggle.setAllowAllUp(true);
    toggle.setEnabled(false);
    toggle.Click();
    EXPECT_FALSE(toggle.Down());
    toggle.setEnabled(true);
    parent.show();
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_TRUE(toggle.Down());
    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(toggle.Down());
    // Clearing the group of a down button puts it up.
    toggle.setDown(true);
    toggle.setGroupIndex(0);
    EXPECT_FALSE(toggle.Down());
}

TEST(RadioGroup, ItemIndexClampsAndReportsChanges) {
    TRadioGroup g;
    g.setItems({"a", "b", "c"});
    int clicks = 0;
    g.OnClick = [&] { ++clicks; };
    const struct {
        int set;
        int expected;
        int clicks;
    } rows[] = {
        {1, 1, 1}, {1, 1, 1}, {12, 2, 2}, {-5, -1, 3}, {-1, -1, 3}, {0, 0, 4},
    };
    for (const auto& r : rows) {
        g.setItemIndex(r.set);
        EXPECT_EQ(g.ItemIndex(), r.expected) << r.set;
        EXPECT_EQ(clicks, r.clicks) << r.set;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(g.Button(i)->isChecked(), i == r.expected) << r.set;
    }
}

TEST(RadioGroup, UserClicksSelectAndTheSelectedItemStays) {
    TRadioGroup g;
    g.resize(150, 100);
    g.setItems({"a", "b", "c"});
    g.setItemIndex(0);
    int clicks = 0;
    g.OnClick = [&] { ++clicks; };
    g.show();
    QTest::mouseClick(g.Button(2), Qt::LeftButton, {}, QPoint(6, g.Button(2)->height() / 2));
    EXPECT_EQ(g.ItemIndex(), 2);
    EXPECT_FALSE(g.Button(0)->isChecked());
    QTest::mouseClick(g.Button(2), Qt::LeftButton, {}, QPoint(6, g.Button(2)->height() / 2));
    EXPECT_EQ(g.ItemIndex(), 2);
    EXPECT_TRUE(g.Button(2)->isChecked());
    EXPECT_EQ(clicks, 1);
    // The arrow keys walk the items and stop at the ends.
    QTest::keyClick(g.Button(2), Qt::Key_Up);
    EXPECT_EQ(g.ItemIndex(), 1);
    QTest::keyClick(g.Button(1), Qt::Key_Left);
    QTest::keyClick(g.Button(0), Qt::Key_Up);
    EXPECT_EQ(g.ItemIndex(), 0);
    QTest::keyClick(g.Button(0), Qt::Key_Down);
    EXPECT_EQ(g.ItemIndex(), 1);
    EXPECT_EQ(clicks, 4);
    // New items keep a selection that still exists, and drop one that does not.
    g.setItems({"x", "y", "z", "w"});
    EXPECT_EQ(g.ItemIndex(), 1);
    g.setItems({"x"});
    EXPECT_EQ(g.ItemIndex(), -1);
}

// A layout gives the index before the items (which its translation sets):
// the index selects once they come, by the same rule, without a click.
TEST(RadioGroup, IndexGivenBeforeTheItems) {
    const struct {
        int index;
        int items;
        int expected;
    } rows[] = {{0, 3, 0}, {2, 3, 2}, {7, 3, 2}, {-3, 3, -1}, {1, 0, -1}};
    for (const auto& r : rows) {
        TRadioGroup g;
        int clicks = 0;
        g.OnClick = [&] { ++clicks; };
        g.setItemIndex(r.index);
        EXPECT_EQ(g.ItemIndex(), -1);
        QStringList items;
        for (int i = 0; i < r.items; ++i)
            items << QString::number(i);
        g.setItems(items);
        EXPECT_EQ(g.ItemIndex(), r.expected) << r.index;
        EXPECT_EQ(clicks, 0);
        // Later items keep what was selected then.
        g.setItems(items + QStringList{QStringLiteral("more")});
        EXPECT_EQ(g.ItemIndex(), r.expected) << r.index;
    }
}

} // namespace
