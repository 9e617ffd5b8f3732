#pragma once
// A file dialog of the window that is made on first use. Building a file
// dialog costs more than the rest of the window's start-up together, and most
// sessions never open one. Used like the dialog pointer it stands for:
// SaveDialog1->setDefaultSuffix(...).
#include <QFileDialog>
#include <QPointer>
#include <QString>

class TLazyFileDialog {
public:
    TLazyFileDialog(QWidget* owner, QString objectName, QFileDialog::AcceptMode mode)
        : m_owner(owner), m_objectName(std::move(objectName)), m_mode(mode) {}

    // The dialog, made now if it was not yet; the owner window frees it.
    QFileDialog* get() {
        if (!m_dialog) {
            m_dialog = new QFileDialog(m_owner);
            m_dialog->setObjectName(m_objectName);
            m_dialog->setAcceptMode(m_mode);
        }
        return m_dialog;
    }
    QFileDialog* operator->() { return get(); }
    bool Created() const { return !m_dialog.isNull(); }

private:
    QWidget* m_owner;
    QString m_objectName;
    QFileDialog::AcceptMode m_mode;
    QPointer<QFileDialog> m_dialog;
};
