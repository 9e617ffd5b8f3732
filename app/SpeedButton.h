#pragma once
// TSpeedButton: a flat button that can stay down.
//
// GroupIndex 0 is a plain push button. Any other group number makes it a
// toggle button: a click puts it down, and buttons with the same parent and
// the same group number release each other, so at most one of them is down.
// AllowAllUp decides what a click on a down button does: with it the button
// goes up (the request it stands for is withdrawn); without it the button
// stays down, so its group behaves like radio buttons with exactly one down.
// The click event runs after the state has changed, and also for a click on
// a down button that stays down.
#include <QToolButton>

#include <functional>

class TSpeedButton : public QToolButton {
    Q_OBJECT
    Q_PROPERTY(int GroupIndex READ GroupIndex WRITE setGroupIndex)
    Q_PROPERTY(bool Down READ Down WRITE setDown)
    Q_PROPERTY(bool AllowAllUp READ AllowAllUp WRITE setAllowAllUp)

public:
    using TNotifyEvent = std::function<void()>;

    explicit TSpeedButton(QWidget* parent = nullptr);

    int GroupIndex() const { return m_groupIndex; }
    void setGroupIndex(int group); // negative is stored as 0

    bool Down() const { return isChecked(); }
    // Down := true releases the other buttons of the group. Down := false is
    // refused for a button whose group must keep one down (no AllowAllUp), and
    // a plain push button (group 0) is never down.
    void setDown(bool down);

    bool AllowAllUp() const { return m_allowAllUp; }
    void setAllowAllUp(bool allow) { m_allowAllUp = allow; }

    // A click as the user makes it: the state changes as above, then OnClick.
    // Nothing happens while the button is disabled.
    void Click() { click(); }

    TNotifyEvent OnClick;

protected:
    void nextCheckState() override;
    void paintEvent(QPaintEvent* event) override;

private:
    void ReleaseGroup();

    int m_groupIndex = 0;
    bool m_allowAllUp = false;
};
