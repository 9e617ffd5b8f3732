#pragma once
// Whether a control's caption fits it in the control's own font: nothing
// cut off. The rule of the layout tests, for the window in either language.
#include <QAbstractButton>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>

#include <optional>
#include <string>

namespace apptest {

// The caption a fit is checked for: a label's text (one line), a button's,
// a group box's title; empty for anything else.
inline QString FittedCaption(const QWidget* w) {
    if (auto* l = qobject_cast<const QLabel*>(w))
        return l->wordWrap() ? QString() : l->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return g->title();
    return {};
}

// Why the caption does not fit; none when it fits or there is none.
inline std::optional<std::string> Clipped(const QWidget* w) {
    const QString caption = FittedCaption(w);
    if (caption.isEmpty())
        return std::nullopt;
    const QFontMetrics fm(w->font());
    int need = fm.horizontalAdvance(caption), room = 0;
    if (auto* l = qobject_cast<const QLabel*>(w)) {
        room = l->contentsRect().width();
        if (fm.height() > l->height() + 1)
            return w->objectName().toStdString() + ": \"" + caption.toStdString() + "\" is taller than the label";
    } else if (qobject_cast<const QRadioButton*>(w) || w->inherits("QCheckBox")) {
        need = w->sizeHint().width();
        room = w->width();
    } else if (qobject_cast<const QAbstractButton*>(w)) {
        // Inside a 2-pixel frame on each side, and a pixel of air for the
        // flat buttons' own margin.
        need += w->inherits("QPushButton") ? 4 : 6;
        room = w->width();
    } else {
        need += 10; // a group box's title between its frame's ends
        room = w->width();
    }
    if (need <= room)
        return std::nullopt;
    return w->objectName().toStdString() + ": \"" + caption.toStdString() + "\" needs " + std::to_string(need) +
           " pixels, has " + std::to_string(room);
}

} // namespace apptest
