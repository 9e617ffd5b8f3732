#include "CalibrationLog.h"

#include "WizardLog.h"

#include <QListWidget>

#include <algorithm>

namespace {

void SelectLast(QListWidget* list) {
    if (list->count() > 0)
        list->setCurrentRow(list->count() - 1);
}

} // namespace

void AddCalibrationLogLine(QListWidget* list, const QString& line, bool separator) {
    if (separator)
        list->addItem(QString::fromLatin1(kCalibrationLogSeparator));
    list->addItem(kv::LogLineText(line));
    SelectLast(list);
}

void RemoveCalibrationLogLines(QListWidget* list, int count) {
    for (int i = std::clamp(count, 0, 255); i > 0 && list->count() > 0; --i)
        delete list->takeItem(list->count() - 1);
    SelectLast(list);
}
