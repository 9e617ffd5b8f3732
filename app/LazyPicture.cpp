#include "LazyPicture.h"

#include "Pictures.h"
#include "SpeedButton.h"

#include <QEvent>
#include <QIcon>
#include <QLabel>

#include <functional>

namespace {

// Runs an action once, at the first show event of the watched widget.
class TOnFirstShow : public QObject {
public:
    TOnFirstShow(QWidget* watched, std::function<void()> action)
        : QObject(watched), m_action(std::move(action)) {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && m_action) {
            auto action = std::move(m_action);
            m_action = nullptr;
            watched->removeEventFilter(this);
            action();
        }
        return false;
    }

private:
    std::function<void()> m_action;
};

} // namespace

namespace kv {

void ShowPictureWhenShown(QLabel* label, const char* name) {
    if (!label || !name)
        return;
    new TOnFirstShow(label, [label, picture = QString::fromLatin1(name)] {
        label->setPixmap(Picture(picture));
    });
}

void ShowGlyphWhenShown(TSpeedButton* button, const char* name) {
    if (!button || !name)
        return;
    new TOnFirstShow(button, [button, picture = QString::fromLatin1(name)] {
        const QPixmap glyph = Picture(picture);
        if (glyph.isNull())
            return;
        button->setIcon(QIcon(glyph));
        button->setIconSize(button->size() - QSize(4, 4));
    });
}

} // namespace kv
