#pragma once
// TRadioGroup: a group box holding one radio button per item, in columns.
//
// ItemIndex is the selected item, -1 for none. Its setter clamps: a value at
// or above the number of items selects the last item, a negative value leaves
// no item selected. An index set while there are no items yet selects by the
// same rule once the items come (a layout sets the index before the items,
// which its translation gives). Whenever the selection changes, by the user or by the
// setter, OnClick runs; a click on the item already selected does nothing.
// The arrow keys move the selection to the previous or next item.
#include <QGroupBox>
#include <QStringList>

#include <functional>
#include <vector>

class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QStringList Items READ Items WRITE setItems)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE setItemIndex)
    Q_PROPERTY(int Columns READ Columns WRITE setColumns)

public:
    using TNotifyEvent = std::function<void()>;

    explicit TRadioGroup(QWidget* parent = nullptr);

    QStringList Items() const { return m_items; }
    void setItems(const QStringList& items); // keeps the index when it still exists

    int ItemIndex() const { return m_itemIndex; }
    void setItemIndex(int index);

    int Columns() const { return m_columns; }
    void setColumns(int columns); // 1 .. 16

    // The radio button of an item (for tests and key handling); null outside.
    QRadioButton* Button(int index) const;

    TNotifyEvent OnClick;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void ArrangeButtons();
    void ButtonClicked(int index);

    QStringList m_items;
    std::vector<QRadioButton*> m_buttons;
    int m_itemIndex = -1;
    int m_wantedIndex = -1; // set while there were no items
    int m_columns = 1;
};
