#pragma once
// Routes the keys typed into an edit through a key-press handler that may
// change the character, as the edits that take numbers need (a typed comma
// or full stop becomes the locale's decimal separator). Owned by the edit.
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QObject>

#include <functional>
#include <utility>

class TKeyPressFilter : public QObject {
public:
    using THandler = std::function<void(QChar& key)>;
    TKeyPressFilter(QLineEdit* edit, THandler handler) : QObject(edit), m_edit(edit), m_handler(std::move(handler)) {
        edit->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_edit || event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        if (text.size() != 1 || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        QChar c = text.at(0);
        m_handler(c);
        if (c == text.at(0))
            return false;
        if (!m_edit->isReadOnly())
            m_edit->insert(QString(c));
        return true;
    }

private:
    QLineEdit* m_edit;
    THandler m_handler;
};
