#include "SpeedButton.h"

#include <QPainter>

TSpeedButton::TSpeedButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setCheckable(false);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (OnClick)
            OnClick();
    });
}

void TSpeedButton::setGroupIndex(int group) {
    m_groupIndex = group < 0 ? 0 : group;
    if (m_groupIndex == 0 && isChecked())
        QAbstractButton::setChecked(false);
    setCheckable(m_groupIndex != 0);
}

void TSpeedButton::setDown(bool down) {
    if (m_groupIndex == 0)
        down = false;
    if (down == isChecked())
        return;
    if (!down && !m_allowAllUp)
        return;
    setChecked(down);
    if (down)
        ReleaseGroup();
}

void TSpeedButton::ReleaseGroup() {
    QObject* owner = parent();
    if (!owner)
        return;
    for (QObject* child : owner->children()) {
        auto* other = qobject_cast<TSpeedButton*>(child);
        if (other && other != this && other->m_groupIndex == m_groupIndex && other->isChecked())
            other->setChecked(false); // the group's rule, whatever the other's AllowAllUp
    }
}

void TSpeedButton::nextCheckState() {
    if (m_groupIndex == 0)
        return;
    setDown(!isChecked());
}

// Flat, but with a faint outline while up, so that it still reads as a button.
void TSpeedButton::paintEvent(QPaintEvent* event) {
    QToolButton::paintEvent(event);
    if (isChecked() || isDown() || underMouse())
        return;
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
