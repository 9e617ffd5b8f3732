#include "AppStyle.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace kv {

void UseClassicLook(QApplication& application) {
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Windows")))
        application.setStyle(style); // the application takes it over
}

} // namespace kv
