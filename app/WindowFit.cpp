#include "WindowFit.h"

#include <QEvent>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>

namespace kv {

QRect FitWindow(QSize wanted, const QRect& available, const QMargins& frame) {
    const int w = std::max(1, std::min(wanted.width(), available.width() - frame.left() - frame.right()));
    const int h = std::max(1, std::min(wanted.height(), available.height() - frame.top() - frame.bottom()));
    const int outerW = w + frame.left() + frame.right();
    const int outerH = h + frame.top() + frame.bottom();
    // Centred; where the area is too small even so, its top left wins, so
    // that the title bar stays reachable.
    const int x = std::max(available.left(), available.left() + (available.width() - outerW) / 2);
    const int y = std::max(available.top(), available.top() + (available.height() - outerH) / 2);
    return QRect(x + frame.left(), y + frame.top(), w, h);
}

TWindowScroller::TWindowScroller(QWidget* window, QSize content)
    : QObject(window), window_(window), content_(content),
      vertical_(new QScrollBar(Qt::Vertical, window)), horizontal_(new QScrollBar(Qt::Horizontal, window)) {
    vertical_->setObjectName(QStringLiteral("WindowScrollVertical"));
    horizontal_->setObjectName(QStringLiteral("WindowScrollHorizontal"));
    vertical_->hide();
    horizontal_->hide();
    connect(vertical_, &QScrollBar::valueChanged, this, [this](int v) { ScrollTo(QPoint(offset_.x(), v)); });
    connect(horizontal_, &QScrollBar::valueChanged, this, [this](int v) { ScrollTo(QPoint(v, offset_.y())); });
    window->installEventFilter(this);
    Relayout();
}

bool TWindowScroller::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        if (event->type() == QEvent::Resize)
            Relayout();
        else if (event->type() == QEvent::Wheel && vertical_->isVisible()) {
            // A wheel turn no control took scrolls the window.
            auto* wheel = static_cast<QWheelEvent*>(event);
            vertical_->setValue(vertical_->value() - wheel->angleDelta().y() / 2);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TWindowScroller::Relayout() {
    const int extent = window_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, window_);
    const QSize size = window_->size();
    // Each bar takes room from the other direction.
    bool needV = size.height() < content_.height();
    bool needH = size.width() < content_.width();
    needV = needV || (needH && size.height() - extent < content_.height());
    needH = needH || (needV && size.width() - extent < content_.width());
    const int viewW = size.width() - (needV ? extent : 0);
    const int viewH = size.height() - (needH ? extent : 0);
    vertical_->setRange(0, needV ? content_.height() - viewH : 0);
    vertical_->setPageStep(std::max(1, viewH));
    vertical_->setSingleStep(20);
    horizontal_->setRange(0, needH ? content_.width() - viewW : 0);
    horizontal_->setPageStep(std::max(1, viewW));
    horizontal_->setSingleStep(20);
    vertical_->setGeometry(viewW, 0, extent, viewH);
    horizontal_->setGeometry(0, viewH, viewW, extent);
    vertical_->setVisible(needV);
    horizontal_->setVisible(needH);
    vertical_->raise();
    horizontal_->raise();
    ScrollTo(QPoint(horizontal_->value(), vertical_->value()));
}

void TWindowScroller::ScrollTo(QPoint offset) {
    const QPoint delta = offset - offset_;
    if (delta.isNull())
        return;
    offset_ = offset;
    for (QObject* child : window_->children()) {
        auto* w = qobject_cast<QWidget*>(child);
        if (!w || w->isWindow() || w == vertical_ || w == horizontal_)
            continue;
        w->move(w->pos() - delta);
    }
}

void TWindowScroller::EnsureVisible(QPoint p) {
    const int viewW = horizontal_->pageStep(), viewH = vertical_->pageStep();
    if (p.y() < vertical_->value())
        vertical_->setValue(p.y());
    else if (p.y() >= vertical_->value() + viewH)
        vertical_->setValue(p.y() - viewH + 1);
    if (p.x() < horizontal_->value())
        horizontal_->setValue(p.x());
    else if (p.x() >= horizontal_->value() + viewW)
        horizontal_->setValue(p.x() - viewW + 1);
}

} // namespace kv
