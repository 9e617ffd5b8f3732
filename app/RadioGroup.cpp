#include "RadioGroup.h"

#include <QEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QRadioButton>

#include <algorithm>

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {}

void TRadioGroup::setItems(const QStringList& items) {
    for (QRadioButton* b : m_buttons)
        delete b;
    m_buttons.clear();
    m_items = items;
    for (int i = 0; i < m_items.size(); ++i) {
        auto* b = new QRadioButton(m_items[i], this);
        b->setObjectName(objectName() + QStringLiteral("_Item%1").arg(i));
        // The group decides the selection, so that "none selected" is possible.
        b->setAutoExclusive(false);
        connect(b, &QRadioButton::clicked, this, [this, i] { ButtonClicked(i); });
        b->installEventFilter(this);
        m_buttons.push_back(b);
    }
    // An index given while there were no items (a layout gives the index
    // before its translated items) selects by the same rule now.
    if (m_wantedIndex >= 0 && !m_buttons.empty())
        m_itemIndex = std::min(m_wantedIndex, static_cast<int>(m_buttons.size()) - 1);
    m_wantedIndex = -1;
    if (m_itemIndex >= static_cast<int>(m_buttons.size()))
        m_itemIndex = -1;
    for (int i = 0; i < static_cast<int>(m_buttons.size()); ++i)
        m_buttons[static_cast<std::size_t>(i)]->setChecked(i == m_itemIndex);
    ArrangeButtons();
    // Shown once placed: a button shown before it has a size measures its
    // text to size itself, only to be placed over at once (a third of the
    // settings page's build time).
    for (QRadioButton* b : m_buttons)
        b->show();
}

void TRadioGroup::setItemIndex(int index) {
    const int count = static_cast<int>(m_buttons.size());
    if (count == 0) {
        m_wantedIndex = index < 0 ? -1 : index;
        return;
    }
    index = std::min(index, count - 1);
    if (index < 0)
        index = -1;
    if (index == m_itemIndex)
        return;
    m_itemIndex = index;
    for (int i = 0; i < count; ++i)
        m_buttons[static_cast<std::size_t>(i)]->setChecked(i == m_itemIndex);
    if (OnClick)
        OnClick();
}

void TRadioGroup::setColumns(int columns) {
    m_columns = std::clamp(columns, 1, 16);
    ArrangeButtons();
}

QRadioButton* TRadioGroup::Button(int index) const {
    if (index < 0 || index >= static_cast<int>(m_buttons.size()))
        return nullptr;
    return m_buttons[static_cast<std::size_t>(index)];
}

void TRadioGroup::ButtonClicked(int index) {
    if (index == m_itemIndex) {
        // The selected item stays selected: a radio button is not a toggle.
        m_buttons[static_cast<std::size_t>(index)]->setChecked(true);
        return;
    }
    setItemIndex(index);
}

bool TRadioGroup::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() != QEvent::KeyPress)
        return QGroupBox::eventFilter(watched, e);
    const int key = static_cast<QKeyEvent*>(e)->key();
    int step = 0;
    if (key == Qt::Key_Up || key == Qt::Key_Left)
        step = -1;
    else if (key == Qt::Key_Down || key == Qt::Key_Right)
        step = 1;
    if (step == 0)
        return QGroupBox::eventFilter(watched, e);
    const auto it = std::find(m_buttons.begin(), m_buttons.end(), watched);
    if (it == m_buttons.end())
        return false;
    const int target = static_cast<int>(it - m_buttons.begin()) + step;
    if (target >= 0 && target < static_cast<int>(m_buttons.size())) {
        setItemIndex(target);
        m_buttons[static_cast<std::size_t>(target)]->setFocus(Qt::TabFocusReason);
    }
    return true;
}

void TRadioGroup::resizeEvent(QResizeEvent* e) {
    QGroupBox::resizeEvent(e);
    ArrangeButtons();
}

void TRadioGroup::changeEvent(QEvent* e) {
    QGroupBox::changeEvent(e);
    if (e->type() == QEvent::FontChange)
        ArrangeButtons();
}

// The items share the height under the caption evenly, column by column.
void TRadioGroup::ArrangeButtons() {
    const int count = static_cast<int>(m_buttons.size());
    if (count == 0)
        return;
    const int perColumn = (count + m_columns - 1) / m_columns;
    const int textHeight = QFontMetrics(font()).height();
    const int columnWidth = std::max(1, (width() - 10) / m_columns);
    const int free = std::max(0, height() - textHeight - 5);
    const int rowHeight = std::max(1, free / perColumn);
    const int top = textHeight + 1 + (free % perColumn) / 2;
    for (int i = 0; i < count; ++i) {
        const int left = (i / perColumn) * columnWidth + 8;
        m_buttons[static_cast<std::size_t>(i)]->setGeometry(left, (i % perColumn) * rowHeight + top,
                                                            columnWidth - 2, rowHeight);
    }
}
