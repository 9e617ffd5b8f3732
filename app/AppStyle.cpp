#include "AppStyle.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <qdrawutil.h>

namespace kv {

namespace {

// The classic style draws a tool button that is down as a fine dither of the
// face and white, hard to tell from one that is up; yet pending requests,
// maintenance actions and forced switches are nothing but buttons that are
// down. Here a down button is sunken (dark edges top and left, light ones
// bottom and right) on a face of its own colour.
class TClassicStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_PanelButtonTool && (option->state & (State_On | State_Sunken))) {
            QStyleOption o = *option;
            o.palette.setBrush(QPalette::Button, DownFace());
            qDrawWinPanel(painter, o.rect, o.palette, true, &o.palette.brush(QPalette::Button));
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

} // namespace

QColor DownFace() { return QColor(0xA6, 0xBF, 0xE0); }

QStyle* CreateClassicStyle() {
    return new TClassicStyle(QStyleFactory::create(QStringLiteral("Windows")));
}

void UseClassicLook(QApplication& application) {
    application.setStyle(CreateClassicStyle()); // the application takes it over
}

} // namespace kv
