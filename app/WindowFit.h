#pragma once
// The main window on screens smaller than its layout. The layout places every
// control in pixels on a 1000 x 708 window; on a small or strongly scaled
// screen the window is made to fit the screen's available area (title bar
// included) and the controls scroll inside it, keeping their places and
// sizes relative to each other.
#include <QMargins>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>

class QScrollBar;
class QWidget;

namespace kv {

// The window's inner geometry for a client of `wanted` size on a screen
// whose available area is `available`, with the window manager's `frame`
// around it: as large as wanted or as the area allows, centred, and with the
// frame (the title bar first) wholly inside the area.
QRect FitWindow(QSize wanted, const QRect& available, const QMargins& frame);

// Scroll bars over a window whose children have fixed places: they show when
// the window is smaller than `content` and move the children, so that every
// part of the layout can be brought into view. Children keep their places
// while nothing is scrolled. The wheel scrolls too.
class TWindowScroller : public QObject {
public:
    TWindowScroller(QWidget* window, QSize content);
    QPoint Offset() const { return offset_; }
    QSize Content() const { return content_; }
    QScrollBar* Vertical() const { return vertical_; }
    QScrollBar* Horizontal() const { return horizontal_; }
    // Places the bars for the window's present size.
    void Relayout();
    // Brings the content point p (in unscrolled window coordinates) into view.
    void EnsureVisible(QPoint p);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ScrollTo(QPoint offset);

    QWidget* window_;
    QSize content_;
    QScrollBar* vertical_;
    QScrollBar* horizontal_;
    QPoint offset_;
};

} // namespace kv
