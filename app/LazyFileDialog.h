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
    // A new dialog for one use: no file name or selection is left from the
    // last use, while its folder, history and view carry over. (A dialog
    // cannot be emptied: it ignores an empty name to select.)
    QFileDialog* Fresh() {
        QByteArray state;
        QString folder;
        if (m_dialog) {
            state = m_dialog->saveState();
            folder = m_dialog->directory().absolutePath();
            delete m_dialog.data();
        }
        QFileDialog* dialog = get();
        if (!state.isEmpty()) {
            dialog->restoreState(state);
            dialog->setDirectory(folder);
        }
        return dialog;
    }
    QFileDialog* operator->() { return get(); }
    bool Created() const { return !m_dialog.isNull(); }

private:
    QWidget* m_owner;
    QString m_objectName;
    QFileDialog::AcceptMode m_mode;
    QPointer<QFileDialog> m_dialog;
};
